// What clients are told when the scanner is not to be had or fails: a scanner a
// SANE front end holds is busy (503) until the front end lets it go; a scanner
// that fails while it gets ready, and one whose connection is lost in the middle
// of the image, end their jobs Aborted with the reason, the image request gets
// its answer instead of hanging, and the server goes on.
#include <signal.h>

#include <chrono>
#include <thread>

#include "device_lock.h"
#include "escl_server.h"

namespace qrx::test {
namespace {

using namespace std::chrono_literals;

class Failures : public EsclServerTest {
 protected:
  // The first job's state and reason in the status, once it has ended.
  std::pair<std::string, std::string> ended_job() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    std::string body;
    while (std::chrono::steady_clock::now() < deadline) {
      request("GET", "/eSCL/ScannerStatus", body);
      const size_t state = body.find("<pwg:JobState>");
      const size_t reason = body.find("<pwg:JobStateReason>");
      if (state != std::string::npos && reason != std::string::npos) {
        const std::string s = body.substr(state + 14, body.find('<', state + 14) - state - 14);
        const std::string r = body.substr(reason + 20, body.find('<', reason + 20) - reason - 20);
        if (s != "Processing" && s != "Pending") return {s, r};
      }
      std::this_thread::sleep_for(100ms);
    }
    return {"(still running)", body};
  }
};

TEST_F(Failures, AScannerASaneFrontEndHoldsIsBusyUntilItLetsGo) {
  start_daemon();
  start_server();
  std::unique_ptr<sane::DeviceLock> front_end = sane::DeviceLock::try_take(device_);
  ASSERT_NE(front_end, nullptr);
  int status = 0;
  EXPECT_TRUE(post_job(settings(75), &status).empty());
  EXPECT_EQ(status, 503);
  front_end.reset();
  const std::string job = post_job(settings(75, "RGB24", "image/png"), &status);
  EXPECT_EQ(status, 201);
  // While the server's job has the scanner, a front end finds it held.
  EXPECT_EQ(sane::DeviceLock::try_take(device_), nullptr);
  std::string body;
  for (int i = 0; i < 600 && request("GET", job + "/NextDocument", body) == 503; ++i) {
  }
  EXPECT_EQ(ended_job(),
            std::make_pair(std::string("Completed"), std::string("JobCompletedSuccessfully")));
}

TEST_F(Failures, AScannerThatFailsWhileGettingReadyAbortsTheJob) {
  // An emulated scanner inside the server without the reference mark: the
  // search for the scan origin fails.
  device_ = "sim:#escl-no-mark-" + std::to_string(getpid());
  const std::string url = start_server_with_environment({"QRX7730_SIM=mark=none,speed=50"});
  ASSERT_FALSE(url.empty());
  int status = 0;
  const std::string job = post_job(settings(75), &status);
  ASSERT_EQ(status, 201);
  std::string body;
  int code = 503;
  for (int i = 0; i < 600 && code == 503; ++i) code = request("GET", job + "/NextDocument", body);
  EXPECT_EQ(code, 500) << body;
  EXPECT_EQ(ended_job(), std::make_pair(std::string("Aborted"), std::string("AbortedBySystem")));
  EXPECT_EQ(request("GET", "/eSCL/ScannerCapabilities", body), 200);
}

TEST_F(Failures, AScannerLostInTheMiddleOfTheImageAbortsTheJobWithoutAHang) {
  start_daemon(20);
  start_server();
  int status = 0;
  const std::string job = post_job(settings(300, "RGB24", "image/jpeg", 2552, 3508), &status);
  ASSERT_EQ(status, 201);
  const std::string partial = dir.path() + "/partial.jpg";
  ChildProcess reader({"/usr/bin/curl", "-s", "--retry", "100", "--retry-delay", "1", "-o", partial,
                       base_ + job + "/NextDocument"});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (read(partial).size() < 20000 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_GE(read(partial).size(), 20000u);
  // The scanner goes away (the emulator daemon ends, as a scanner unplugged).
  daemon_->kill_now(SIGKILL);
  daemon_->wait(kWaitMs);
  // The image ends short (curl fails) and the job is aborted.
  EXPECT_NE(reader.wait(kWaitMs), 0);
  // The job says the scanner went off line, and the scanner is Down.
  EXPECT_EQ(ended_job(), std::make_pair(std::string("Aborted"), std::string("ServiceOffLine")));
  std::string body;
  EXPECT_EQ(request("GET", "/eSCL/ScannerStatus", body), 200);
  EXPECT_NE(body.find("<pwg:State>Down</pwg:State>"), std::string::npos) << body;
}

}  // namespace
}  // namespace qrx::test
