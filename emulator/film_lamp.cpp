// The film lamp's warm-up and its output (see film_lamp.h).
#include "emulator/film_lamp.h"

#include <cmath>

#include "emulator/geometry.h"

namespace qrx::emu {
namespace {

constexpr double kTicksPerSecond = 1e6 * kTicksPerUsNumerator / kTicksPerUsDenominator;
constexpr double kWarmingSeconds = 8.0;   // time constant while lit
constexpr double kCoolingSeconds = 60.0;  // time constant while off
constexpr double kColdShare = 0.3;        // output of a cold lamp, share of full
// Full output in 16-bit counts: well above what the warm-up asks for, or (weak)
// below its lower limits and still above the dark give-up level.
constexpr double kFullCounts = 38000.0;
constexpr double kWeakCounts = 5000.0;
constexpr double kUnsettledDip = 0.8;  // every other pass of the unsettled lamp
// The infrared lamp: about 128 in 8 bits over the dark level (weak: about 16).
constexpr double kInfraredCounts = 30000.0;
constexpr double kWeakInfraredCounts = 4000.0;

}  // namespace

double FilmLamp::warmth(uint64_t t) const {
  const double seconds = t > since_ ? static_cast<double>(t - since_) / kTicksPerSecond : 0.0;
  if (lit_) return 1.0 - (1.0 - warmth_) * std::exp(-seconds / kWarmingSeconds);
  return warmth_ * std::exp(-seconds / kCoolingSeconds);
}

void FilmLamp::set_lit(bool lit, uint64_t t) {
  if (lit == lit_) return;
  warmth_ = warmth(t);
  since_ = t;
  lit_ = lit;
}

float FilmLamp::counts(uint64_t t) const {
  if (!lit_ || kind_ == Options::FilmLight::kNone) return 0.0f;
  const double share = kColdShare + (1.0 - kColdShare) * warmth(t);
  double full = kind_ == Options::FilmLight::kWeak ? kWeakCounts : kFullCounts;
  if (kind_ == Options::FilmLight::kUnsettled && passes_ % 2 == 1) full *= kUnsettledDip;
  return static_cast<float>(share * full);
}

float FilmLamp::infrared_counts() const {
  switch (kind_) {
    case Options::FilmLight::kNone:
      return 0.0f;
    case Options::FilmLight::kWeak:
      return static_cast<float>(kWeakInfraredCounts);
    default:
      return static_cast<float>(kInfraredCounts);
  }
}

}  // namespace qrx::emu
