// The glass: calibration strip, reference mark and the document at the scan origin.
#include "emulator/scene.h"

#include <algorithm>
#include <cmath>

#include "emulator/geometry.h"
#include "emulator/image_file.h"

namespace qrx::emu {
namespace {

// An image file scaled to its own resolution: nearest image pixel per 2400 dpi unit.
class ImageDocument final : public Document {
 public:
  explicit ImageDocument(Image image) : image_(std::move(image)) {
    dpi_ = image_.dpi >= 10 && image_.dpi <= 48000 ? image_.dpi : 300.0;
    width_ = static_cast<int>(std::min(1e9, std::floor(image_.width * 2400.0 / dpi_)));
    height_ = static_cast<int>(std::min(1e9, std::floor(image_.height * 2400.0 / dpi_)));
  }
  int width_units() const override { return width_; }
  int height_units() const override { return height_; }
  void sample(int x, int y, float rgb[3]) const override {
    const uint16_t* p = pixel(x, y);
    for (int c = 0; c < 3; ++c) rgb[c] = p[c] * (1.0f / 65535.0f);
  }
  void fill_row(int y, int x0, int n, float* r, float* g, float* b) const override {
    for (int i = 0; i < n; ++i) {
      const uint16_t* p = pixel(x0 + i, y);
      r[i] = p[0] * (1.0f / 65535.0f);
      g[i] = p[1] * (1.0f / 65535.0f);
      b[i] = p[2] * (1.0f / 65535.0f);
    }
  }

