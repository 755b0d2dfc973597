// The server's own life beside the scanner's: it listens at once while another
// program has the scanner and takes the model when it can; one started while
// the carriage returns waits for it, then answers and takes a job; an unplugged scanner is
// Down, and one lost in a scan ends the job ServiceOffLine; SIGTERM in the
// middle of a first calibration ends the server at once.
#include <signal.h>

#include <chrono>

#include "device_lock.h"
#include "escl_jobs.h"

namespace qrx::test {
namespace {

using namespace std::chrono_literals;

class ScannerState : public EsclJobTest {
 protected:
  std::string page_title() {
    std::string body;
    if (request("GET", "/", body) != 200) return "(no page)";
    const size_t at = body.find("<title>");
    return at == std::string::npos ? "(no title)"
                                   : body.substr(at + 7, body.find("</title>") - at - 7);
  }
  // Runs the emulator daemon again on the same socket (a scanner plugged in).
  void restart_daemon(int speed) {
    daemon_->kill_now(SIGTERM);
    daemon_->wait(kWaitMs);
    std::remove((dir.path() + "/scanner.sock").c_str());
    start_daemon(speed);
  }
};

TEST_F(ScannerState, ListensWhileAnotherProgramHasTheScannerAndTakesItsModelAfter) {
  start_daemon();
  std::unique_ptr<sane::DeviceLock> other = sane::DeviceLock::try_take(device_);
  ASSERT_NE(other, nullptr);
  const auto start = std::chrono::steady_clock::now();
  start_server();
  EXPECT_LT(seconds_since(start), 5.0) << "the server did not listen at once";
  std::string body;
  EXPECT_EQ(scanner_state(), "Down");
  EXPECT_EQ(request("GET", "/eSCL/ScannerCapabilities", body), 503);
  // The other program lets go: the model is read, and the name takes it.
  other.reset();
  EXPECT_TRUE(within(20, [&] { return page_title().find("QUARN RV-70413K on ") == 0; }))
      << page_title();
  EXPECT_EQ(request("GET", "/eSCL/ScannerCapabilities", body), 200);
  EXPECT_NE(body.find("QUARN RV-70413K"), std::string::npos);
  EXPECT_EQ(scanner_state(), "Idle");
}

TEST_F(ScannerState, AServerStartedWhileTheCarriageReturnsAnswersCapabilitiesAndTakesAJob) {
  // The calibration is made once on a fast scanner; then a slower one (the same
  // calibration, kept in the test's directory) leaves its carriage on a long
  // way home from the bottom of the glass.
  start_daemon(50);
  start_server();
  int status = 0;
  std::string body;
  std::string job = post_job(settings(75, "RGB24", "image/png", 150, 150), &status);
  ASSERT_EQ(status, 201);
  ASSERT_TRUE(wait_progress(job, "\"state\":\"Completed\""));
  stop_server();
  restart_daemon(25);
  start_server();
  std::string far = settings(75, "RGB24", "image/png", 150, 150);
  far.replace(far.find("<pwg:YOffset>0</pwg:YOffset>"), 28, "<pwg:YOffset>3300</pwg:YOffset>");
  job = post_job(far, &status);
  ASSERT_EQ(status, 201);
  ASSERT_EQ(curl({"-o", "/dev/null", "--retry", "100", "--retry-delay", "1", "-w", "%{http_code}\n",
                  base_ + job + "/NextDocument"})
                .out,
            "200\n");
  // A new server starts at once (as at a restart, while the old one still
  // ends): the carriage is still on its way home.
  std::unique_ptr<ChildProcess> old_server = std::move(server_);
  start_server();
  EXPECT_EQ(request("GET", "/eSCL/ScannerCapabilities", body), 200) << body;
  job = post_job(settings(75, "RGB24", "image/png", 150, 150), &status);
  EXPECT_EQ(status, 201);
  if (status == 201) {
    EXPECT_TRUE(wait_progress(job, "\"state\":\"Completed\""));
  }
  old_server->kill_now(SIGTERM);
  EXPECT_EQ(old_server->wait(kWaitMs), 0);
}

TEST_F(ScannerState, AnUnpluggedScannerIsDownUntilItIsBack) {
  start_daemon();
  start_server();
  EXPECT_EQ(scanner_state(), "Idle");
  daemon_->kill_now(SIGTERM);
  daemon_->wait(kWaitMs);
  int status = 0;
  EXPECT_TRUE(post_job(settings(75), &status).empty());
  EXPECT_EQ(status, 503);
  EXPECT_EQ(job_end(""), std::make_pair(std::string("Aborted"), std::string("ServiceOffLine")));
  EXPECT_EQ(scanner_state(), "Down");
  // Plugged in again: seen within the server's next look (every 10 s).
  std::remove((dir.path() + "/scanner.sock").c_str());
  start_daemon();
  EXPECT_TRUE(within(25, [&] { return scanner_state() == "Idle"; }));
  const std::string job = post_job(settings(75, "RGB24", "image/png", 150, 150), &status);
  EXPECT_EQ(status, 201);
}

TEST_F(ScannerState, SigtermDuringAFirstCalibrationEndsTheServerAtOnce) {
  start_daemon();
  start_server();
  int status = 0;
  const std::string job = post_job(settings(75, "RGB24", "image/png", 150, 150), &status);
  ASSERT_EQ(status, 201);
  ASSERT_TRUE(wait_progress(job, "\"phase\":2"));  // calibrating
  // A client waits for the document meanwhile.
  ChildProcess waiting({"/usr/bin/curl", "-s", "-o", "/dev/null", base_ + job + "/NextDocument"});
  std::this_thread::sleep_for(1s);
  ASSERT_TRUE(wait_progress(job, "\"phase\":2"));
  const auto start = std::chrono::steady_clock::now();
  server_->kill_now(SIGTERM);
  EXPECT_EQ(server_->wait(kWaitMs), 0);
  // Within 2 s of real time when the machine is not loaded; the bound leaves
  // room for a loaded one (it waited for the calibration, 13 s here, before).
  EXPECT_LT(seconds_since(start), 5.0);
  server_.reset();
  waiting.wait(kWaitMs);
}

}  // namespace
}  // namespace qrx::test
