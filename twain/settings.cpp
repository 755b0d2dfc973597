// The negotiated settings (see settings.h).
#include "settings.h"

#include <cmath>
#include <cstdlib>

namespace qrx::twain {

Settings Settings::defaults(const Abilities& abilities) {
  Settings s;
  uint16_t best = abilities.resolutions.empty() ? 300 : abilities.resolutions.front();
  for (uint16_t dpi : abilities.resolutions) {
    if (std::abs(int(dpi) - 300) < std::abs(int(best) - 300)) best = dpi;
  }
  s.resolution = best;
  s.right = abilities.glass_width_in;
  s.bottom = abilities.glass_length_in;
  return s;
}

double Settings::inches_per_unit() const {
  switch (units) {
    case TWUN_CENTIMETERS:
      return 1 / 2.54;
    case TWUN_PIXELS:
      return 1.0 / resolution;
    default:
      return 1.0;
  }
}

TW_FIX32 to_fix32(double value) {
  const long fixed = std::lround(value * 65536.0);
  TW_FIX32 f;
  f.Whole = static_cast<TW_INT16>(fixed >> 16);
  f.Frac = static_cast<TW_UINT16>(fixed & 0xFFFF);
  return f;
}

double from_fix32(TW_FIX32 value) { return value.Whole + value.Frac / 65536.0; }

}  // namespace qrx::twain
