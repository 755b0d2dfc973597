// What becomes of a line between the library and the front end: the tone curves
// when the backend applies them itself (the library took none it could apply),
// lineart's threshold with eight pixels a byte (1 = black, the leftmost pixel in
// the top bit, as SANE frames one-bit images), and 16-bit samples put into the
// machine's byte order (the library delivers them little-endian).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "tone_curve.h"

namespace qrx::sane {

struct LineFormat {
  uint32_t pixels = 0;   // per line
  int channels = 3;      // 1 or 3, as the library delivers them
  bool wide = false;     // 16-bit samples
  bool lineart = false;  // one channel of 8 bits, thresholded
  // Levels (0..255) below it are black.
  double threshold = 127.5;
};

class LineConverter {
 public:
  // curves: applied to the samples here; null when the library applied them.
  LineConverter(const LineFormat& format, std::shared_ptr<const ToneCurves> curves);

  uint32_t input_bytes() const;
  uint32_t output_bytes() const;
  // Converts one line of input_bytes() (changed in place); the result stays valid
  // until the next call.
  const uint8_t* convert(uint8_t* line);

 private:
  LineFormat format_;
  std::shared_ptr<const ToneCurves> curves_;
  std::array<std::array<uint8_t, 256>, 3> narrow_{};  // the curves for 8-bit samples
  std::vector<uint8_t> packed_;
};

}  // namespace qrx::sane
