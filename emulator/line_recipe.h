// Turns the glass under the sensor into one raw line as the chip delivers it: binning
// of sensor elements to the read resolution, LED exposure, the film adapter's light
// through the transparency, dark offset, response non-uniformity and noise,
// saturation, shading, 8-bit gamma, and the planar layout (one, three or four
// channel blocks, the fourth infrared) with its segment order at 1200 dpi and
// above. Prepared once per pass.
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
  // Counts the film adapter's visible and infrared lamps add (through clear glass,
  // to an element of nominal sensitivity) to the following lines.
  void set_film_light(float visible, float infrared) {
    film_ = visible;
    infrared_ = infrared;
  }
  // Counts added to every sample of the following lines (a glitching sensor).
  void set_glitch(float counts) { glitch_ = counts; }
  // Writes the raw line seen at glass row y into out[0 .. line_bytes()).
  void build(const Scene& scene, int y, uint64_t line_number, uint8_t* out);

 private:
  void load_row(const Scene& scene, int y);
  void load_film_row(const Scene& scene, int y);

  static constexpr int kInfrared = 3;  // the colour of a four-channel read's last block

  const Sensor& sensor_;
  uint32_t pixels_ = 0;
  int channels_ = 3;
  // LED / shading area / gamma curve of each block; the infrared block has none.
  int colour_[4] = {0, 1, 2, kInfrared};
  bool lit_ = false;  // the LEDs light this pass
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
  std::vector<float> weight_[4];         // per element of the span: response * exposure
  std::vector<float> film_weight_[4];    // per element of the span: sensitivity, 0 off the sensor
  std::vector<float> dark_;              // per pixel
  float film_ = 0;
  float infrared_ = 0;
  float glitch_ = 0;
  std::vector<uint16_t> offset_[4], gain_[4];  // shading per pixel (colour blocks only)
  std::vector<uint8_t> curve_[4];              // 8-bit gamma by high byte (colour blocks only)
  std::vector<float> row_[3];        // reflectance of the span at row_y_
  int row_y_ = 0;
  bool row_valid_ = false;
  std::vector<float> film_row_[3];  // transmittance of the span at film_row_y_
  int film_row_y_ = 0;
  bool film_row_valid_ = false;
};

}  // namespace qrx::emu
