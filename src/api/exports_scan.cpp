// Exports of the scan itself: parameters, calibration, start, data and stop.
#include <cstring>

#include "api/call_frame.h"
#include "api/export_guard.h"
#include "calibration/calibration_driver.h"
#include "lamp/lamp.h"
#include "platform/shared_block.h"
#include "qrx7730.h"
#include "scan/background_calibration.h"
#include "scan/scan_parameters.h"
#include "scan/scan_start.h"
#include "scan/scan_stop.h"
#include "transport/registers.h"

using qrx::api::CallFrame;
using qrx::api::finish;
using qrx::api::guard;
using qrx::api::Library;

namespace {

// Status byte of GetCalibrationStatus while the background calibration runs.
constexpr uint8_t kCalibrationRunning = 2;
// Register 0x41 bit 6: the pass has taken all its lines.
constexpr uint8_t kPassFinished = 0x40;

qrx::calibration::PassEnvironment pass_environment(Library& lib) {
  qrx::calibration::PassEnvironment environment;
  environment.lamp_select = lib.lamp_select;
  const uint8_t* shared = qrx::platform::shared_section();
  environment.exposure.fau_scan_position = shared != nullptr ? shared[1] : 3;
  return environment;
}

// The background calibration thread gives the scanner back through this.
void release_scanner(void* owner) {
  Library& lib = *static_cast<Library*>(owner);
  lib.status_block.release_busy(lib.calibration_hold);
}

// Whether light is a light source a scan can use: not "none", and one of the
// flatbed or film lights.
bool light_usable(uint8_t light) {
  constexpr uint8_t kLights = QRX_LAMP_FLATBED | QRX_LAMP_FILM | QRX_LAMP_INFRARED;
  return light != QRX_LAMP_NONE && (light & kLights) != 0;
}

// Holds the scanner for this process's scan; false (the last error set) while
// another process scans on it. What a process that died left running is ended.
bool claim_scanner(Library& lib) {
  using Claim = qrx::api::StatusBlock::ScanClaim;
  const Claim claim = lib.status_block.claim_scan();
  if (claim == Claim::kRefused) {
    finish(lib, QRX_E_SCANNER_IN_USE);
    return false;
  }
  if (claim == Claim::kTakenOver) qrx::scan::end_abandoned_pass(lib.context);
  return true;
}

// The end of a scan: after draining what the scanner holds while lines are still
// owed or still coming, at once when everything was read and the pass is over.
uint16_t stop_scan(Library& lib) {
  if (lib.scan_values.line_count != 0) {
    return qrx::scan::stop_after_draining(lib.context, lib.setting);
  }
  uint8_t status = 0;
  qrx::transport::read_register(lib.context.link, qrx::transport::reg::kStatus, status);
  return (status & kPassFinished) != 0 ? qrx::scan::stop_now(lib.context, lib.setting)
                                       : qrx::scan::stop_after_draining(lib.context, lib.setting);
}

}  // namespace

extern "C" {

QRX7730_API QRX_BOOL SetScanParameter(void* /*host*/, const ScanParameter* parameter) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (parameter == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    // The background calibration reads the scan fields while it runs.
    if (qrx::scan::background_calibration_running(lib.context)) {
      return finish(lib, QRX_E_CALIBRATING);
    }
    // The running scan's lines are read by the values this would replace: refused
    // until StopScanEx. In the frame, so that a scan starting or stopping on another
    // thread is seen whole.
    CallFrame frame(lib);
    if (qrx::scan::scan_running(lib.context)) return finish(lib, QRX_E_SCAN_RUNNING);
    const uint16_t status = qrx::scan::set_scan_parameter(
        lib.context, lib.setting, lib.scan_values,
        {.parameter = *parameter, .lamp_select = lib.lamp_select, .ag_block = lib.ag_block});
    // A line filter armed for the scan described before is not this one's: the
    // host arms it again with GetDataStatus.
    if (status == QRX_OK) lib.filter_for_next_scan = false;
    return finish(lib, status);
  });
}

QRX7730_API QRX_BOOL DoCalibration(void* /*host*/, uint8_t film, uint8_t kind,
                                   uint16_t resolution) {
  return guard([&](Library& lib) -> QRX_BOOL {
    CallFrame frame(lib);
    if (qrx::api::refused_for_other_scan(lib)) return QRX_FALSE;
    if (lib.device_open != 1) return finish(lib, QRX_E_NOT_OPEN);
    const qrx::calibration::CalibrationRequest request{
        .film = film,
        .kind = kind,
        .resolution = resolution,
        .scan_x_res = static_cast<uint16_t>(lib.scan_values.stored.xRes)};
    return finish(lib, qrx::calibration::do_calibration(lib.context, lib.setting,
                                                        pass_environment(lib), request));
  });
}

