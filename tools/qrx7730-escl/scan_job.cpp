// The scan job (see scan_job.h).
#include "scan_job.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "device_hold.h"
#include "document_encoder.h"
#include "qrx7730.h"
#include "scan_window.h"
#include "tone.h"

namespace qrx::escl {
namespace {

// GetCalibrationStatus reports 2 while the background calibration runs.
constexpr uint8_t kCalibrating = 2;
constexpr auto kCalibrationPoll = std::chrono::milliseconds(200);
// SetLamp is refused while the carriage still moves; the light may take a while
// to warm up. Both are polled for a bounded time.
constexpr auto kCarriagePoll = std::chrono::milliseconds(250);
constexpr int kCarriagePolls = 160;
constexpr auto kLampPoll = std::chrono::milliseconds(500);
constexpr int kLampPolls = 240;

static_assert(kScannerGoneStatus == QRX_E_DEVICE_OPEN);

uint16_t last_status() {
  uint16_t status = 0;
  GetScannerStatus(nullptr, &status);
  return status;
}

}  // namespace

ScanJob::ScanJob(std::string id, const ScanSettings& settings, const ScannerModel& model,
                 std::string device, const JobTiming& timing)
    : id_(std::move(id)),
      settings_(settings),
      model_(model),
      device_(std::move(device)),
      timing_(timing),
      pipe_(timing.pipe_capacity) {}

ScanJob::~ScanJob() {
  cancel(JobEnd::kClientGone);
  if (thread_.joinable()) thread_.join();
}

bool ScanJob::start() {
  try {
    thread_ = std::thread(&ScanJob::run, this);
  } catch (...) {
    return false;
  }
  return true;
}

bool ScanJob::wait_opened() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return open_decided_; });
  return opened_;
}

void ScanJob::cancel(JobEnd why) {
  JobEnd none = JobEnd::kNone;
  cancel_.compare_exchange_strong(none, why);
  pipe_.abandon();
  std::lock_guard lock(mutex_);
  if (end_ == JobEnd::kCompleted && !delivered_) end_ = why;
  changed_.notify_all();
}

bool ScanJob::wait_released(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return released_.load(); });
}

void ScanJob::touch() {
  std::lock_guard lock(mutex_);
  last_contact_ = Clock::now();
}

ScanJob::Clock::time_point ScanJob::last_contact() const {
  std::lock_guard lock(mutex_);
  return last_contact_;
}

void ScanJob::wait_for_image(std::chrono::milliseconds timeout) {
  // A client waiting here for its document has not gone: its contact is renewed
  // while it waits, so that a job timeout shorter than the wait never gives up
  // a job whose client is on the line.
  constexpr std::chrono::milliseconds kRenew{500};
  const Clock::time_point deadline = Clock::now() + timeout;
  std::unique_lock lock(mutex_);
  for (;;) {
    last_contact_ = Clock::now();
    if (phase_ == Phase::kScanning || phase_ == Phase::kEnded || cancel_ != JobEnd::kNone ||
        last_contact_ >= deadline) {
      return;
    }
    changed_.wait_until(lock, std::min(deadline, last_contact_ + kRenew));
  }
}

JobOutcome ScanJob::outcome() const {
  // A job the user cancelled is shown so at once, while the scanner stops.
  if (end_ == JobEnd::kNone && cancel_ == JobEnd::kCanceledByUser) {
    return outcome_of(JobEnd::kCanceledByUser, 0);
  }
  return outcome_of(end_, failure_status_);
}

void ScanJob::set_phase(Phase phase) {
  std::lock_guard lock(mutex_);
  phase_ = phase;
  changed_.notify_all();
}

bool ScanJob::library_failed(const char* call) {
  (void)call;
  uint16_t status = last_status();
  if (status == QRX_OK) status = 0xFFFF;  // a failure that left no status behind
  failure_status_ = status;
  return false;
}

void ScanJob::finish(JobEnd end) {
  std::lock_guard lock(mutex_);
  // A job cancelled on the way ends as cancelled, whatever the scan did after:
  // its pipe has been emptied.
  const JobEnd cancelled = cancel_;
  end_ = cancelled != JobEnd::kNone ? cancelled : end;
  if (end_ == JobEnd::kCompleted) {
    pipe_.close();
  } else {
    pipe_.fail();
  }
  phase_ = Phase::kEnded;
  changed_.notify_all();
}

void ScanJob::run() {
  std::unique_ptr<DeviceHold> hold = DeviceHold::try_take(device_);
  bool opened = false;
  if (hold == nullptr) {
    end_ = JobEnd::kBusy;
  } else if (!open_scanner()) {
    end_ = (failure_status_ & 0xFF00) == 0x9600 ? JobEnd::kBusy : JobEnd::kFailed;
  } else {
    opened = true;
  }
  {
    std::lock_guard lock(mutex_);
    open_decided_ = true;
    opened_ = opened;
    changed_.notify_all();
  }
  JobEnd end = end_;
  if (opened) {
    std::string error;
    end = scan(error) ? JobEnd::kCompleted : JobEnd::kFailed;
    TerminateScanner(nullptr);
    // A scan that failed on its own may have lost the scanner (unplugged in the
    // middle): a scanner that can no longer be opened at all is said to be gone.
    if (end == JobEnd::kFailed && cancel_ == JobEnd::kNone) {
      if (FindScannerEx(nullptr, device_.c_str(), QRX7730_USB_PRODUCT_ID)) {
        TerminateScanner(nullptr);
      } else if (last_status() == kScannerGoneStatus) {
        failure_status_ = kScannerGoneStatus;
      }
    }
  }
  // The scanner is let go before the client sees the end of the document, so
  // that a client's next job finds it free.
  hold.reset();
  {
    std::lock_guard lock(mutex_);
    released_ = true;
  }
  finish(end);
}

