// The built-in transparency: a 35 mm colour slide (24 x 36 mm, upright) of smooth
// colour ramps, an eight-step grey wedge, a dark square turned by 5 degrees and three
// colour patches. Its values are transmittance, kept between 0.05 and 0.85.
#include <cmath>

#include "emulator/scene.h"

namespace qrx::emu {
namespace {

constexpr int kWidth = 2240;   // 2400 dpi units, about 24 mm
constexpr int kHeight = 3360;  // about 36 mm
constexpr float kDense = 0.05f;
constexpr float kClear = 0.85f;

class FilmSlide final : public Document {
 public:
  int width_units() const override { return kWidth; }
  int height_units() const override { return kHeight; }

  void sample(int x, int y, float rgb[3]) const override {
    const float fx = static_cast<float>(x) / kWidth, fy = static_cast<float>(y) / kHeight;
    rgb[0] = 0.15f + 0.65f * fx;
    rgb[1] = 0.15f + 0.65f * fy;
    rgb[2] = 0.80f - 0.60f * (fx + fy) / 2.0f;
    if (y >= 200 && y < 600 && x >= 120 && x < kWidth - 120) {
      // The wedge: eight steps from dense to clear.
      const int step = (x - 120) * 8 / (kWidth - 240);
      rgb[0] = rgb[1] = rgb[2] = kDense + (kClear - kDense) * static_cast<float>(step) / 7.0f;
    }
    {
      const double cx = 1120, cy = 1800, c = std::cos(5.0 * 3.14159265358979 / 180),
                   s = std::sin(5.0 * 3.14159265358979 / 180);
      const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
      if (std::abs(c * dx + s * dy) < 500 && std::abs(-s * dx + c * dy) < 500) {
        rgb[0] = rgb[1] = rgb[2] = kDense;
      }
    }
    static const float patches[3][3] = {
        {0.80f, 0.10f, 0.10f}, {0.10f, 0.75f, 0.15f}, {0.10f, 0.15f, 0.80f}};
    for (int i = 0; i < 3; ++i) {
      const int left = 160 + i * 700;
      if (y >= 2700 && y < 3100 && x >= left && x < left + 520) {
        for (int k = 0; k < 3; ++k) rgb[k] = patches[i][k];
      }
    }
  }
};

}  // namespace

std::unique_ptr<Document> make_film_slide() {
  return std::make_unique<FilmSlide>();
}

}  // namespace qrx::emu
