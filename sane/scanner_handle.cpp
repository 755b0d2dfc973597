// The open scanner (see scanner_handle.h).
#include "scanner_handle.h"

#include <time.h>

#include <algorithm>
#include <cerrno>

#include "abilities.h"
#include "debug_log.h"
#include "qrx7730.h"
#include "status_map.h"
#include "status_text.h"

namespace qrx::sane {
namespace {

// SetLamp and FindScannerEx are refused while the carriage still moves (after a
// scan it returns home): ask again every 250 ms, for at most 40 s.
constexpr int kCarriagePollMs = 250;
constexpr int kCarriagePolls = 160;
// A light that warms up is asked every 500 ms, at most 240 times.
constexpr int kLampPollMs = 500;
constexpr int kLampPolls = 240;
// How often the debug output says a wait goes on.
constexpr double kNoticeSeconds = 5.0;
// DoCalibration's kind that calibrates for the scan SetScanParameter set up.
constexpr uint8_t kCalibrateForTheScan = 3;

void sleep_ms(int ms) {
  timespec time{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&time, &time) != 0 && errno == EINTR) {
  }
}

uint16_t last_status() {
  uint16_t status = 0;
  GetScannerStatus(nullptr, &status);
  return status;
}

const char* light_name(uint8_t light) {
  return light == QRX_LAMP_FLATBED ? "flatbed light" : "film light";
}

// SetGamma for the three channels; false with the library's status left behind.
bool set_library_curves(const ToneCurves& curves) {
  for (uint8_t channel = 1; channel <= 3; ++channel) {
    if (!SetGamma(nullptr, curves[channel - 1].data(), channel, 0)) return false;
  }
  return true;
}

}  // namespace

SANE_Status ScannerHandle::open(const std::string& path, std::unique_ptr<ScannerHandle>& handle) {
  std::unique_ptr<DeviceLock> hold = DeviceLock::try_take(path);
  if (hold == nullptr) return SANE_STATUS_DEVICE_BUSY;
  // The scanner is not opened while its carriage still moves: after a scan (the
  // one of the handle closed just before, say) it goes home first. Asked again
  // as SetLamp is.
  const double started = monotonic_seconds();
  double noticed = -1;
  for (int poll = 0;; ++poll) {
    debug(kLogCall, "FindScannerEx(%s)", path.c_str());
    if (FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID)) break;
    const uint16_t status = last_status();
    if (status != QRX_E_CARRIAGE_MOVING || poll >= kCarriagePolls) {
      return library_failure("FindScannerEx", status);
    }
    const double waited = monotonic_seconds() - started;
    if (noticed < 0 || waited - noticed >= kNoticeSeconds) {
      debug(kLogInfo,
            "waiting for the carriage to come home before the scanner is opened (%.0f s)",
            waited);
      noticed = waited;
    }
    sleep_ms(kCarriagePollMs);
  }
  if (noticed >= 0) {
    debug(kLogInfo, "the carriage is home (%.1f s)", monotonic_seconds() - started);
  }
  qrxscan::Abilities abilities;
  std::string error;
  if (!qrxscan::query_abilities(abilities, error)) {
    debug(kLogError, "%s", error.c_str());
    TerminateScanner(nullptr);
    return SANE_STATUS_IO_ERROR;
  }
  auto options = std::make_unique<ScanOptions>(sources_of(abilities));
  handle.reset(new ScannerHandle(path, std::move(hold), std::move(options)));
  debug(kLogInfo, "opened %s: %s %s", path.c_str(), abilities.vendor.c_str(),
        abilities.model.c_str());
  return SANE_STATUS_GOOD;
}

ScannerHandle::~ScannerHandle() {
  cancel();
  drop_job();
  debug(kLogCall, "TerminateScanner");
  TerminateScanner(nullptr);
}

