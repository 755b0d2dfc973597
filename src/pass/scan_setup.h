// ScanSetup: the one value that describes a pass of the carriage (an image or
// calibration read, or a carriage move that reads nothing): everything the motor
// plan and the register programme need to know about it.
#pragma once

#include <cstdint>

#include "transport/scanner_context.h"

namespace qrx::pass {

// The kind of pass of an image or calibration read; a carriage move is named by its
// row of the move settings (0 to 9) instead.
inline constexpr uint8_t kScanPass = 255;

// Flatbed light source code.
inline constexpr uint8_t kFlatbedLight = 1;

struct ScanSetup {
  uint16_t x_resolution = 0;  // across, dpi
  uint16_t y_resolution = 0;  // down (motor lines per inch)
  uint8_t bit_depth = 0;      // 8, 16, 24 or 48
  uint8_t light_source = 0;
  uint32_t feed_steps = 0;    // motor steps before the first line
  uint32_t window_x = 0;      // 2400 dpi units
  uint32_t window_width = 0;  // 2400 dpi units
  uint32_t lines = 0;
  uint8_t channels = 0;  // 1, 3 or 4
  uint8_t port_type = 0;
  transport::ExposureSet exposure;
  uint32_t shading_on = 0;
  uint32_t no_motor = 0;  // 1: the carriage stands still
  uint32_t oversampling = 0;
  uint32_t gamma_on = 0;
  uint32_t toward_home = 0;   // register 0x02 bit 2
  uint32_t b5 = 0;            // register 0x02 bit 5
  uint32_t b1 = 0;            // register 0x02 bit 1
  uint32_t fast_feed = 0;     // register 0x02 bit 6
  uint32_t lamp_on = 0;       // register 0x03 bit 4
  uint32_t shading_pass = 0;  // calibration read: 48-bit, motor planned at 600 dpi
  uint8_t move_row = kScanPass;  // kind of pass: kScanPass, or a carriage move's row
};

// Bytes of one planar line: pixels x channels x bytes per sample.
inline uint32_t bytes_per_line(uint32_t pixels, uint32_t depth, uint32_t channels) {
  return pixels * channels * ((depth == 8 || depth == 24) ? 1u : 2u);
}

}  // namespace qrx::pass
