// The contact image sensor's own character: per-element dark offset and response
// (LED strength, chip-to-chip and pixel-to-pixel non-uniformity) and a noise source
// that is a pure function of seed, line number, pixel and channel.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace qrx::emu {

class Sensor {
 public:
  // lamp: strength of the LEDs relative to a healthy light (1.0); falloff: share of
  // the LED light lost at the very ends of the sensor (applied with the
  // non-uniformity); dark_level: nominal dark output of an element.
  Sensor(uint64_t seed, bool nonuniformity, bool noise, float lamp = 1.0f,
         double falloff = kFalloff, float dark_level = kDarkLevel);

  // Dark output of element e, in 16-bit counts.
  float dark(int e) const { return dark_[e]; }
  // Output per tick of LED exposure of element e under channel c's LED for a
  // reflectance of 1, in 16-bit counts.
  float response(int c, int e) const { return response_[c][e]; }
  // Relative sensitivity of element e in channel c (1.0 nominal): the chip-to-chip
  // and pixel-to-pixel part of the response, without the LED light guide's falloff
  // and strength, for light that does not come from the LEDs.
  float sensitivity(int c, int e) const { return sensitivity_[c][e]; }
  bool noisy() const { return noise_; }
  // Dark output of a position with no sensor element behind it.
  float dark_level() const { return dark_level_; }
  // Standard deviation of the noise for a signal of the given counts above dark.
  float sigma(float signal) const {
    int i = static_cast<int>(signal * (1.0f / 256.0f));
    i = i < 0 ? 0 : (i > 256 ? 256 : i);
    return sigma_[i];
  }
  // Deterministic, roughly normal (mean 0, deviation 1) value.
  float normal(uint64_t line, uint32_t pixel, int channel) const {
    uint64_t h = seed_ ^ (line * 0x9E3779B97F4A7C15ull) ^
                 ((uint64_t{pixel} * 4 + static_cast<uint64_t>(channel)) * 0xC2B2AE3D27D4EB4Full);
    h = mix(h);
    const int64_t sum = int64_t(h & 0xFFFF) + int64_t((h >> 16) & 0xFFFF) +
                        int64_t((h >> 32) & 0xFFFF) + int64_t(h >> 48);
    return static_cast<float>(sum - 131070) * (1.0f / 37837.0f);
  }

  static uint64_t mix(uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  // Nominal figures of the model (before non-uniformity).
  static constexpr float kDarkLevel = 2800.0f;
  static constexpr double kFalloff = 0.06;
  static constexpr float kLedResponse[3] = {7.4f, 8.0f, 6.8f};

 private:
  uint64_t seed_;
  bool noise_;
  float dark_level_;
  std::vector<float> dark_;
  std::array<std::vector<float>, 3> response_;
  std::array<std::vector<float>, 3> sensitivity_;
  std::array<float, 257> sigma_{};
};

}  // namespace qrx::emu
