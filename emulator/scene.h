// What lies on the glass: the white calibration strip with the black reference mark,
// and the document at the scan origin (the built-in test chart or an image file).
// Reflectance is linear, 0 (black) to 1; positions are glass coordinates in 2400 dpi
// units (x from the left edge of the glass, y from the sensor line at home).
#pragma once

#include <memory>
#include <string>

namespace qrx::emu {

// A document: reflectance in its own coordinates (2400 dpi units from its top left).
class Document {
 public:
  virtual ~Document() = default;
  virtual int width_units() const = 0;
  virtual int height_units() const = 0;
  // Reflectance at (x, y) inside the document.
  virtual void sample(int x, int y, float rgb[3]) const = 0;
  // r/g/b[i] = reflectance at (x0 + i, y) for i < n; the span lies inside the document.
  virtual void fill_row(int y, int x0, int n, float* r, float* g, float* b) const;
};

std::unique_ptr<Document> make_test_chart();
// The built-in transparency (a 35 mm slide); its values are transmittance.
std::unique_ptr<Document> make_film_slide();

struct SceneLayout {
  int origin_y_units = 0;  // glass y of the document's top edge (the scan origin)
  int mark_left_units = 0, mark_right_units = 0;
  int mark_top_units = 0, mark_bottom_units = 0;
  // Right of mark_split_units the mark lies mark_step_units lower.
  int mark_split_units = 0, mark_step_units = 0;
  float mark_reflectance = 0;
  int document_width_units = 0, document_height_units = 0;
  // Glass y of the film windows' y = 0; glass position and size of the
  // transparency in the film holder.
  int film_origin_y_units = 0;
  int film_x_units = 0, film_y_units = 0;
  int film_width_units = 0, film_height_units = 0;
};

// The reference mark: 0 the standard mark, 1 none, 2 one wide enough to cover both
// columns of the edge search; its reflectance; for the wide mark, how much lower
// (2400 dpi units) its part under the second column starts.
struct MarkShape {
  int kind = 0;
  float reflectance = 0.04f;
  int step_units = 0;
};

class Scene {
 public:
  // The test chart when document is empty, else the image file (placed at its own
  // resolution, 300 dpi when it states none); in the film holder the built-in slide
  // when film is empty, else that image file (its values taken as transmittance).
  // nullptr with a message on failure.
  static std::unique_ptr<Scene> create(const std::string& document, std::string& error,
                                       const MarkShape& mark = MarkShape{},
                                       const std::string& film = std::string());

  // Reflectance at glass position (x, y), sampled at the 2400 dpi unit containing it.
  void reflectance(double x, double y, float rgb[3]) const;
  // r/g/b[i] = reflectance at glass (x0 + i, y) for i < n.
  void fill_row(int y, int x0, int n, float* r, float* g, float* b) const;
  // What share of the film adapter's light passes glass position (x, y): the
  // transparency's transmittance where it lies, 1 (clear glass) everywhere else.
  void transmittance(double x, double y, float rgb[3]) const;
  // r/g/b[i] = transmittance at glass (x0 + i, y) for i < n.
  void fill_transmittance_row(int y, int x0, int n, float* r, float* g, float* b) const;
  const SceneLayout& layout() const { return layout_; }

 private:
  Scene(std::unique_ptr<Document> document, const MarkShape& mark, std::unique_ptr<Document> film);
  // Calls fill(from, to) for the part of row y's mark that lies in [from, to).
  template <class Fill>
  void mark_spans(int y, Fill&& fill) const;
  std::unique_ptr<Document> document_;
  std::unique_ptr<Document> film_;
  SceneLayout layout_;
};

}  // namespace qrx::emu
