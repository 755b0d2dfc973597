// Raw line synthesis from the scene, the sensor and the pass programme.
#include "emulator/line_recipe.h"

#include <algorithm>
#include <cmath>

#include "emulator/chip_memory.h"
#include "emulator/geometry.h"
#include "emulator/scene.h"
#include "emulator/sensor.h"

namespace qrx::emu {

LineRecipe::LineRecipe(const Programme& p, const Sensor& sensor, const ChipMemory& memory)
    : sensor_(sensor) {
  channels_ = p.channels;
  if (channels_ == 1) colour_[0] = 1;  // grey is read with the green LED, area and curve
  wide_ = p.wide_samples;
  shading_ = p.shading;
  gamma_ = p.gamma && !p.wide_samples;
  noise_ = sensor.noisy();
  lead_in_ = p.lead_in_units;
  const uint32_t r = p.resolution, s = p.sensor_resolution;
  if (r > 0 && p.window_end > p.window_start)
    pixels_ = static_cast<uint32_t>(uint64_t{p.window_end - p.window_start} * r / s);
  pixels_ = std::min<uint32_t>(pixels_, 2 * kSensorElements);
  line_bytes_ = pixels_ * channels_ * (wide_ ? 2 : 1);
  if (pixels_ == 0) return;

  // Sensor elements (2400 dpi) behind each window pixel.
  first_element_.resize(pixels_);
  element_count_.resize(pixels_);
  const double base = static_cast<double>(p.window_start) - kWindowPixelBase;
  int lo = 1 << 30, hi = -(1 << 30);
  for (uint32_t i = 0; i < pixels_; ++i) {
    const double a = (base + static_cast<double>(i) * s / r) * 2400.0 / s;
    const double b = a + 2400.0 / r;
    const int e0 = static_cast<int>(std::floor(a + 1e-9));
    const int e1 = std::max(e0 + 1, static_cast<int>(std::floor(b + 1e-9)));
    first_element_[i] = e0;
    element_count_[i] = e1 - e0;
    lo = std::min(lo, e0);
    hi = std::max(hi, e1);
  }
  span_first_ = lo;
  span_count_ = hi - lo;

  // Per element weight: LED response times exposure (the LEDs have no infrared), and
  // the sensitivity the film adapter's light meets (the infrared block's that of
  // the red elements); the pixel's mean is taken in build().
  lit_ = p.leds_on;
  for (int k = 0; k < 3; ++k) row_[k].assign(span_count_, 0.0f);
  for (int k = 0; k < channels_; ++k) {
    const int c = colour_[k];
    weight_[k].assign(span_count_, 0.0f);
    film_weight_[k].assign(span_count_, 0.0f);
    const float exposure =
        p.leds_on && c < kInfrared ? static_cast<float>(p.exposure_ticks[c]) : 0.0f;
    for (int i = 0; i < span_count_; ++i) {
      const int e = span_first_ + i;
      if (e < 0 || e >= kSensorElements) continue;
      if (c < kInfrared) weight_[k][i] = sensor.response(c, e) * exposure;
      film_weight_[k][i] = sensor.sensitivity(c < kInfrared ? c : 0, e);
    }
  }
  dark_.resize(pixels_);
  for (uint32_t i = 0; i < pixels_; ++i) {
    float sum = 0;
    for (int j = 0; j < element_count_[i]; ++j) {
      const int e = first_element_[i] + j;
      sum += e >= 0 && e < kSensorElements ? sensor.dark(e) : sensor.dark_level();
    }
    dark_[i] = sum / element_count_[i];
  }
  // Raw order: below 1200 dpi pixel order; from 1200 dpi k sub-blocks, sub-block b
  // holding the pixels of phase (b & 1) * k / 2 + b / 2, the remainder at the end.
  order_.resize(pixels_);
  uint32_t k = r >= 1200 ? (r / 1200) * 2 : 1;
  if (k != 2 && k != 4 && k != 8) k = r >= 1200 ? 2 : 1;
  const uint32_t per = pixels_ / k;
  uint32_t at = 0;
  for (uint32_t b = 0; b < k; ++b) {
    const uint32_t phase = (b & 1) * (k / 2) + b / 2;
    for (uint32_t j = 0; j < per; ++j) order_[at++] = j * k + phase;
  }
  for (uint32_t q = per * k; q < pixels_; ++q) order_[at++] = q;

  if (shading_) {
    // The chip has shading areas for the three colours only: an infrared block
    // passes uncorrected.
    for (int b = 0; b < channels_ && colour_[b] < kInfrared; ++b) {
      offset_[b].resize(pixels_);
      gain_[b].resize(pixels_);
      const uint32_t area = p.shading_address[colour_[b]];
      for (uint32_t i = 0; i < pixels_; ++i) {
        uint32_t w = 2 * i;
        if (p.shading_blocks) w = (w / 252) * 256 + w % 252;
        offset_[b][i] = memory.word(area + 2 * w);
        gain_[b][i] = memory.word(area + 2 * w + 2);
      }
    }
  }
  if (gamma_) {
    for (int b = 0; b < channels_ && colour_[b] < kInfrared; ++b) {
      curve_[b].resize(256);
      const uint32_t base_address = kGammaBase + kGammaCurveBytes * colour_[b];
      for (int i = 0; i < 256; ++i) curve_[b][i] = static_cast<uint8_t>(memory.word(base_address + 2 * i) >> 8);
    }
  }
}

void LineRecipe::load_row(const Scene& scene, int y) {
  if (row_valid_ && row_y_ == y) return;
  const int x0 = span_first_ - lead_in_;
  if (channels_ != 1) {
    scene.fill_row(y, x0, span_count_, row_[0].data(), row_[1].data(), row_[2].data());
  } else {
    // Grey is the green LED's view; red and blue of the row go to scratch.
    row_[1].resize(span_count_);
    row_[2].resize(span_count_);
    scene.fill_row(y, x0, span_count_, row_[1].data(), row_[0].data(), row_[2].data());
  }
  row_y_ = y;
  row_valid_ = true;
}

void LineRecipe::load_film_row(const Scene& scene, int y) {
  if (film_row_valid_ && film_row_y_ == y) return;
  for (auto& row : film_row_) row.resize(span_count_);
  scene.fill_transmittance_row(y, span_first_ - lead_in_, span_count_, film_row_[0].data(),
                               film_row_[1].data(), film_row_[2].data());
  film_row_y_ = y;
  film_row_valid_ = true;
}

void LineRecipe::build(const Scene& scene, int y, uint64_t line_number, uint8_t* out) {
  if (pixels_ == 0) return;
  if (lit_) load_row(scene, y);
  const bool film_lit = film_ > 0.0f || infrared_ > 0.0f;
  if (film_lit) load_film_row(scene, y);
  for (int b = 0; b < channels_; ++b) {
    const float* refl = row_[b < 3 ? b : 0].data();
    const float* weight = weight_[b].data();
    const int c = colour_[b];
    // The film adapter's light through the transparency (the infrared passes the
    // dyes: the transparency is clear to it).
    const float film = c == kInfrared ? infrared_ : film_;
    const float* passes = c < kInfrared && film > 0.0f ? film_row_[c].data() : nullptr;
    const float* sensitivity = film_weight_[b].data();
    uint8_t* block = out + static_cast<size_t>(b) * pixels_ * (wide_ ? 2 : 1);
    for (uint32_t pos = 0; pos < pixels_; ++pos) {
      const uint32_t px = order_[pos];
      const int first = first_element_[px] - span_first_;
      const int count = element_count_[px];
      float signal = 0;
      if (lit_ && c < kInfrared) {
        if (count == 1) {
          signal = refl[first] * weight[first];
        } else {
          for (int j = 0; j < count; ++j) signal += refl[first + j] * weight[first + j];
          signal /= static_cast<float>(count);
        }
      }
      if (film > 0.0f) {
        float through = 0;
        for (int j = 0; j < count; ++j) {
          through += sensitivity[first + j] * (passes != nullptr ? passes[first + j] : 1.0f);
        }
        signal += film * through / static_cast<float>(count);
      }
      float v = dark_[px] + signal + glitch_;
      if (noise_) v += sensor_.sigma(signal) * sensor_.normal(line_number, px, colour_[b]);
      int32_t sample = static_cast<int32_t>(v + 0.5f);
      sample = sample < 0 ? 0 : (sample > 65535 ? 65535 : sample);
      if (shading_ && c < kInfrared) {
        // Shading words follow the order the samples leave the chip in (the order
        // calibration read its references in), not the sensor's pixel order.
        const int32_t d = sample - offset_[b][pos];
        const int64_t corrected = d <= 0 ? 0 : (int64_t{d} * gain_[b][pos]) >> 13;
        sample = corrected > 65535 ? 65535 : static_cast<int32_t>(corrected);
      }
      if (wide_) {
        block[2 * pos] = static_cast<uint8_t>(sample);
        block[2 * pos + 1] = static_cast<uint8_t>(sample >> 8);
      } else {
        const uint8_t high = static_cast<uint8_t>(sample >> 8);
        block[pos] = gamma_ && c < kInfrared ? curve_[b][high] : high;
      }
    }
  }
}

}  // namespace qrx::emu
