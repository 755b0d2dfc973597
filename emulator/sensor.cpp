// Per-element sensor character drawn once from the seed.
#include "emulator/sensor.h"

#include <cmath>

#include "emulator/geometry.h"

namespace qrx::emu {
namespace {

// Uniform value in [-1, 1) from a hash.
float symmetric(uint64_t h) { return static_cast<float>((h >> 11) * (1.0 / 9007199254740992.0)) * 2.0f - 1.0f; }

}  // namespace

Sensor::Sensor(uint64_t seed, bool nonuniformity, bool noise, float lamp, double falloff_share,
               float dark_level)
    : seed_(mix(seed)), noise_(noise), dark_level_(dark_level) {
  dark_.resize(kSensorElements);
  for (auto& r : response_) r.resize(kSensorElements);
  for (auto& r : sensitivity_) r.resize(kSensorElements);
  const double centre = kSensorElements / 2.0;
  for (int e = 0; e < kSensorElements; ++e) {
    const int chip = e / kSensorChipElements;
    float dark = dark_level;
    if (nonuniformity) {
      dark += 250.0f * symmetric(mix(seed_ ^ (0x100 + chip)));
      dark += 60.0f * normal(~0ull, static_cast<uint32_t>(e), 3);
    }
    dark_[e] = dark;
    // The LED light guide is dimmer towards both ends of the sensor.
    const double off = (e - centre) / centre;
    const float falloff = static_cast<float>(1.0 - falloff_share * off * off);
    for (int c = 0; c < 3; ++c) {
      float gain = 1.0f;
      float sensitivity = 1.0f;
      if (nonuniformity) {
        const float per_chip = 1.0f + 0.04f * symmetric(mix(seed_ ^ (0x200 + chip * 4 + c)));
        const float per_element = 1.0f + 0.015f * normal(~1ull, static_cast<uint32_t>(e), c);
        gain *= falloff;
        gain *= per_chip;
        gain *= per_element;
        sensitivity = per_chip * per_element;
      }
      response_[c][e] = kLedResponse[c] * gain * lamp;
      sensitivity_[c][e] = sensitivity;
    }
  }
  for (int i = 0; i <= 256; ++i) {
    const double signal = i * 256.0;
    sigma_[i] = noise ? static_cast<float>(std::sqrt(40.0 * 40.0 + 1.5 * signal)) : 0.0f;
  }
}

}  // namespace qrx::emu
