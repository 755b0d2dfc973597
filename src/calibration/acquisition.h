// CalibrationLines: the one operation that reads a block of sensor lines into
// memory for the library's own measurements (references, exposure, warm-up, the
// reference edge search, self-tests). It programmes a pass, starts it, pulls the
// raw bytes as the controller's buffer fills, drops the fill bytes at the end of
// each channel block and hands back the lines channel-planar.
#pragma once

#include <cstdint>
#include <vector>

#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::calibration {

struct AcquisitionRequest {
  uint32_t port_type = 0;
  uint16_t resolution = 0;     // across and down
  uint8_t bits_per_pixel = 0;  // 8, 24 or 48 (16 bits per sample)
  uint32_t feed_steps = 4;
  uint32_t line_count = 0;
  uint32_t start_pixel = 0;  // 2400 dpi
  uint32_t width = 0;        // 2400 dpi
  uint8_t light_source = 1;
  uint8_t channels = 3;
  transport::ExposureSet exposure;
  uint32_t no_motor = 1;  // 1: the carriage stands still while reading
  uint32_t led_on = 1;    // 0: a dark reference with the LEDs off
  bool return_home = false;
  bool shading_pass = false;  // reference reads: 48-bit, motor planned at 600 dpi
};

// Longest the acquisition waits for the next data from the controller. The
// slowest pass the scanner runs delivers a line well within a second; a scanner
// that stays silent this long has stopped delivering.
inline constexpr uint32_t kDataSilenceLimitMs = 30000;

// Reads the lines; on success `lines` holds line_count delivered lines (so a line
// is lines.size() / line_count bytes; the context's line sizes describe the last
// programmed pass, which after a return home is the move). 0 or the failing
// step's code. While the background calibration is asked to stop (the context's
// calibration_stop), no read starts and a read under way ends at its next look at
// the controller's buffer, with QRX_E_NO_SCAN: its pass is ended where it stands,
// the motor stopped and line 10 set back, so that the carriage can go home at once.
uint16_t calibration_lines(transport::ScannerContext& context,
                           const settings::ScannerSetting& setting,
                           const AcquisitionRequest& request, std::vector<uint8_t>& lines);

}  // namespace qrx::calibration
