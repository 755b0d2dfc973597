// The tone curve (see tone.h).
#include "tone.h"

#include <algorithm>
#include <cmath>

namespace qrx::escl {

std::vector<uint16_t> tone_curve(int brightness, int contrast) {
  constexpr double kFull = 65535.0;
  std::vector<uint16_t> curve(65536);
  const double shift = brightness / 100.0;
  for (size_t i = 0; i < curve.size(); ++i) {
    const double x = i / kFull;
    const double y = contrast >= 100 ? (x < 0.5 ? 0.0 : 1.0)
                                     : (x - 0.5) * (100.0 + contrast) / (100.0 - contrast) + 0.5;
    curve[i] = static_cast<uint16_t>(std::lround(std::clamp(y + shift, 0.0, 1.0) * kFull));
  }
  return curve;
}

void apply_tone(const std::vector<uint16_t>& curve, int depth, std::vector<uint8_t>& line) {
  if (depth == 16) {
    for (size_t i = 0; i + 1 < line.size(); i += 2) {
      const uint16_t out = curve[line[i] | (line[i + 1] << 8)];
      line[i] = static_cast<uint8_t>(out & 0xFF);
      line[i + 1] = static_cast<uint8_t>(out >> 8);
    }
    return;
  }
  // 8-bit level v is the 16-bit level 257 v.
  uint8_t table[256];
  for (int v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>((curve[v * 257] + 128) / 257);
  for (uint8_t& sample : line) sample = table[sample];
}

}  // namespace qrx::escl
