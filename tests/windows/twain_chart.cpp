// The chart on a scan's pixel grid (see twain_chart.h).
#include "twain_chart.h"

#include <cmath>
#include <memory>

#include "emulator/scene.h"
#include "harness.h"

namespace qrx::wintest {
namespace {

constexpr double kUnitsPerInch = 2400;  // the scene's unit

}  // namespace

ChartFit fit_chart(const Picture& p, const Frame& frame, int dpi, int reach) {
  std::string error;
  static std::unique_ptr<emu::Scene> scene = emu::Scene::create("", error);
  CHECK(scene != nullptr, "the emulator's scene: %s", error.c_str());
  const double step = kUnitsPerInch / dpi;
  const int points = std::max(1, std::min(4, static_cast<int>(std::lround(step))));
  const int w = static_cast<int>(p.width) + 2 * reach, h = static_cast<int>(p.height) + 2 * reach;
  const int channels = p.channels;
  std::vector<double> truth(size_t(w) * h * channels);
  const double x0 = frame.left * kUnitsPerInch, y0 = frame.top * kUnitsPerInch;
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      double sum[3] = {0, 0, 0};
      for (int b = 0; b < points; ++b) {
        for (int a = 0; a < points; ++a) {
          float rgb[3];
          scene->reflectance(x0 + (i - reach + (a + 0.5) / points) * step,
                             scene->layout().origin_y_units + y0 + (j - reach + (b + 0.5) / points) * step,
                             rgb);
          for (int c = 0; c < 3; ++c) sum[c] += rgb[c];
        }
      }
      double* out = &truth[(size_t(j) * w + i) * channels];
      if (channels == 1) {
        out[0] = sum[1];
      } else {
        for (int c = 0; c < 3; ++c) out[c] = sum[c];
      }
    }
  }
  ChartFit best;
  for (int dy = -reach; dy <= reach; ++dy) {
    for (int dx = -reach; dx <= reach; ++dx) {
      double total = 0;
      for (int c = 0; c < channels; ++c) {
        double n = 0, sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
        for (uint32_t y = 0; y < p.height; ++y) {
          for (uint32_t x = 0; x < p.width; ++x) {
            const double a = p.at(x, y, c);
            const double b = truth[(size_t(y + reach + dy) * w + (x + reach + dx)) * channels + c];
            n += 1;
            sa += a;
            sb += b;
            saa += a * a;
            sbb += b * b;
            sab += a * b;
          }
        }
        const double cov = sab - sa * sb / n, va = saa - sa * sa / n, vb = sbb - sb * sb / n;
        total += va > 0 && vb > 0 ? cov / std::sqrt(va * vb) : 0;
      }
      const double mean = total / channels;
      if (mean > best.correlation) best = {mean, dx, dy};
    }
  }
  return best;
}

}  // namespace qrx::wintest
