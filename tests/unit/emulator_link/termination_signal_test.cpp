// wait_for_termination_signal: returns on SIGTERM or SIGINT and then gives the
// signal back its previous disposition.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/local_socket.h"

namespace qrx {
namespace {

bool handler_installed(int signal) {
  struct sigaction current {};
  sigaction(signal, nullptr, &current);
  return current.sa_handler != SIG_DFL;
}

TEST(TerminationSignal, WaitEndsOnEitherSignalAndRestoresTheDefault) {
  for (int signal : {SIGTERM, SIGINT}) {
    ASSERT_FALSE(handler_installed(signal));
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
      platform::wait_for_termination_signal();
      returned = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!handler_installed(signal) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(handler_installed(signal)) << signal;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(returned.load()) << "the wait returned before any signal";
    raise(signal);  // would end the test process if the wait had not caught it
    waiter.join();
    EXPECT_TRUE(returned.load());
    EXPECT_FALSE(handler_installed(signal)) << signal;
  }
}

}  // namespace
}  // namespace qrx
