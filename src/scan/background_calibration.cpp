// Re-calibration in the background (see background_calibration.h).
#include "scan/background_calibration.h"

#include <mutex>

#include "calibration/calibration_driver.h"
#include "calibration/channel_lines.h"
#include "calibration/shading_files.h"
#include "pass/carriage.h"
#include "qrx7730.h"

namespace qrx::scan {
namespace {

constexpr uint32_t kFlatbedSeries[] = {300, 600, 1200, 2400};
// Every resolution a film scan may read at (4800 dpi scans are read at 2400 across).
constexpr uint32_t kFilmSeries[] = {300, 600, 1200, 2400};

// Runs the series for the light; 0 or the first failing status.
uint16_t calibrate(BackgroundCalibration& job) {
  transport::ScannerContext& context = *job.context;
  const bool flatbed = job.light == calibration::kLampFlatbed;
  const bool film = (job.light & 0x0C) != 0;
  if (!flatbed && !film) return QRX_OK;
  const uint32_t* series = flatbed ? kFlatbedSeries : kFilmSeries;
  const uint8_t lamp_mode = flatbed ? calibration::kLampFlatbed : calibration::kLampFilmSeries;
  // Each flatbed resolution starts its exposure search from the one before.
  if (flatbed) context.exposure_cache_enabled = 1;
  uint16_t status = QRX_OK;
  for (size_t i = 0; i < 4 && status == QRX_OK; ++i) {
    if (context.calibration_stop.load() != 0) {
      status = QRX_E_NO_SCAN;
      break;
    }
    status = calibration::calibration_series(context, *job.setting, job.environment, series[i],
                                             lamp_mode);
  }
  if (flatbed) context.exposure_cache_enabled = 0;
  if (status != QRX_OK && context.calibration_stop.load() != 0) {
    // Stopped: the carriage goes home, as after any stop, without being waited for.
    pass::return_home(context, *job.setting, false, false);
  }
  return status;
}

uint32_t background_calibration_thread(void* argument) {
  auto& job = *static_cast<BackgroundCalibration*>(argument);
  const uint16_t status = calibrate(job);
  if (job.finished != nullptr) job.finished(job.owner);
  return status == QRX_OK ? kCalibrationSucceeded : status;
}

}  // namespace

uint8_t recalibration_check(transport::ScannerContext& context, uint16_t x_res, uint8_t light) {
  return calibration::freshness_check(context, x_res, light);
}

uint16_t start_background_calibration(BackgroundCalibration& job) {
  transport::ScannerContext& context = *job.context;
  std::lock_guard<std::mutex> lock(context.calibration_thread_lock);
  context.calibration_thread.reset();
  context.calibration_stop.store(0);
  context.calibration_thread = platform::Thread::start(&background_calibration_thread, &job);
  return context.calibration_thread ? QRX_OK : QRX_E_CALIBRATION_THREAD;
}

bool background_calibration_running(const transport::ScannerContext& context) {
  std::lock_guard<std::mutex> lock(context.calibration_thread_lock);
  return context.calibration_thread &&
         context.calibration_thread->exit_code() == platform::Thread::kStillActive;
}

uint16_t background_calibration_result(transport::ScannerContext& context, bool& running) {
  std::lock_guard<std::mutex> lock(context.calibration_thread_lock);
  running = false;
  if (!context.calibration_thread) return QRX_OK;
  const uint32_t code = context.calibration_thread->exit_code();
  if (code == platform::Thread::kStillActive) {
    running = true;
    return QRX_OK;
  }
  context.calibration_thread.reset();
  if (code == kCalibrationSucceeded) return QRX_OK;
  // A status is never 0; a thread that could not tell is still a failure.
  return static_cast<uint16_t>(code != 0 ? code : uint32_t{QRX_E_CALIBRATION_THREAD});
}

void stop_background_calibration(transport::ScannerContext& context) {
  std::lock_guard<std::mutex> lock(context.calibration_thread_lock);
  if (!context.calibration_thread) return;
  context.calibration_stop.store(1);
  context.calibration_thread->join();
  context.calibration_thread.reset();
  // Later reads (DoCalibration, a warm-up) must not find the stop still asked.
  context.calibration_stop.store(0);
}

}  // namespace qrx::scan
