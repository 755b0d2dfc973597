// What a host gets from a whole scan, and how it compares with what lies on the
// glass: the host sequence through the exports, the emulator scene's reflectance
// rendered on the scan's pixel grid, correlation, and the shift that lines the
// two up best.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "emulator/scene.h"
#include "qrx7730.h"

namespace qrx::test {

// A window in 2400 dpi units from the scan origin.
struct Window {
  uint32_t x, y, width, length;
};

// Samples as delivered, one value per pixel and channel, row by row.
struct Image {
  uint32_t width = 0, height = 0, channels = 0;
  std::vector<double> samples;
  double at(uint32_t x, uint32_t y, uint32_t c) const {
    return samples[(static_cast<size_t>(y) * width + x) * channels + c];
  }
};

// What a scan sees of the scene: the document's reflectance under the LEDs, or
// the transparency's transmittance under the film adapter's lamp.
enum class Light { kReflected, kTransmitted };

// The reflectance (or transmittance) of the scene on a pixel grid of `resolution`
// over the window, `margin` pixels wider on every side: each pixel the mean over
// its footprint. Channels: 3 (R, G, B), or 1 (the green a grey scan is read with).
inline Image render_truth(const emu::Scene& scene, const Window& w, uint32_t resolution,
                          uint32_t channels, int margin, Light light = Light::kReflected) {
  const double step = 2400.0 / resolution;  // pixel size in 2400 dpi units
  const int points = std::clamp(static_cast<int>(std::lround(step)), 1, 4);
  const double origin_y = light == Light::kTransmitted ? scene.layout().film_origin_y_units
                                                       : scene.layout().origin_y_units;
  Image truth;
  truth.width = static_cast<uint32_t>(std::lround(w.width / step)) + 2 * margin;
  truth.height = static_cast<uint32_t>(std::lround(w.length / step)) + 2 * margin;
  truth.channels = channels;
  truth.samples.resize(static_cast<size_t>(truth.width) * truth.height * channels);
  for (uint32_t j = 0; j < truth.height; ++j) {
    for (uint32_t i = 0; i < truth.width; ++i) {
      double sum[3] = {0, 0, 0};
      for (int b = 0; b < points; ++b) {
        for (int a = 0; a < points; ++a) {
          const double x = w.x + (static_cast<int>(i) - margin + (a + 0.5) / points) * step;
          const double y = w.y + (static_cast<int>(j) - margin + (b + 0.5) / points) * step;
          float rgb[3];
          if (light == Light::kTransmitted) {
            scene.transmittance(x, origin_y + y, rgb);
          } else {
            scene.reflectance(x, origin_y + y, rgb);
          }
          for (int c = 0; c < 3; ++c) sum[c] += rgb[c];
        }
      }
      double* out = &truth.samples[(static_cast<size_t>(j) * truth.width + i) * channels];
      if (channels == 1) {
        out[0] = sum[1] / (points * points);
      } else {
        for (int c = 0; c < 3; ++c) out[c] = sum[c] / (points * points);
      }
    }
  }
  return truth;
}

// Pearson correlation of one channel of the scan with the truth shifted by
// (dx, dy) pixels (the truth carries a margin of `margin` pixels).
inline double correlation(const Image& scan, const Image& truth, int margin, uint32_t channel,
                          int dx, int dy) {
  double n = 0, sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  for (uint32_t y = 0; y < scan.height; ++y) {
    for (uint32_t x = 0; x < scan.width; ++x) {
      const int tx = static_cast<int>(x) + margin + dx, ty = static_cast<int>(y) + margin + dy;
      if (tx < 0 || ty < 0 || tx >= static_cast<int>(truth.width) ||
          ty >= static_cast<int>(truth.height)) {
        continue;
      }
      const double a = scan.at(x, y, channel), b = truth.at(tx, ty, channel);
      n += 1;
      sa += a;
      sb += b;
      saa += a * a;
      sbb += b * b;
      sab += a * b;
    }
  }
  const double cov = sab - sa * sb / n, va = saa - sa * sa / n, vb = sbb - sb * sb / n;
  return va > 0 && vb > 0 ? cov / std::sqrt(va * vb) : 0.0;
}

struct Alignment {
  int dx = 0, dy = 0;
  double correlation = -1;
};

// The shift within +-reach pixels under which the scan (all channels) matches the
// truth best.
inline Alignment best_alignment(const Image& scan, const Image& truth, int margin, int reach) {
  Alignment best;
  for (int dy = -reach; dy <= reach; ++dy) {
    for (int dx = -reach; dx <= reach; ++dx) {
      double sum = 0;
      for (uint32_t c = 0; c < scan.channels; ++c)
        sum += correlation(scan, truth, margin, c, dx, dy);
      const double mean = sum / scan.channels;
      if (mean > best.correlation) best = {dx, dy, mean};
    }
  }
  return best;
}

}  // namespace qrx::test
