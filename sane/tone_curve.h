// The tone curves of the options brightness, contrast and custom-gamma with its
// tables, as the library takes them: per channel 65536 16-bit entries, entry i
// the output for the 16-bit input i (SetGamma's format).
//
// Brightness b (-100..100 %) moves every level by b % of the full scale;
// contrast c (-100..100 %) steepens (or flattens) the curve about the middle
// level by (100 + c) / (100 - c), 100 % making a step there; the two apply
// together as y = (x - 1/2) (100 + c) / (100 - c) + 1/2 + b / 100 on levels x, y
// from 0 to 1, clipped. With custom-gamma on, a channel's table (256 entries,
// 0..255) is its curve instead, joined by straight lines between its entries.
#pragma once

#include <sane/sane.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qrx::sane {

inline constexpr size_t kCurveEntries = 65536;
inline constexpr SANE_Int kGammaTableEntries = 256;
inline constexpr SANE_Int kGammaTableMax = 255;

using ToneCurve = std::vector<uint16_t>;      // kCurveEntries entries
using ToneCurves = std::array<ToneCurve, 3>;  // red, green, blue

struct ToneRequest {
  int brightness = 0;  // percent
  int contrast = 0;    // percent
  bool custom = false;
  bool colour = true;
  // The custom tables: [0] the grey one, [1..3] red, green and blue (colour).
  std::array<const SANE_Word*, 4> tables{};
};

ToneCurves tone_curves(const ToneRequest& request);

bool is_identity(const ToneCurve& curve);
// Never falling or never rising over the whole input range.
bool is_monotonic(const ToneCurve& curve);

}  // namespace qrx::sane
