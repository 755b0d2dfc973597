// The built-in test chart (8.5 x 11 inch): a 16-step grey ramp, six colour patches, a
// large black patch, a slanted edge, line pairs across and along the travel, and
// registration marks in the four corners. Drawn procedurally, row by row.
#include <algorithm>
#include <cmath>
#include <vector>

#include "emulator/scene.h"

namespace qrx::emu {
namespace {

constexpr float kPaper = 0.86f;
constexpr float kInk = 0.03f;

enum class Shape { Solid, GreySteps, BarsAcross, BarsAlong, SlantedSquare, Registration };

struct Item {
  Shape shape;
  int x0, y0, x1, y1;   // bounding box, half-open
  float rgb[3];
  int param;            // bar period (units), step count, or 0
};

class TestChart final : public Document {
 public:
  TestChart() {
    const auto add = [this](Shape s, int x0, int y0, int x1, int y1, float r, float g, float b,
                            int param) { items_.push_back({s, x0, y0, x1, y1, {r, g, b}, param}); };
    // Registration marks: a cross and a ring, 480 units across, in each corner.
    for (int cx : {600, 19800})
      for (int cy : {600, 25800}) add(Shape::Registration, cx - 300, cy - 300, cx + 300, cy + 300, kInk, kInk, kInk, 0);
    add(Shape::GreySteps, 1200, 1200, 19200, 2400, 0, 0, 0, 16);
    const float patches[6][3] = {{0.80f, 0.08f, 0.08f}, {0.08f, 0.70f, 0.10f}, {0.08f, 0.10f, 0.75f},
                                 {0.08f, 0.65f, 0.80f}, {0.80f, 0.10f, 0.65f}, {0.85f, 0.80f, 0.08f}};
    for (int i = 0; i < 6; ++i)
      add(Shape::Solid, 1200 + i * 3000, 3000, 3600 + i * 3000, 4800, patches[i][0], patches[i][1], patches[i][2], 0);
    add(Shape::SlantedSquare, 3000, 6000, 9000, 12000, kInk, kInk, kInk, 0);
    add(Shape::Solid, 12000, 6600, 16800, 11400, kInk, kInk, kInk, 0);
    const int periods[6] = {2, 4, 8, 16, 32, 64};
    for (int i = 0; i < 6; ++i) {
      add(Shape::BarsAcross, 1200 + i * 3000, 13200, 3600 + i * 3000, 15600, kInk, kInk, kInk, periods[i]);
      add(Shape::BarsAlong, 1200 + i * 3000, 16200, 3600 + i * 3000, 18600, kInk, kInk, kInk, periods[i]);
    }
  }

  int width_units() const override { return 20400; }
  int height_units() const override { return 26400; }

  void sample(int x, int y, float rgb[3]) const override {
    rgb[0] = rgb[1] = rgb[2] = kPaper;
    for (const Item& item : items_)
      if (x >= item.x0 && x < item.x1 && y >= item.y0 && y < item.y1) paint(item, x, y, rgb);
  }

  void fill_row(int y, int x0, int n, float* r, float* g, float* b) const override {
    std::fill(r, r + n, kPaper);
    std::fill(g, g + n, kPaper);
    std::fill(b, b + n, kPaper);
    for (const Item& item : items_) {
      if (y < item.y0 || y >= item.y1) continue;
      const int from = std::max(item.x0, x0), to = std::min(item.x1, x0 + n);
      for (int x = from; x < to; ++x) {
        float rgb[3] = {r[x - x0], g[x - x0], b[x - x0]};
        paint(item, x, y, rgb);
        r[x - x0] = rgb[0];
        g[x - x0] = rgb[1];
        b[x - x0] = rgb[2];
      }
    }
  }

 private:
  static void set(float rgb[3], float v) { rgb[0] = rgb[1] = rgb[2] = v; }

  static void paint(const Item& item, int x, int y, float rgb[3]) {
    switch (item.shape) {
      case Shape::Solid:
        rgb[0] = item.rgb[0];
        rgb[1] = item.rgb[1];
        rgb[2] = item.rgb[2];
        break;
      case Shape::GreySteps: {
        const int step = (x - item.x0) * item.param / (item.x1 - item.x0);
        set(rgb, kInk + (kPaper - kInk) * static_cast<float>(step) / (item.param - 1));
        break;
      }
      case Shape::BarsAcross:
        if ((x - item.x0) % item.param < item.param / 2) set(rgb, kInk);
        break;
      case Shape::BarsAlong:
        if ((y - item.y0) % item.param < item.param / 2) set(rgb, kInk);
        break;
      case Shape::SlantedSquare: {
        // A 4800-unit square turned by 5 degrees about the box centre.
        const double cx = (item.x0 + item.x1) / 2.0, cy = (item.y0 + item.y1) / 2.0;
        const double c = std::cos(5.0 * 3.14159265358979 / 180), s = std::sin(5.0 * 3.14159265358979 / 180);
        const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
        const double u = c * dx + s * dy, v = -s * dx + c * dy;
        if (std::abs(u) < 2400 && std::abs(v) < 2400) set(rgb, kInk);
        break;
      }
      case Shape::Registration: {
        const int cx = (item.x0 + item.x1) / 2, cy = (item.y0 + item.y1) / 2;
        const int dx = x - cx, dy = y - cy;
        const double radius = std::sqrt(double(dx) * dx + double(dy) * dy);
        const bool cross = (std::abs(dx) < 6 || std::abs(dy) < 6) && radius < 300;
        const bool ring = radius >= 228 && radius < 240;
        if (cross || ring) set(rgb, kInk);
        break;
      }
    }
  }

  std::vector<Item> items_;
};

}  // namespace

std::unique_ptr<Document> make_test_chart() { return std::make_unique<TestChart>(); }

}  // namespace qrx::emu
