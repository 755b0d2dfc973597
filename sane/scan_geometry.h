// From the option values to the library's scan description: the window on the
// glass or the film area in the ability record's unit (1/9600 inch), the
// ScanParameter record, and the image SANE front ends are told to expect before
// the scan starts (once it has started, the library's GetDataStatus gives the
// exact figures). Lineart is read as 8-bit grey and delivered one bit a pixel.
#pragma once

#include <sane/sane.h>

#include <cstdint>
#include <string>

#include "qrx7730.h"

namespace qrx::sane {

struct ScanSettings {
  bool colour = true;
  int depth = 8;         // bits per sample the library reads: 8 or 16
  bool lineart = false;  // read as 8-bit grey, delivered one bit a pixel
  uint16_t dpi = 300;    // across and down
  bool film = false;     // the window lies in the film area, lit by light
  uint8_t light = QRX_LAMP_FLATBED;
  SANE_Fixed tl_x = 0;  // millimetres from the scan origin
  SANE_Fixed tl_y = 0;
  SANE_Fixed br_x = 0;
  SANE_Fixed br_y = 0;

  // Bits per sample as delivered to the front end.
  int sane_depth() const { return lineart ? 1 : depth; }
};

// The area a source scans: the flatbed glass, or the film adapter's area.
struct Glass {
  uint16_t unit = 9600;  // areas are in 1/unit inch
  uint32_t width = 0;    // in 1/unit inch
  uint32_t length = 0;
  uint32_t x = 0;  // where the area begins, from the scan origin
  uint32_t y = 0;
};

struct ScanWindow {
  uint32_t x = 0, y = 0, width = 0, length = 0;  // 1/unit inch
};

// The smallest extent the scanner takes in either direction, in 1/9600 inch.
inline constexpr uint32_t kMinimumExtent = 128;

// The window the corners make (in either order, millimetres within the area),
// rounded to the nearest unit and placed from the scan origin. False with a
// message when it is smaller than the scanner takes or leaves the area.
bool window_on_glass(const ScanSettings& settings, const Glass& glass, ScanWindow& window,
                     std::string& error);

// The record SetScanParameter takes: the resolution both ways, the window, the
// flatbed or film area, 8 or 16 bits per channel.
ScanParameter scan_parameter(const ScanSettings& settings, const ScanWindow& window);

// What the image will be, before the library has said: the window at the
// resolution, whole pixels and lines.
SANE_Parameters expected_parameters(const ScanSettings& settings, const ScanWindow& window,
                                    const Glass& glass);

// The image from what the library announced: its bytes per line (of the samples
// it reads) and its lines.
SANE_Parameters announced_parameters(const ScanSettings& settings, uint32_t line_bytes,
                                     uint32_t lines);

}  // namespace qrx::sane
