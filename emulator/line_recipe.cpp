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

  // Per element weight: LED response times exposure, shared out over the pixel's elements.
  for (int k = 0; k < channels_; ++k) {
    const int c = colour_[k];
    weight_[k].assign(span_count_, 0.0f);  // the pixel's mean is taken in build()
    row_[k].assign(span_count_, 0.0f);
    const float exposure = p.leds_on ? static_cast<float>(p.exposure_ticks[c]) : 0.0f;
    for (int i = 0; i < span_count_; ++i) {
      const int e = span_first_ + i;
      if (e >= 0 && e < kSensorElements) weight_[k][i] = sensor.response(c, e) * exposure;
    }
  }
  dark_.resize(pixels_);
  inside_.resize(pixels_);
  for (uint32_t i = 0; i < pixels_; ++i) {
    float sum = 0;
    int inside = 0;
    for (int j = 0; j < element_count_[i]; ++j) {
      const int e = first_element_[i] + j;
      const bool on_sensor = e >= 0 && e < kSensorElements;
      sum += on_sensor ? sensor.dark(e) : sensor.dark_level();
      inside += on_sensor ? 1 : 0;
    }
    dark_[i] = sum / element_count_[i];
    inside_[i] = static_cast<float>(inside) / element_count_[i];
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
    for (int b = 0; b < channels_; ++b) {
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
    for (int b = 0; b < channels_; ++b) {
      curve_[b].resize(256);
      const uint32_t base_address = kGammaBase + kGammaCurveBytes * colour_[b];
      for (int i = 0; i < 256; ++i) curve_[b][i] = static_cast<uint8_t>(memory.word(base_address + 2 * i) >> 8);
    }
  }
}

void LineRecipe::load_row(const Scene& scene, int y) {
  if (row_valid_ && row_y_ == y) return;
  const int x0 = span_first_ - lead_in_;
  if (channels_ == 3) {
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

void LineRecipe::build(const Scene& scene, int y, uint64_t line_number, uint8_t* out) {
  if (pixels_ == 0) return;
  load_row(scene, y);
  for (int b = 0; b < channels_; ++b) {
    const float* refl = row_[b].data();
    const float* weight = weight_[b].data();
    uint8_t* block = out + static_cast<size_t>(b) * pixels_ * (wide_ ? 2 : 1);
    for (uint32_t pos = 0; pos < pixels_; ++pos) {
      const uint32_t px = order_[pos];
      const int first = first_element_[px] - span_first_;
      const int count = element_count_[px];
      float signal;
      if (count == 1) {
        signal = refl[first] * weight[first];
      } else {
        signal = 0;
        for (int j = 0; j < count; ++j) signal += refl[first + j] * weight[first + j];
        signal /= static_cast<float>(count);
      }
      signal += film_ * inside_[px];
      float v = dark_[px] + signal + glitch_;
      if (noise_) v += sensor_.sigma(signal) * sensor_.normal(line_number, px, colour_[b]);
      int32_t sample = static_cast<int32_t>(v + 0.5f);
      sample = sample < 0 ? 0 : (sample > 65535 ? 65535 : sample);
      if (shading_) {
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
        block[pos] = gamma_ ? curve_[b][high] : high;
      }
    }
  }
}

}  // namespace qrx::emu