 private:
  const uint16_t* pixel(int x, int y) const {
    uint32_t col = static_cast<uint32_t>(x * dpi_ / 2400.0);
    uint32_t row = static_cast<uint32_t>(y * dpi_ / 2400.0);
    col = std::min(col, image_.width - 1);
    row = std::min(row, image_.height - 1);
    return image_.rgb.data() + (size_t{row} * image_.width + col) * 3;
  }
  Image image_;
  double dpi_ = 300;
  int width_ = 0, height_ = 0;
};

}  // namespace

void Document::fill_row(int y, int x0, int n, float* r, float* g, float* b) const {
  float rgb[3];
  for (int i = 0; i < n; ++i) {
    sample(x0 + i, y, rgb);
    r[i] = rgb[0];
    g[i] = rgb[1];
    b[i] = rgb[2];
  }
}

namespace {

// The test chart (or slide) when path is empty, else the image file.
std::unique_ptr<Document> load_document(const std::string& path, bool film, std::string& error) {
  if (path.empty()) return film ? make_film_slide() : make_test_chart();
  Image image;
  if (!load_image(path, image, error)) return nullptr;
  return std::make_unique<ImageDocument>(std::move(image));
}

}  // namespace

std::unique_ptr<Scene> Scene::create(const std::string& document, std::string& error,
                                     const MarkShape& mark, const std::string& film) {
  std::unique_ptr<Document> on_glass = load_document(document, false, error);
  if (!on_glass) return nullptr;
  std::unique_ptr<Document> slide = load_document(film, true, error);
  if (!slide) return nullptr;
  return std::unique_ptr<Scene>(new Scene(std::move(on_glass), mark, std::move(slide)));
}

Scene::Scene(std::unique_ptr<Document> document, const MarkShape& mark,
             std::unique_ptr<Document> film)
    : document_(std::move(document)), film_(std::move(film)) {
  layout_.origin_y_units = static_cast<int>(2 * kScanOriginSteps);
  layout_.mark_left_units = kMarkLeftUnits;
  layout_.mark_right_units = kMarkRightUnits;
  layout_.mark_top_units = 2 * kMarkTopSteps;
  layout_.mark_bottom_units = 2 * kMarkTopSteps + kMarkHeightUnits;
  layout_.mark_reflectance = mark.reflectance;
  layout_.document_width_units = document_->width_units();
  layout_.document_height_units = document_->height_units();
  layout_.film_origin_y_units = static_cast<int>(2 * kFilmOriginSteps);
  layout_.film_x_units = kFilmLeftUnits;
  layout_.film_y_units = layout_.film_origin_y_units + kFilmTopUnits;
  layout_.film_width_units = film_->width_units();
  layout_.film_height_units = film_->height_units();
  if (mark.kind == 1) {
    layout_.mark_right_units = layout_.mark_left_units;  // no mark at all
  } else if (mark.kind == 2) {
    layout_.mark_right_units = kMarkWideRightUnits;  // under both edge-search columns
    layout_.mark_step_units = mark.step_units;
  }
  // The standard mark ends where the wide one's lower part would begin.
  layout_.mark_split_units = kMarkRightUnits;
}

template <class Fill>
void Scene::mark_spans(int y, Fill&& fill) const {
  const SceneLayout& l = layout_;
  const int split = std::min(l.mark_split_units, l.mark_right_units);
  if (y >= l.mark_top_units && y < l.mark_bottom_units) fill(l.mark_left_units, split);
  const int step = l.mark_step_units;
  if (y >= l.mark_top_units + step && y < l.mark_bottom_units + step) {
    fill(split, l.mark_right_units);
  }
}

void Scene::reflectance(double xf, double yf, float rgb[3]) const {
  const int x = static_cast<int>(std::floor(xf));
  const int y = static_cast<int>(std::floor(yf));
  rgb[0] = rgb[1] = rgb[2] = static_cast<float>(kWhiteReflectance);
  const SceneLayout& l = layout_;
  mark_spans(y, [&](int left, int right) {
    if (x >= left && x < right) rgb[0] = rgb[1] = rgb[2] = l.mark_reflectance;
  });
  const int dy = y - l.origin_y_units;
  if (dy >= 0 && dy < l.document_height_units && x >= 0 && x < l.document_width_units)
    document_->sample(x, dy, rgb);
}

void Scene::fill_row(int y, int x0, int n, float* r, float* g, float* b) const {
  std::fill(r, r + n, static_cast<float>(kWhiteReflectance));
  std::fill(g, g + n, static_cast<float>(kWhiteReflectance));
  std::fill(b, b + n, static_cast<float>(kWhiteReflectance));
  const SceneLayout& l = layout_;
  const auto span = [&](int left, int right, auto&& fill) {
    const int from = std::max(left, x0);
    const int to = std::min(right, x0 + n);
    if (from < to) fill(from - x0, to - from, from);
  };
  mark_spans(y, [&](int left, int right) {
    span(left, right, [&](int at, int count, int) {
      std::fill(r + at, r + at + count, l.mark_reflectance);
      std::fill(g + at, g + at + count, l.mark_reflectance);
      std::fill(b + at, b + at + count, l.mark_reflectance);
    });
  });
  const int dy = y - l.origin_y_units;
  if (dy >= 0 && dy < l.document_height_units) {
    span(0, l.document_width_units, [&](int at, int count, int from) {
      document_->fill_row(dy, from, count, r + at, g + at, b + at);
    });
  }
}

void Scene::transmittance(double xf, double yf, float rgb[3]) const {
  const int x = static_cast<int>(std::floor(xf)) - layout_.film_x_units;
  const int y = static_cast<int>(std::floor(yf)) - layout_.film_y_units;
  rgb[0] = rgb[1] = rgb[2] = 1.0f;
  if (x >= 0 && x < layout_.film_width_units && y >= 0 && y < layout_.film_height_units) {
    film_->sample(x, y, rgb);
  }
}

void Scene::fill_transmittance_row(int y, int x0, int n, float* r, float* g, float* b) const {
  std::fill(r, r + n, 1.0f);
  std::fill(g, g + n, 1.0f);
  std::fill(b, b + n, 1.0f);
  const SceneLayout& l = layout_;
  const int dy = y - l.film_y_units;
  if (dy < 0 || dy >= l.film_height_units) return;
  const int from = std::max(l.film_x_units, x0);
  const int to = std::min(l.film_x_units + l.film_width_units, x0 + n);
  if (from < to) {
    film_->fill_row(dy, from - l.film_x_units, to - from, r + (from - x0), g + (from - x0),
                    b + (from - x0));
  }
}

}  // namespace qrx::emu
