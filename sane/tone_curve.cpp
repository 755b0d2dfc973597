// The tone curves (see tone_curve.h).
#include "tone_curve.h"

#include <algorithm>
#include <cmath>

namespace qrx::sane {
namespace {

constexpr double kFull = 65535.0;

uint16_t level(double fraction) {
  return static_cast<uint16_t>(std::lround(std::clamp(fraction, 0.0, 1.0) * kFull));
}

ToneCurve adjusted(int brightness, int contrast) {
  ToneCurve curve(kCurveEntries);
  const double shift = brightness / 100.0;
  for (size_t i = 0; i < kCurveEntries; ++i) {
    const double x = i / kFull;
    double y;
    if (contrast >= 100) {
      y = x < 0.5 ? 0.0 : 1.0;
    } else {
      y = (x - 0.5) * (100.0 + contrast) / (100.0 - contrast) + 0.5;
    }
    curve[i] = level(y + shift);
  }
  return curve;
}

ToneCurve from_table(const SANE_Word* table) {
  ToneCurve curve(kCurveEntries);
  for (size_t i = 0; i < kCurveEntries; ++i) {
    // Input i lies between table entries at = i / 257 and at + 1 (257 = 65535 / 255).
    const size_t at = std::min<size_t>(i / 257, kGammaTableEntries - 2);
    const double part = (i - at * 257.0) / 257.0;
    const double value = table[at] + (table[at + 1] - table[at]) * part;
    curve[i] = level(value / kGammaTableMax);
  }
  return curve;
}

}  // namespace

ToneCurves tone_curves(const ToneRequest& request) {
  ToneCurves curves;
  if (!request.custom) {
    curves[0] = adjusted(request.brightness, request.contrast);
    curves[1] = curves[2] = curves[0];
  } else if (!request.colour) {
    curves[0] = from_table(request.tables[0]);
    curves[1] = curves[2] = curves[0];
  } else {
    for (size_t c = 0; c < 3; ++c) curves[c] = from_table(request.tables[c + 1]);
  }
  return curves;
}

bool is_identity(const ToneCurve& curve) {
  for (size_t i = 0; i < curve.size(); ++i) {
    if (curve[i] != i) return false;
  }
  return curve.size() == kCurveEntries;
}

bool is_monotonic(const ToneCurve& curve) {
  bool rises = true, falls = true;
  for (size_t i = 1; i < curve.size(); ++i) {
    rises = rises && curve[i] >= curve[i - 1];
    falls = falls && curve[i] <= curve[i - 1];
  }
  return rises || falls;
}

}  // namespace qrx::sane