QRX7730_API QRX_BOOL StartScanEx(void* /*host*/, const void* /*options*/) {
  return guard([&](Library& lib) -> QRX_BOOL {
    CallFrame frame(lib);
    if (qrx::api::refused_for_other_scan(lib)) return QRX_FALSE;
    if (lib.device_open != 1) return finish(lib, QRX_E_NOT_OPEN);
    // The light is selected now and was when the scan was described (the scan
    // start reads that one): without it nothing could be calibrated or loaded.
    if (!light_usable(lib.lamp_select) || !light_usable(lib.context.lamp_select)) {
      return finish(lib, QRX_E_NO_LAMP_SELECTED);
    }
    if (!claim_scanner(lib)) return QRX_FALSE;
    // A second start would re-programme the scanner under the running scan.
    if (qrx::scan::scan_running(lib.context)) return finish(lib, QRX_E_SCAN_RUNNING);
    // What is left of an earlier start's calibration, its result never asked
    // for, belongs to that start and is not this scan's.
    qrx::scan::stop_background_calibration(lib.context);
    const uint8_t need =
        qrx::scan::recalibration_check(lib.context, lib.scan_values.stored.xRes, lib.lamp_select);
    if (need == qrx::scan::kCalibrationUsable) {
      lib.scan_start = Library::kStartAsked;
      return finish(lib, QRX_OK);
    }
    qrx::scan::BackgroundCalibration& job = lib.background_calibration;
    job.context = &lib.context;
    job.setting = &lib.setting;
    job.environment = pass_environment(lib);
    job.light = lib.lamp_select;
    job.finished = &release_scanner;
    job.owner = &lib;
    lib.calibration_hold = frame.ticket();
    // Asked before the thread starts: it gives the scanner back as it ends, and a
    // poll on another thread may then start the scan at once.
    const uint8_t before = lib.scan_start.exchange(Library::kStartAsked);
    const uint16_t status = qrx::scan::start_background_calibration(job);
    // The thread holds the scanner until it ends: the framed exports wait meanwhile.
    if (status == QRX_OK) {
      frame.hand_over();
    } else {
      lib.scan_start = before;
      lib.status_block.release_scan();
    }
    return finish(lib, status);
  });
}

QRX7730_API QRX_BOOL StopScanEx(void* /*host*/, void* /*option*/) {
  return guard([&](Library& lib) -> QRX_BOOL {
    // A scan asked for and not started yet is cancelled first, so that no poll of
    // GetCalibrationStatus starts it any more. A background calibration for it
    // stops within the block of lines it is reading and sends the carriage home;
    // it holds the scanner until then, so it is waited for before the frame.
    uint8_t asked = Library::kStartAsked;
    lib.scan_start.compare_exchange_strong(asked, Library::kStartCancelled);
    qrx::scan::stop_background_calibration(lib.context);
    CallFrame frame(lib);
    // Only the process that scans may stop the scanner.
    if (qrx::api::refused_for_other_scan(lib)) return QRX_FALSE;
    const uint16_t status = stop_scan(lib);
    if (status == QRX_OK) {
      qrx::lamp::reset_warm_up_attempts(lib.context);
      lib.status_block.release_scan();
    }
    return finish(lib, status);
  });
}

QRX7730_API QRX_BOOL GetCalibrationStatus(void* /*host*/, uint8_t* status) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (status == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    if (lib.device_open != 1) {
      *status = 0;
      // Nothing is done either way: the code says what keeps the scan from starting.
      if (qrx::api::refused_for_other_scan(lib)) return QRX_FALSE;
      return finish(lib, QRX_E_NOT_OPEN);
    }
    bool running = false;
    const uint16_t calibration = qrx::scan::background_calibration_result(lib.context, running);
    *status = running ? kCalibrationRunning : 0;
    if (running) return QRX_TRUE;
    if (calibration != QRX_OK) {
      lib.status_block.release_scan();
      return finish(lib, calibration);
    }
    // The scan start proper, with the scanner held like any framed export.
    CallFrame frame(lib);
    // A scan that StopScanEx cancelled is not started (and the cancelled
    // calibration left nothing to report); the next StartScanEx asks anew.
    uint8_t start = lib.scan_start.load();
    if (start == Library::kStartCancelled ||
        (start == Library::kStartAsked &&
         !lib.scan_start.compare_exchange_strong(start, Library::kNoStartAsked))) {
      return finish(lib, QRX_E_NO_SCAN);
    }
    if (!claim_scanner(lib)) return QRX_FALSE;
    if (qrx::scan::scan_running(lib.context)) return finish(lib, QRX_E_SCAN_RUNNING);
    if (!light_usable(lib.context.lamp_select)) {
      lib.status_block.release_scan();
      return finish(lib, QRX_E_NO_LAMP_SELECTED);
    }
    qrx::scan::ScanStartEnvironment environment;
    environment.data_file = &lib.data_file;
    environment.pass = pass_environment(lib);
    const uint16_t started = qrx::scan::start_scan(lib.context, lib.setting, environment);
    if (started != QRX_OK) {
      lib.status_block.release_scan();
      return finish(lib, started);
    }
    // The line filter serves the scan it was armed for: armed by GetDataStatus
    // before this start it stays on, left on by an earlier scan it goes off.
    if (!lib.filter_for_next_scan) lib.filter_armed = 0;
    lib.filter_for_next_scan = false;
    return QRX_TRUE;
  });
}

QRX7730_API QRX_BOOL SetAGData(void* /*host*/, const void* block) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (block == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    std::memcpy(lib.ag_block.data(), block, lib.ag_block.size());
    return QRX_TRUE;
  });
}

QRX7730_API QRX_BOOL GetAGData(void* /*host*/, uint16_t* values) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (values == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    // The defaults in 4.12 fixed point (4096 = 1.0), whatever SetAGData stored.
    for (int i = 0; i < QRX_AG_VALUE_COUNT; ++i) values[i] = 0x1000;
    values[1] = 0xFFFF;
    values[17] = 0xFFFF;
    return QRX_TRUE;
  });
}

}  // extern "C"
