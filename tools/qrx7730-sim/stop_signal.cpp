// The daemon's stop request: a flag that the signal handler sets and the main
// thread watches (see stop_signal.h).
#include "stop_signal.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

namespace qrx::sim {
namespace {

// Setting a lock-free atomic is one of the few things a signal handler may do.
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> g_stop_signal{0};

extern "C" void on_stop_signal(int signal) {
  g_stop_signal.store(signal);
}

}  // namespace

void catch_stop_signals() {
  std::signal(SIGINT, on_stop_signal);
  std::signal(SIGTERM, on_stop_signal);
}

void wait_for_stop_signal() {
  // A short real-time poll: the handler can do no more than set the flag, and a
  // stop that takes a few milliseconds longer costs nothing.
  while (g_stop_signal.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

}  // namespace qrx::sim
