// Re-calibration in the background: the check made before every scan of whether
// the stored calibration can still serve it, and the thread that calibrates the
// flatbed at 300, 600, 1200 and 2400 dpi (film at 600 to 4800 dpi) when it cannot,
// while the host polls for the end.
//
// The thread holds the scanner for its whole run: it is started by a caller that
// holds the busy flag and gives the flag back through `finished` as its last act,
// so that the exports that wait for the flag cannot touch the device or the
// context meanwhile. A stop ends it within the block of lines it is reading: the
// resolutions done keep their shading files, the one cut short writes none, and
// the carriage is sent home. The functions below may be called from any of the
// host's threads.
#pragma once

#include <cstdint>

#include "calibration/reference_pass.h"
#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::scan {

// Results of the re-calibration check.
inline constexpr uint8_t kCalibrationUsable = 0;
inline constexpr uint8_t kCalibrationDue = 1;      // 1000 scans since the last one
inline constexpr uint8_t kCalibrationMissing = 2;  // no usable shading for the scan

// Exit code of a background calibration that succeeded (any other is a status).
inline constexpr uint32_t kCalibrationSucceeded = 1;

// What the thread runs with. It must outlive the thread.
struct BackgroundCalibration {
  transport::ScannerContext* context = nullptr;
  const settings::ScannerSetting* setting = nullptr;
  calibration::PassEnvironment environment;
  uint8_t light = 0;  // the light selection the scan will use
  // Called on the thread after the calibration, before its exit code shows.
  void (*finished)(void* owner) = nullptr;
  void* owner = nullptr;
};

// Whether the stored calibration for x_res and the light can serve a scan (the
// freshness check of the shading file store; it resets or steps back the counter).
uint8_t recalibration_check(transport::ScannerContext& context, uint16_t x_res, uint8_t light);

// Starts the thread (releasing a thread of an earlier run that has ended). 0, or
// 0xFA03 when it could not be started (`finished` is then not called).
uint16_t start_background_calibration(BackgroundCalibration& job);

// True while the thread runs.
bool background_calibration_running(const transport::ScannerContext& context);

// Polls the thread: running is true while it runs; once it has ended it is
// released and its result returned (0 success, else the failing status). 0 with
// running false when there is none.
uint16_t background_calibration_result(transport::ScannerContext& context, bool& running);

// Asks a running thread to stop, waits for it (it stops within the block of
// lines it is reading and sends the carriage home without waiting for it) and
// releases it; what it would have reported is dropped. Nothing without a thread.
void stop_background_calibration(transport::ScannerContext& context);

}  // namespace qrx::scan
