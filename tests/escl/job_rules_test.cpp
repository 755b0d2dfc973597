// The rules a job keeps with other clients: a document scanned but not fetched
// keeps the scanner for its own client; a DELETE after the document was sent
// leaves the job Completed; a job that found the scanner in use says why; and a
// body announced too large is refused from the headers alone.
#include <chrono>

#include "device_lock.h"
#include "escl_jobs.h"

namespace qrx::test {
namespace {

using namespace std::chrono_literals;

class JobRules : public EsclJobTest {};

TEST_F(JobRules, AnUnfetchedDocumentKeepsTheScannerAndADeleteAfterItLeavesTheJobCompleted) {
  start_daemon();
  start_server();
  int status = 0;
  const std::string job = post_job(settings(75, "RGB24", "image/png", 150, 150), &status);
  ASSERT_EQ(status, 201);
  // The scan ends with nobody fetching it: the document waits for its client.
  ASSERT_TRUE(wait_progress(job, "\"state\":\"Completed\""));
  EXPECT_EQ(scanner_state(), "Processing");
  // Another client is told the scanner is busy, as long as the document waits.
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(post_job(settings(75), &status).empty());
    EXPECT_EQ(status, 503);
  }
  const std::string png = dir.path() + "/first.png";
  const ProgramRun fetch = curl({"-o", png, "-w", "%{http_code}\n", base_ + job + "/NextDocument"});
  EXPECT_EQ(fetch.out, "200\n");
  const ReadImage image = read_png(png);
  ASSERT_TRUE(image.ok) << image.error;
  EXPECT_NEAR(image.width, 37.5, 0.5);  // 150/300 inch at 75 dpi
  // The client's DELETE after the document came changes nothing of its end.
  std::string body;
  request("DELETE", job, body);
  EXPECT_EQ(job_state(job),
            std::make_pair(std::string("Completed"), std::string("JobCompletedSuccessfully")));
  EXPECT_EQ(request("GET", job + "/NextDocument", body), 404);
  // The scanner is the other client's now.
  const std::string next = post_job(settings(75, "RGB24", "image/png", 150, 150), &status);
  EXPECT_EQ(status, 201);
  EXPECT_FALSE(next.empty());
  EXPECT_EQ(job_state(job),
            std::make_pair(std::string("Completed"), std::string("JobCompletedSuccessfully")));
}

TEST_F(JobRules, AJobThatFindsTheScannerInUseSaysResourcesAreNotReady) {
  start_daemon();
  start_server();
  std::unique_ptr<sane::DeviceLock> other = sane::DeviceLock::try_take(device_);
  ASSERT_NE(other, nullptr);
  int status = 0;
  EXPECT_TRUE(post_job(settings(75), &status).empty());
  EXPECT_EQ(status, 503);
  EXPECT_EQ(job_end(""), std::make_pair(std::string("Aborted"),
                                        std::string("ResourcesAreNotReady")));
}

TEST_F(JobRules, ABodyAnnouncedTooLargeIsRefusedFromItsHeaders) {
  start_daemon();
  start_server();
  const std::string host = base_.substr(base_.find("//") + 2);
  const std::string address = host.substr(0, host.rfind(':'));
  const std::string port = host.substr(host.rfind(':') + 1);
  // 100 KiB announced, nothing sent: the answer comes at once, not after the
  // connection's idle time-out (30 s).
  const auto start = std::chrono::steady_clock::now();
  const ProgramRun run = run_program(
      {"/bin/bash", "-c",
       "exec 3<>/dev/tcp/" + address + "/" + port +
           " || exit 1; printf 'POST /eSCL/ScanJobs HTTP/1.1\\r\\nHost: " + host +
           "\\r\\nContent-Type: text/xml\\r\\nContent-Length: 102400\\r\\n\\r\\n' >&3; "
           "timeout 10 head -c 12 <&3; echo"},
      {}, dir.path() + "/raw.err", kWaitMs);
  EXPECT_EQ(run.out, "HTTP/1.1 413\n");
  EXPECT_LT(seconds_since(start), 8.0);
}

}  // namespace
}  // namespace qrx::test
