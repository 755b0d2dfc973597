// What an application has negotiated with the data source: the image it asks
// for (mechanism, pixel type, depth, resolution, frame, tone) kept in inches and
// dpi whatever unit it talks in, and the conversions to the unit it chose.
#pragma once

#include <cstdint>

#include "scanner_library.h"
#include "twain_api.h"

namespace qrx::twain {

struct Settings {
  TW_UINT16 xfer_mech = TWSX_NATIVE;
  TW_UINT16 pixel_type = TWPT_RGB;
  TW_UINT16 bit_depth = 8;  // bits per sample
  TW_UINT16 units = TWUN_INCHES;
  uint16_t resolution = 300;  // dpi, across and down alike
  // The frame on the glass, in inches from the scan origin.
  double left = 0, top = 0, right = 0, bottom = 0;
  TW_UINT16 supported_size = TWSS_NONE;
  double brightness = 0, contrast = 0;  // -1000 .. 1000
  double threshold = 128;                // 0 .. 255, for black and white
  TW_INT16 xfer_count = -1;
  bool indicators = true;

  // The defaults for a scanner of these abilities: colour, 8 bits, 300 dpi (or
  // the nearest it offers), native transfer, the whole glass.
  static Settings defaults(const Abilities& abilities);

  // Inches per unit of `units` (at the current resolution for pixels).
  double inches_per_unit() const;
  double to_units(double inches) const { return inches / inches_per_unit(); }
  double to_inches(double value) const { return value * inches_per_unit(); }
  // Bits per pixel of what is delivered.
  int samples_per_pixel() const { return pixel_type == TWPT_RGB ? 3 : 1; }
  int bits_per_pixel() const { return samples_per_pixel() * bit_depth; }
};

// TW_FIX32 <-> double (16.16 fixed point, rounded to the nearest 1/65536).
TW_FIX32 to_fix32(double value);
double from_fix32(TW_FIX32 value);
// The value as a TW_FIX32 holds it.
inline double to_fix32_round(double value) { return from_fix32(to_fix32(value)); }

}  // namespace qrx::twain
