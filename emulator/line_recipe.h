// Turns the glass under the sensor into one raw line as the chip delivers it: binning
// of sensor elements to the read resolution, LED exposure, dark offset, response
// non-uniformity and noise, saturation, shading, 8-bit gamma, and the planar layout
// with its segment order at 1200 dpi and above. Prepared once per pass.
#pragma once

#include <cstdint>
#include <vector>

#include "emulator/programme.h"

namespace qrx::emu {

class ChipMemory;
class Scene;
class Sensor;

class LineRecipe {
 public:
  LineRecipe(const Programme& programme, const Sensor& sensor, const ChipMemory& memory);

  uint32_t pixels() const { return pixels_; }
  int channels() const { return channels_; }
  uint32_t line_bytes() const { return line_bytes_; }
  // Glass x seen by window pixel p (its first sensor element).
  int glass_x(uint32_t p) const { return first_element_[p] - lead_in_; }
  // Counts the film lamp adds to every sensor element of the following lines.
  void set_film_light(float counts) { film_ = counts; }
  // Counts added to every sample of the following lines (a glitching sensor).
  void set_glitch(float counts) { glitch_ = counts; }
  // Writes the raw line seen at glass row y into out[0 .. line_bytes()).
  void build(const Scene& scene, int y, uint64_t line_number, uint8_t* out);

 private:
  void load_row(const Scene& scene, int y);

  const Sensor& sensor_;
  uint32_t pixels_ = 0;
  int channels_ = 3;
  int colour_[3] = {0, 1, 2};  // LED / shading area / gamma curve of each block
  bool wide_ = false;
  bool shading_ = false;
  bool gamma_ = false;
  bool noise_ = false;
  int lead_in_ = 128;
  uint32_t line_bytes_ = 0;
  std::vector<int> first_element_;   // per pixel
  std::vector<int> element_count_;   // per pixel
  std::vector<uint32_t> order_;      // raw block position -> pixel
  int span_first_ = 0, span_count_ = 0;  // sensor elements the window touches
  std::vector<float> weight_[3];     // per element of the span: response * exposure / count
  std::vector<float> dark_;          // per pixel
  std::vector<float> inside_;        // per pixel: share of its elements on the sensor
  float film_ = 0;
  float glitch_ = 0;
  std::vector<uint16_t> offset_[3], gain_[3];  // shading per pixel
  std::vector<uint8_t> curve_[3];    // 8-bit gamma by high byte
  std::vector<float> row_[3];        // reflectance of the span at row_y_
  int row_y_ = 0;
  bool row_valid_ = false;
};

}  // namespace qrx::emu
