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

// The reflectance (or transmittance) of the scene on a pixel grid of x_resolution
// across and y_resolution down over the window's whole pixels, `margin` pixels wider
// on every side: each pixel the mean over its footprint. Channels: 3 (R, G, B), or 1
// (the green a grey scan is read with).
inline Image render_truth(const emu::Scene& scene, const Window& w, uint32_t x_resolution,
                          uint32_t y_resolution, uint32_t channels, int margin,
                          Light light = Light::kReflected) {
  const double step_x = 2400.0 / x_resolution;  // pixel size in 2400 dpi units
  const double step_y = 2400.0 / y_resolution;
  const int points_x = std::clamp(static_cast<int>(std::lround(step_x)), 1, 4);
  const int points_y = std::clamp(static_cast<int>(std::lround(step_y)), 1, 4);
  const double origin_y = light == Light::kTransmitted ? scene.layout().film_origin_y_units
                                                       : scene.layout().origin_y_units;
  Image truth;
  // Whole pixels of the window, as the scan counts them.
  truth.width = static_cast<uint32_t>(w.width / step_x) + 2 * margin;
  truth.height = static_cast<uint32_t>(w.length / step_y) + 2 * margin;
  truth.channels = channels;
  truth.samples.resize(static_cast<size_t>(truth.width) * truth.height * channels);
  const double points = points_x * points_y;
  for (uint32_t j = 0; j < truth.height; ++j) {
    for (uint32_t i = 0; i < truth.width; ++i) {
      double sum[3] = {0, 0, 0};
      for (int b = 0; b < points_y; ++b) {
        for (int a = 0; a < points_x; ++a) {
          const double x = w.x + (static_cast<int>(i) - margin + (a + 0.5) / points_x) * step_x;
          const double y = w.y + (static_cast<int>(j) - margin + (b + 0.5) / points_y) * step_y;
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
        out[0] = sum[1] / points;
      } else {
        for (int c = 0; c < 3; ++c) out[c] = sum[c] / points;
      }
    }
  }
  return truth;
}

inline Image render_truth(const emu::Scene& scene, const Window& w, uint32_t resolution,
                          uint32_t channels, int margin, Light light = Light::kReflected) {
  return render_truth(scene, w, resolution, resolution, channels, margin, light);
}

// Scan rows [first, end) of an image.
struct Rows {
  uint32_t first = 0, end = UINT32_MAX;
};

// Pearson correlation of one channel of the scan (its rows `rows`) with the truth
// shifted by (dx, dy) pixels (the truth carries a margin of `margin` pixels).
inline double correlation(const Image& scan, const Image& truth, int margin, uint32_t channel,
                          int dx, int dy, Rows rows = {}) {
  double n = 0, sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  for (uint32_t y = rows.first; y < std::min(scan.height, rows.end); ++y) {
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

// Where, across, the one edge in columns [x0, x1) of channel c lies, in pixels from
// column 0 of the image and to a fraction of a pixel: the mean of rows `rows` (of
// the image's own rows, the truth's margin included) crosses halfway between its
// levels at x0 and x1 - 1 there. -1 when it never does.
inline double edge_across(const Image& image, uint32_t c, Rows rows, uint32_t x0, uint32_t x1) {
  std::vector<double> profile(x1 - x0, 0.0);
  const uint32_t end = std::min(image.height, rows.end);
  for (uint32_t x = x0; x < x1; ++x) {
    for (uint32_t y = rows.first; y < end; ++y) profile[x - x0] += image.at(x, y, c);
  }
  const double half = (profile.front() + profile.back()) / 2;
  for (size_t i = 0; i + 1 < profile.size(); ++i) {
    const double a = profile[i] - half, b = profile[i + 1] - half;
    if ((a <= 0 && b > 0) || (a >= 0 && b < 0)) return x0 + i + a / (a - b);
  }
  return -1;
}

struct Alignment {
  int dx = 0, dy = 0;
  double correlation = -1;
};

// The shift within +-reach pixels under which the scan (all channels; its rows
// `rows`) matches the truth best.
inline Alignment best_alignment(const Image& scan, const Image& truth, int margin, int reach,
                                Rows rows = {}) {
  Alignment best;
  for (int dy = -reach; dy <= reach; ++dy) {
    for (int dx = -reach; dx <= reach; ++dx) {
      double sum = 0;
      for (uint32_t c = 0; c < scan.channels; ++c)
        sum += correlation(scan, truth, margin, c, dx, dy, rows);
      const double mean = sum / scan.channels;
      if (mean > best.correlation) best = {dx, dy, mean};
    }
  }
  return best;
}

}  // namespace qrx::test
