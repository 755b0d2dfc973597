// The scan thread and the data socket (see scan_job.h).
#include "scan_job.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "debug_log.h"
#include "qrx7730.h"
#include "status_map.h"

namespace qrx::sane {
namespace {

// GetCalibrationStatus's status byte while the background calibration runs.
constexpr uint8_t kCalibrating = 2;
constexpr int kCalibrationPollMs = 100;
// How often the debug output says the calibration still runs.
constexpr double kCalibrationNoticeSeconds = 5.0;
// How long a blocked hand-over waits before it looks at the cancel flag again.
constexpr int kHandOverPollMs = 100;

void sleep_ms(long ms) {
  // nanosleep, not a C++ sleep: cancel() may run in a signal handler.
  timespec time{ms / 1000, (ms % 1000) * 1000000};
  while (nanosleep(&time, &time) != 0 && errno == EINTR) {
  }
}

}  // namespace

SANE_Status ScanJob::start(const Plan& plan, std::unique_ptr<ScanJob>& job) {
  std::unique_ptr<ScanJob> made(new ScanJob(plan));
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    debug(kLogError, "no socket for the image data: %s", std::strerror(errno));
    StopScanEx(nullptr, nullptr);
    return SANE_STATUS_NO_MEM;
  }
  made->read_end_ = ends[0];
  made->write_end_ = ends[1];
  // The thread takes no signals: they go to the front end's own threads.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  try {
    made->thread_ = std::thread(&ScanJob::run, made.get());
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    debug(kLogError, "no thread for the scan");
    StopScanEx(nullptr, nullptr);
    made->finished_ = true;
    return SANE_STATUS_NO_MEM;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  job = std::move(made);
  return SANE_STATUS_GOOD;
}

ScanJob::~ScanJob() {
  cancel();
  join_thread();
  if (read_end_ >= 0) close(read_end_);
}

void ScanJob::fail(const char* call) {
  if (failed_call_ != nullptr) return;  // the first failure is the one reported
  GetScannerStatus(nullptr, &failure_);
  failed_call_ = call;
  if (failure_ == QRX_OK) failure_ = 0xFFFF;  // a failure that left no status behind
}

bool ScanJob::hand_on(const uint8_t* data, size_t size) {
  while (size > 0) {
    if (cancel_.load(std::memory_order_relaxed)) return false;
    const ssize_t sent = send(write_end_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      data += sent;
      size -= static_cast<size_t>(sent);
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd wait{write_end_, POLLOUT, 0};
      poll(&wait, 1, kHandOverPollMs);
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else {
      debug(kLogInfo, "the image data are no longer read: %s", std::strerror(errno));
      return false;
    }
  }
  return true;
}

void ScanJob::run() {
  bool reading = true;
  const double started = monotonic_seconds();
  double noticed = -1;  // when the debug output last said the scanner calibrates
  // The scan proper starts once no background calibration runs.
  for (;;) {
    if (cancel_) {
      reading = false;
      abandoned_ = true;
      break;
    }
    uint8_t status = 0;
    debug(kLogDetail, "GetCalibrationStatus");
    if (!GetCalibrationStatus(nullptr, &status)) {
      fail("GetCalibrationStatus");
      reading = false;
      break;
    }
    const double waited = monotonic_seconds() - started;
    if (status != kCalibrating) {
      if (noticed >= 0) debug(kLogInfo, "the scanner has calibrated (%.1f s)", waited);
      break;
    }
    if (noticed < 0) {
      // The library says that it calibrates, not which resolution it is at.
      debug(kLogInfo,
            "waiting for the scanner to calibrate: it calibrates by itself when it has no "
            "calibration stored for a resolution, and after every 1000 scans");
      noticed = waited;
    } else if (waited - noticed >= kCalibrationNoticeSeconds) {
      debug(kLogInfo, "the scanner is still calibrating (%.0f s so far)", waited);
      noticed = waited;
    }
    sleep_ms(kCalibrationPollMs);
  }
  if (reading) {
    LineConverter& converter = *plan_.converter;
    const uint32_t line_bytes = converter.input_bytes();
    debug(kLogInfo, "reading %u lines of %u bytes", plan_.lines, line_bytes);
    std::vector<uint8_t> line(line_bytes);
    for (uint32_t row = 0; row < plan_.lines; ++row) {
      if (cancel_) {
        abandoned_ = true;
        break;
      }
      if (!ReadScan(nullptr, nullptr, line.data(), line_bytes)) {
        fail("ReadScan");
        break;
      }
      if (row == 0) debug(kLogInfo, "first line after %.1f s", monotonic_seconds() - started);
      const uint8_t* converted = converter.convert(line.data());
      if (!hand_on(converted, converter.output_bytes())) {
        abandoned_ = true;
        break;
      }
      debug(kLogDetail, "line %u handed on", row + 1);
    }
  }
  debug(kLogCall, "StopScanEx");
  if (!StopScanEx(nullptr, nullptr)) fail("StopScanEx");
  if (failed_call_ != nullptr) library_failure(failed_call_, failure_);
  debug(kLogInfo, "scan ended%s", abandoned_ ? " early" : "");
  close(write_end_);  // the front end reads the end of the data
  finished_.store(true, std::memory_order_release);
}

void ScanJob::join_thread() {
  if (thread_.joinable()) thread_.join();
}

void ScanJob::cancel() {
  // (A cancel after the end, as front ends send one, stops nothing.)
  if (!cancel_.exchange(true) && !finished()) debug(kLogInfo, "cancelling the scan");
  // The two flags are all it touches: the thread object is the owner's.
  while (!finished()) sleep_ms(5);
}

SANE_Status ScanJob::read(SANE_Byte* data, SANE_Int max_length, SANE_Int* length) {
  *length = 0;
  if (cancel_) return SANE_STATUS_CANCELLED;
  // Room for nothing takes nothing: the socket's read would say "end of data"
  // for it, and the data are still to come.
  if (max_length == 0) return SANE_STATUS_GOOD;
  for (;;) {
    if (cancel_) return SANE_STATUS_CANCELLED;
    const ssize_t got = ::read(read_end_, data, static_cast<size_t>(max_length));
    if (got > 0) {
      *length = static_cast<SANE_Int>(got);
      return SANE_STATUS_GOOD;
    }
    if (got == 0) break;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return SANE_STATUS_GOOD;
    if (errno == EINTR) continue;
    debug(kLogError, "reading the image data: %s", std::strerror(errno));
    return SANE_STATUS_IO_ERROR;
  }
  // The end of the data: the thread has stopped the scan or is about to.
  join_thread();
  if (cancel_ || (abandoned_ && failed_call_ == nullptr)) return SANE_STATUS_CANCELLED;
  if (failed_call_ != nullptr) {
    return failure_ == 0xFFFF ? SANE_STATUS_IO_ERROR : sane_status_for(failure_);
  }
  return SANE_STATUS_EOF;
}

SANE_Status ScanJob::set_io_mode(bool non_blocking) {
  const int flags = fcntl(read_end_, F_GETFL);
  if (flags < 0) return SANE_STATUS_IO_ERROR;
  const int wanted = non_blocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(read_end_, F_SETFL, wanted) == 0 ? SANE_STATUS_GOOD : SANE_STATUS_IO_ERROR;
}

}  // namespace qrx::sane