void ScannerHandle::drop_job() {
  // A cancel that has taken the job from running_job_ finishes with it before the
  // job goes; one that comes after the store finds none. (A cancel in a signal
  // handler that interrupted this thread has finished before the loop resumes.)
  running_job_.store(nullptr);
  while (cancels_.load() != 0) sleep_ms(1);
  job_.reset();
}

bool ScannerHandle::scanning() const {
  return job_ != nullptr && !job_->finished();
}

bool ScannerHandle::wait(int ms) const {
  timespec time{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&time, &time) != 0 && errno == EINTR) {
    if (cancel_) return false;
  }
  return !cancel_;
}

const SANE_Option_Descriptor* ScannerHandle::descriptor(SANE_Int option) const {
  return options_->descriptor(option);
}

SANE_Status ScannerHandle::control_option(SANE_Int option, SANE_Action action, void* value,
                                          SANE_Int* info) {
  return options_->control(option, action, value, info, *this, scanning());
}

SANE_Status ScannerHandle::parameters(SANE_Parameters* parameters) {
  if (scan_in_progress_ && !cancel_) {
    *parameters = announced_;
    return SANE_STATUS_GOOD;
  }
  const ScanSettings settings = options_->settings();
  ScanWindow window;
  std::string error;
  if (!window_on_glass(settings, options_->glass(), window, error)) {
    window = {};  // an image of nothing until the area is fixed
  }
  *parameters = expected_parameters(settings, window, options_->glass());
  return SANE_STATUS_GOOD;
}

SANE_Status ScannerHandle::initialise() {
  if (initialised_) return SANE_STATUS_GOOD;
  debug(kLogInfo, "waiting for the carriage to go home and find the scan origin");
  const double started = monotonic_seconds();
  debug(kLogCall, "InitializeScanner");
  if (!InitializeScanner(nullptr)) return library_failure("InitializeScanner");
  debug(kLogInfo, "the scanner is initialised (%.1f s)", monotonic_seconds() - started);
  initialised_ = true;
  return SANE_STATUS_GOOD;
}

SANE_Status ScannerHandle::select_light(uint8_t light) {
  double started = monotonic_seconds(), noticed = -1;
  for (int poll = 0;; ++poll) {
    debug(kLogCall, "SetLamp(%u)", light);
    if (SetLamp(nullptr, light)) break;
    if (last_status() != QRX_E_CARRIAGE_MOVING || poll >= kCarriagePolls) {
      return library_failure("SetLamp");
    }
    const double waited = monotonic_seconds() - started;
    if (noticed < 0 || waited - noticed >= kNoticeSeconds) {
      debug(kLogInfo, "waiting for the carriage to stop before the light is chosen (%.0f s)",
            waited);
      noticed = waited;
    }
    if (!wait(kCarriagePollMs)) return SANE_STATUS_CANCELLED;
  }
  started = monotonic_seconds();
  noticed = -1;
  for (int poll = 0;; ++poll) {
    debug(kLogCall, "GetLampStatus");
    if (GetLampStatus(nullptr, 0)) break;
    const uint16_t status = last_status();
    if ((status & 0xFF00) != QRX_LAMP_WARMING_UP || poll >= kLampPolls) {
      return library_failure("GetLampStatus");
    }
    const double waited = monotonic_seconds() - started;
    if (noticed < 0 || waited - noticed >= kNoticeSeconds) {
      debug(kLogInfo, "waiting for the %s to warm up (warm-up count %u, %.0f s)", light_name(light),
            status & 0xFFu, waited);
      noticed = waited;
    }
    if (!wait(kLampPollMs)) return SANE_STATUS_CANCELLED;
  }
  if (noticed >= 0) {
    debug(kLogInfo, "the %s is ready (%.1f s)", light_name(light), monotonic_seconds() - started);
  }
  return SANE_STATUS_GOOD;
}

