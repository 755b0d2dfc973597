// One scan after StartScanEx: a thread of its own waits for the scan proper to
// start (GetCalibrationStatus until no calibration runs, saying on the debug
// output how long the scanner has been calibrating), reads the image line by line
// with ReadScan as the scanner delivers it, converts it for the front end
// (line_convert.h) and hands it on through a local socket whose reading end is
// the front end's select fd; at the end, or when cancelled, it stops the scan
// with StopScanEx, so that the scanner is free again when the front end sees the
// end of the data.
//
// sane_read takes what the socket holds (blocking, or not when the front end
// asked for non-blocking reads). cancel() may come from another thread or from a
// signal handler (scanimage cancels from its SIGINT handler): it raises a flag and
// waits until the thread has ended, which looks at the flag between lines and
// while it waits, and takes no lock the interrupted code could hold. The thread
// is joined by the job's owner alone (read() at the end of the data, or the
// destructor), exactly once: a cancel never joins, so that it can come at any
// point of a read or of the next start.
#pragma once

#include <sane/sane.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "line_convert.h"

namespace qrx::sane {

class ScanJob {
 public:
  struct Plan {
    uint32_t lines = 0;                        // as GetDataStatus announced
    std::shared_ptr<LineConverter> converter;  // its input: a line as GetDataStatus announced
  };

  // Starts the thread for a scan StartScanEx has started. On failure the scan is
  // stopped (StopScanEx) and the status says why.
  static SANE_Status start(const Plan& plan, std::unique_ptr<ScanJob>& job);
  // Cancels the scan if it still runs and waits for the thread.
  ~ScanJob();
  ScanJob(const ScanJob&) = delete;
  ScanJob& operator=(const ScanJob&) = delete;

  // sane_read: image bytes as they come; SANE_STATUS_EOF once all were read and
  // the scan stopped cleanly; the failure's status when the scan failed;
  // SANE_STATUS_CANCELLED after cancel(). A read of at most 0 bytes returns at
  // once with none.
  SANE_Status read(SANE_Byte* data, SANE_Int max_length, SANE_Int* length);
  // sane_cancel: stops the scan at whatever point it is and waits until it has.
  // Safe from any thread and from a signal handler, concurrently with the
  // owner's calls; the job must outlive the call.
  void cancel();
  SANE_Status set_io_mode(bool non_blocking);
  int select_fd() const { return read_end_; }
  // The thread has ended (the scan is stopped).
  bool finished() const { return finished_.load(std::memory_order_acquire); }

 private:
  explicit ScanJob(const Plan& plan) : plan_(plan) {}
  void run();
  // Hands a line on; false when cancelled or the reading end is gone.
  bool hand_on(const uint8_t* data, size_t size);
  void fail(const char* call);
  // The owner's join, once the thread has been told or has come to the end.
  void join_thread();

  const Plan plan_;
  int read_end_ = -1;
  int write_end_ = -1;
  std::thread thread_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> finished_{false};
  // Written by the thread before it sets finished_.
  uint16_t failure_ = 0;
  const char* failed_call_ = nullptr;
  bool abandoned_ = false;  // ended early: cancelled, or the reading end went away
};

}  // namespace qrx::sane
