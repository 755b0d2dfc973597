// One scan job: a thread that takes the scanner, scans the region the client
// asked for with the library's exported calls, and encodes the lines into the
// job's pipe as they arrive; then stops the scan (the carriage returns) and lets
// the scanner go. The scanner is opened for the job alone, so that other
// programs on the machine can use it between jobs.
//
//   hold, FindScannerEx, InitializeScanner, SetLamp(flatbed) and GetLampStatus
//   until ready, SetScanParameter, GetDataStatus, StartScanEx,
//   GetCalibrationStatus until 0, ReadScan line by line, StopScanEx,
//   TerminateScanner, release.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "byte_pipe.h"
#include "job_reasons.h"
#include "scan_settings.h"

namespace qrx::escl {

struct JobTiming {
  // A client that neither asks for the document nor reads it for this long is
  // taken to be gone: the job is cancelled and the scanner freed.
  std::chrono::milliseconds client_gone{60000};
  // Encoded bytes the job keeps for a client that reads slower than the scanner.
  size_t pipe_capacity = 1 << 20;
};

// The library's status for a scanner that cannot be opened at all.
inline constexpr uint16_t kScannerGoneStatus = 0x0101;

class ScanJob {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Phase { kOpening, kPreparing, kCalibrating, kScanning, kEnded };

  ScanJob(std::string id, const ScanSettings& settings, const ScannerModel& model,
          std::string device, const JobTiming& timing);
  ~ScanJob();
  ScanJob(const ScanJob&) = delete;
  ScanJob& operator=(const ScanJob&) = delete;

  bool start();
  // Waits until the scanner is open (true) or could not be had (false).
  bool wait_opened();
  // Asks the job to end; the thread stops the scan and frees the scanner. A
  // document scanned to its end but not fetched is dropped.
  void cancel(JobEnd why);
  // Waits up to timeout for the thread to have let the scanner go.
  bool wait_released(std::chrono::milliseconds timeout);
  bool released() const { return released_; }

  // A client asked about the job's document: it is still there.
  void touch();
  Clock::time_point last_contact() const;
  // Waits up to timeout for the first encoded bytes or the job's end.
  void wait_for_image(std::chrono::milliseconds timeout);

  const std::string& id() const { return id_; }
  const ScanSettings& settings() const { return settings_; }
  BytePipe& pipe() { return pipe_; }
  Phase phase() const { return phase_; }
  JobEnd end() const { return end_; }
  uint16_t failure_status() const { return failure_status_; }
  // The job failed because the scanner is gone (unplugged or powered off).
  bool scanner_gone() const {
    return end_ == JobEnd::kFailed && failure_status_ == kScannerGoneStatus;
  }
  // True the first time only: the service takes note of a lost scanner once.
  bool take_gone_note() { return !gone_noted_.exchange(true); }
  JobOutcome outcome() const;
  Clock::time_point created() const { return created_; }
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }
  uint32_t line_bytes() const { return line_bytes_; }
  uint32_t lines_read() const { return lines_read_; }

  // The document was sent to the end (NextDocument then answers 404).
  void mark_delivered() { delivered_ = true; }
  bool delivered() const { return delivered_; }
  // One client streams the document at a time.
  bool claim_stream() { return !streaming_.exchange(true); }
  void release_stream() { streaming_ = false; }
  bool streaming() const { return streaming_; }

 private:
  void run();
  bool scan(std::string& error);
  bool open_scanner();
  bool prepare();
  bool library_failed(const char* call);
  void set_phase(Phase phase);
  void finish(JobEnd end);

  const std::string id_;
  const ScanSettings settings_;
  const ScannerModel model_;
  const std::string device_;
  const JobTiming timing_;
  const Clock::time_point created_ = Clock::now();
  BytePipe pipe_;
  std::thread thread_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Clock::time_point last_contact_ = created_;
  bool open_decided_ = false, opened_ = false;

  std::atomic<Phase> phase_{Phase::kOpening};
  std::atomic<JobEnd> end_{JobEnd::kNone};
  std::atomic<JobEnd> cancel_{JobEnd::kNone};
  std::atomic<uint16_t> failure_status_{0};
  std::atomic<uint32_t> width_{0}, height_{0}, line_bytes_{0}, lines_read_{0};
  std::atomic<bool> delivered_{false}, streaming_{false}, released_{false};
  std::atomic<bool> gone_noted_{false};
};

}  // namespace qrx::escl