SANE_Status ScannerHandle::give_tone_curves(const ScanSettings& settings,
                                            std::shared_ptr<const ToneCurves>& host_curves) {
  host_curves.reset();
  auto curves = std::make_shared<ToneCurves>(tone_curves(options_->tone()));
  const bool identity = std::all_of(curves->begin(), curves->end(), is_identity);
  if (identity && !library_curves_) return SANE_STATUS_GOOD;
  if (!identity) {
    const bool scanner_takes =
        settings.depth == 16 || std::all_of(curves->begin(), curves->end(), is_monotonic);
    debug(kLogCall, "SetGamma (the tone curves)");
    if (scanner_takes && set_library_curves(*curves)) {
      library_curves_ = true;
      return SANE_STATUS_GOOD;
    }
    if (scanner_takes) {
      debug(kLogInfo, "SetGamma did not take the tone curves (%s)",
            qrxscan::describe_status(last_status()).c_str());
    }
    debug(kLogInfo, "the tone curves are applied by the backend");
    host_curves = curves;
  }
  // The library's own curves back to the identity.
  ToneCurves plain;
  for (ToneCurve& curve : plain) {
    curve.resize(kCurveEntries);
    for (size_t i = 0; i < kCurveEntries; ++i) curve[i] = static_cast<uint16_t>(i);
  }
  debug(kLogCall, "SetGamma (identity)");
  if (!set_library_curves(plain)) return library_failure("SetGamma");
  library_curves_ = false;
  return SANE_STATUS_GOOD;
}

SANE_Status ScannerHandle::describe_scan(const ScanSettings& settings) {
  ScanWindow window;
  std::string error;
  if (!window_on_glass(settings, options_->glass(), window, error)) {
    debug(kLogError, "%s", error.c_str());
    return SANE_STATUS_INVAL;
  }
  const ScanParameter parameter = scan_parameter(settings, window);
  debug(kLogCall, "SetScanParameter(%u dpi, %u bits, x %u y %u width %u length %u)", parameter.xRes,
        parameter.BitsPerPixel, window.x, window.y, window.width, window.length);
  if (!SetScanParameter(nullptr, &parameter)) return library_failure("SetScanParameter");
  return SANE_STATUS_GOOD;
}

SANE_Status ScannerHandle::start() {
  if (scanning()) return SANE_STATUS_DEVICE_BUSY;
  scan_in_progress_ = false;
  drop_job();
  cancel_ = false;
  const ScanSettings settings = options_->settings();
  SANE_Status status = SANE_STATUS_GOOD;
  // A cancel while a step runs ends the start after that step.
  if ((status = initialise()) != SANE_STATUS_GOOD) return status;
  if (cancel_) return SANE_STATUS_CANCELLED;
  if ((status = select_light(settings.light)) != SANE_STATUS_GOOD) return status;
  if (cancel_) return SANE_STATUS_CANCELLED;
  if ((status = describe_scan(settings)) != SANE_STATUS_GOOD) return status;
  std::shared_ptr<const ToneCurves> host_curves;
  if ((status = give_tone_curves(settings, host_curves)) != SANE_STATUS_GOOD) return status;
  DataStatus data{};
  debug(kLogCall, "GetDataStatus");
  if (!GetDataStatus(nullptr, &data)) return library_failure("GetDataStatus");
  LineFormat format;
  format.lineart = settings.lineart;
  format.wide = settings.depth == 16;
  format.channels = settings.colour ? 3 : 1;
  format.threshold = options_->threshold_level();
  const uint32_t pixel_bytes = static_cast<uint32_t>(format.channels * (format.wide ? 2 : 1));
  if (data.LineBytes == 0 || data.LineBytes % pixel_bytes != 0 || data.LinesLeft == 0) {
    debug(kLogError,
          "the library announced lines of %u bytes and %u lines: no image of %u-byte "
          "pixels",
          data.LineBytes, data.LinesLeft, pixel_bytes);
    return SANE_STATUS_IO_ERROR;
  }
  if (cancel_) return SANE_STATUS_CANCELLED;
  const uint8_t start_options[QRX_START_OPTIONS_SIZE] = {};
  debug(kLogCall, "StartScanEx");
  if (!StartScanEx(nullptr, start_options)) return library_failure("StartScanEx");
  format.pixels = data.LineBytes / pixel_bytes;
  ScanJob::Plan plan;
  plan.lines = data.LinesLeft;
  plan.converter = std::make_shared<LineConverter>(format, std::move(host_curves));
  announced_ = announced_parameters(settings, data.LineBytes, data.LinesLeft);
  // Said before the scan's thread starts, which says what it waits for next.
  debug(kLogInfo, "scan started: %d x %d pixels at %u dpi, %s, %d bits, %s",
        announced_.pixels_per_line, announced_.lines, settings.dpi,
        settings.lineart  ? "lineart"
        : settings.colour ? "colour"
                          : "grey",
        settings.sane_depth(), settings.film ? "film" : "flatbed");
  if ((status = ScanJob::start(plan, job_)) != SANE_STATUS_GOOD) return status;
  running_job_ = job_.get();
  scan_in_progress_ = true;
  // A cancel that came while the scan was being started.
  if (cancel_) job_->cancel();
  return SANE_STATUS_GOOD;
}

