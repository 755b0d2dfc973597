// The calibration driver: for each resolution a dark and a white reference with
// the LED exposure adjusted, saved as that resolution's shading file (at 300 dpi
// also the 150 and 75 dpi files, from whites derived at 300 dpi). What the host's
// DoCalibration and the background re-calibration run.
#pragma once

#include <cstdint>

#include "calibration/reference_pass.h"
#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::calibration {

// One calibration series at a resolution for a lamp mode (1 flatbed, 12 or 4
// film; resolution 0 with a film mode: every film resolution). 0, 0x9801 without
// working memory, 0xFC02 when a shading file could not be saved, 0x9704 for a
// resolution the scanner cannot calibrate in that mode (film: 300, 600, 1200,
// 2400 and 4800 dpi only), refused before the carriage moves, or the failing
// pass's or move's code.
uint16_t calibration_series(transport::ScannerContext& context,
                            const settings::ScannerSetting& setting,
                            const PassEnvironment& environment, uint32_t resolution,
                            uint8_t lamp_mode);

// What the host asks DoCalibration for: film selector, calibration kind (0 to 3),
// resolution, and the xRes of the last scan parameters (kind 3).
struct CalibrationRequest {
  uint8_t film = 0;
  uint8_t kind = 0;
  uint16_t resolution = 0;
  uint16_t scan_x_res = 0;
};

// DoCalibration's work below the frame.
uint16_t do_calibration(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                        const PassEnvironment& environment, const CalibrationRequest& request);

}  // namespace qrx::calibration
