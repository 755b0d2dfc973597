// A document for the emulated scanner's glass, written as a PNM file (the
// emulator places it at the scan origin at 300 dpi), and the measure of how well
// a scan of it shows it: the correlation of the scan's samples with the
// document's at the best small shift.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qrx::test {

struct Document {
  uint32_t width = 0, height = 0;  // pixels at 300 dpi
  std::vector<uint8_t> rgb;        // row by row
  uint8_t at(uint32_t x, uint32_t y, int channel) const {
    return rgb[(size_t{y} * width + x) * 3 + channel];
  }
};

// Large shapes a scan keeps at 300 dpi: a grey ramp across, a black block, red,
// green and blue blocks, thick bars.
Document make_document(uint32_t width, uint32_t height);
bool write_pnm(const Document& document, const std::string& path);

struct Fit {
  double correlation = -1;  // Pearson, over all channels compared
  int dx = 0, dy = 0;       // scan pixel (x, y) shows document pixel (x + dx, y + dy)
};

// The best fit of a scan of the document's top-left corner at 300 dpi within
// max_shift pixels either way. samples: row by row, channels interleaved; a
// one-channel scan is compared with the document's green (the emulator reads grey
// with the green light).
Fit best_fit(const Document& document, const std::vector<uint16_t>& samples, uint32_t width,
             uint32_t height, int channels, int max_shift);

}  // namespace qrx::test