SANE_Status ScannerHandle::read(SANE_Byte* data, SANE_Int max_length, SANE_Int* length) {
  *length = 0;
  if (job_ == nullptr) return cancel_ ? SANE_STATUS_CANCELLED : SANE_STATUS_INVAL;
  const SANE_Status status = job_->read(data, max_length, length);
  // The end of the data, a failure or the cancellation ends the scan for the
  // front end.
  if (status != SANE_STATUS_GOOD) scan_in_progress_ = false;
  return status;
}

void ScannerHandle::cancel() {
  // Counted before the job is taken, so that drop_job() waits for this call.
  cancels_.fetch_add(1);
  cancel_ = true;
  if (ScanJob* job = running_job_.load()) job->cancel();
  cancels_.fetch_sub(1);
}

SANE_Status ScannerHandle::set_io_mode(SANE_Bool non_blocking) {
  if (job_ == nullptr) return SANE_STATUS_INVAL;
  return job_->set_io_mode(non_blocking == SANE_TRUE);
}

SANE_Status ScannerHandle::select_fd(SANE_Int* fd) {
  if (job_ == nullptr) return SANE_STATUS_INVAL;
  *fd = job_->select_fd();
  return SANE_STATUS_GOOD;
}

SANE_Status ScannerHandle::calibrate() {
  if (scanning()) return SANE_STATUS_DEVICE_BUSY;
  scan_in_progress_ = false;  // a scan cancelled but not read to its end is over
  cancel_ = false;
  SANE_Status status = SANE_STATUS_GOOD;
  if ((status = initialise()) != SANE_STATUS_GOOD) return status;
  const ScanSettings settings = options_->settings();
  if ((status = select_light(settings.light)) != SANE_STATUS_GOOD) return status;
  if ((status = describe_scan(settings)) != SANE_STATUS_GOOD) return status;
  debug(kLogInfo, "calibrating for %u dpi", settings.dpi);
  if (!DoCalibration(nullptr, 0, kCalibrateForTheScan, 0)) return library_failure("DoCalibration");
  return SANE_STATUS_GOOD;
}

SANE_Status ScannerHandle::button_pressed(int button, bool& pressed) {
  // While a scan runs only its thread talks to the library; a press during the
  // scan is seen at the next look afterwards.
  if (!scanning()) {
    ButtonEvent event{};
    ReadPushButton(nullptr, 0, &event);
    const uint16_t status = last_status();
    if (status != QRX_OK) return library_failure("ReadPushButton", status);
    if (event.Pressed == 0x80) buttons_ |= event.Button;
  }
  const uint8_t bit = static_cast<uint8_t>(1u << (button - 1));
  pressed = (buttons_ & bit) != 0;
  buttons_ &= static_cast<uint8_t>(~bit);
  return SANE_STATUS_GOOD;
}

}  // namespace qrx::sane