bool ScanJob::open_scanner() {
  // The carriage may still be on its way back from the last scan: the scanner
  // takes no open until it is home.
  for (int polls = 0; !FindScannerEx(nullptr, device_.c_str(), QRX7730_USB_PRODUCT_ID); ++polls) {
    library_failed("FindScannerEx");
    if (failure_status_ != QRX_E_CARRIAGE_MOVING || polls >= kCarriagePolls ||
        cancel_ != JobEnd::kNone) {
      return false;
    }
    std::this_thread::sleep_for(kCarriagePoll);
  }
  failure_status_ = 0;
  return true;
}

bool ScanJob::prepare() {
  set_phase(Phase::kPreparing);
  if (!InitializeScanner(nullptr)) return library_failed("InitializeScanner");
  int polls = 0;
  while (!SetLamp(nullptr, QRX_LAMP_FLATBED)) {
    if (last_status() != QRX_E_CARRIAGE_MOVING || ++polls > kCarriagePolls) {
      return library_failed("SetLamp");
    }
    if (cancel_ != JobEnd::kNone) return false;
    std::this_thread::sleep_for(kCarriagePoll);
  }
  for (int poll = 0; !GetLampStatus(nullptr, 0); ++poll) {
    if ((last_status() & 0xFF00) != QRX_LAMP_WARMING_UP || poll >= kLampPolls) {
      return library_failed("GetLampStatus");
    }
    if (cancel_ != JobEnd::kNone) return false;
    std::this_thread::sleep_for(kLampPoll);
  }
  return true;
}

bool ScanJob::scan(std::string& error) {
  if (!prepare()) return false;
  const int channels = channels_of(settings_.mode);
  const int depth = depth_of(settings_.mode);
  ScanParameter parameter{};
  parameter.xRes = parameter.yRes = settings_.resolution;
  parameter.ScanningArea = window_for(settings_.region, settings_.resolution, model_);
  parameter.FilmArea = 0;
  parameter.BitsPerPixel = static_cast<uint8_t>(channels * depth);
  if (!SetScanParameter(nullptr, &parameter)) return library_failed("SetScanParameter");
  DataStatus data{};
  if (!GetDataStatus(nullptr, &data)) return library_failed("GetDataStatus");
  const uint32_t pixel_bytes = static_cast<uint32_t>(channels * depth / 8);
  if (data.LineBytes == 0 || data.LineBytes % pixel_bytes != 0 || data.LinesLeft == 0) {
    error = "the library announced no image";
    failure_status_ = 0xFFFF;
    return false;
  }
  width_ = data.LineBytes / pixel_bytes;
  height_ = data.LinesLeft;
  line_bytes_ = data.LineBytes;

  const std::chrono::milliseconds stall = timing_.client_gone;
  DocumentEncoder encoder(settings_.format, [this, stall](const uint8_t* bytes, size_t size) {
    return pipe_.write(bytes, size, stall);
  });
  qrxscan::ImageSpec spec;
  spec.width = width_;
  spec.height = height_;
  spec.channels = channels;
  spec.depth = depth;
  spec.dpi = settings_.resolution;

  const uint8_t options[QRX_START_OPTIONS_SIZE] = {};
  if (!StartScanEx(nullptr, options)) return library_failed("StartScanEx");
  bool ok = true;
  set_phase(Phase::kCalibrating);
  for (;;) {
    uint8_t status = 0;
    if (!GetCalibrationStatus(nullptr, &status)) {
      ok = library_failed("GetCalibrationStatus");
      break;
    }
    if (status != kCalibrating) break;
    if (cancel_ != JobEnd::kNone) {
      ok = false;
      break;
    }
    // Nobody asks for the document any more: the client is gone.
    if (Clock::now() - last_contact() > timing_.client_gone) {
      cancel(JobEnd::kClientGone);
      ok = false;
      break;
    }
    std::this_thread::sleep_for(kCalibrationPoll);
  }
  if (ok && !encoder.begin(spec, error)) ok = false;
  if (ok) set_phase(Phase::kScanning);
  std::vector<uint8_t> line(data.LineBytes);
  // Brightness and contrast are applied to the lines as they come (the library
  // takes only power curves for the flatbed).
  const bool toned = settings_.brightness != 0 || settings_.contrast != 0;
  const std::vector<uint16_t> curve =
      toned ? tone_curve(settings_.brightness, settings_.contrast) : std::vector<uint16_t>();
  for (uint32_t row = 0; ok && row < height_; ++row) {
    if (cancel_ != JobEnd::kNone) {
      ok = false;
      break;
    }
    if (!ReadScan(nullptr, nullptr, line.data(), data.LineBytes)) {
      ok = library_failed("ReadScan");
      break;
    }
    if (toned) apply_tone(curve, depth, line);
    if (!encoder.write_line(line.data(), error)) {
      // The pipe refused: the reader is gone or took nothing for too long.
      cancel(JobEnd::kClientGone);
      ok = false;
      break;
    }
    lines_read_ = row + 1;
  }
  // The scan ends, and the carriage returns, whatever ended it.
  if (!StopScanEx(nullptr, nullptr) && ok) ok = library_failed("StopScanEx");
  if (ok && !encoder.finish(error)) {
    cancel(JobEnd::kClientGone);
    ok = false;
  }
  return ok;
}

}  // namespace qrx::escl
