// From the option values to the library's scan description: the window on the
// glass in the ability record's unit (1/9600 inch), the ScanParameter record, and
// the image SANE front ends are told to expect before the scan starts (once it
// has started, the library's GetDataStatus gives the exact figures).
#pragma once

#include <sane/sane.h>

#include <cstdint>
#include <string>

#include "qrx7730.h"

namespace qrx::sane {

struct ScanSettings {
  bool colour = true;
  int depth = 8;        // bits per sample
  uint16_t dpi = 300;   // across and down
  SANE_Fixed tl_x = 0;  // millimetres from the scan origin
  SANE_Fixed tl_y = 0;
  SANE_Fixed br_x = 0;
  SANE_Fixed br_y = 0;
};

struct Glass {
  uint16_t unit = 9600;  // areas are in 1/unit inch
  uint32_t width = 0;    // flatbed area, in 1/unit inch
  uint32_t length = 0;
};

struct ScanWindow {
  uint32_t x = 0, y = 0, width = 0, length = 0;  // 1/unit inch
};

// The smallest extent the scanner takes in either direction, in 1/9600 inch.
inline constexpr uint32_t kMinimumExtent = 128;

// The window the corners make (in either order), rounded to the nearest unit.
// False with a message when it is smaller than the scanner takes or leaves the
// glass.
bool window_on_glass(const ScanSettings& settings, const Glass& glass, ScanWindow& window,
                     std::string& error);

// The record SetScanParameter takes: the resolution both ways, the window, the
// flatbed, 8 or 16 bits per channel.
ScanParameter scan_parameter(const ScanSettings& settings, const ScanWindow& window);

// What the image will be, before the library has said: the window at the
// resolution, whole pixels and lines.
SANE_Parameters expected_parameters(const ScanSettings& settings, const ScanWindow& window,
                                    const Glass& glass);

// The image as the library announced it (bytes per line, lines).
SANE_Parameters announced_parameters(const ScanSettings& settings, uint32_t line_bytes,
                                     uint32_t lines);

}  // namespace qrx::sane
