// Synthetic raw scanner lines for the read-path tests, built the way the scanner
// delivers them: planar channel blocks, each starting with the lead-in, and at
// 1200 dpi and above the whole sensor width split into k sub-blocks (sub-block b
// holding the pixels of phase (b & 1) * k / 2 + b / 2). Every sample is a known
// function of channel, line and pixel position, so tests can say what each output
// sample must be without the code under test.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace qrx::test {

struct RawLayout {
  uint32_t pixels = 0;  // samples per channel block
  uint32_t channels = 3;
  uint32_t sample_bytes = 1;  // 1 or 2
  uint32_t segments = 1;      // k: 1 below 1200 dpi, 2, 4 or 8 from 1200 up
  uint32_t bytes() const { return pixels * channels * sample_bytes; }
};

// The sample of channel c, raw line l, pixel p of the block in sensor order.
inline uint32_t raw_sample(uint32_t c, uint32_t l, uint32_t p, uint32_t sample_bytes) {
  const uint32_t v = c * 20011u + l * 131u + p * 7u + (p / 5) * 3u;
  return sample_bytes == 1 ? v % 251u : v % 65521u;
}

inline std::vector<uint8_t> raw_line(const RawLayout& layout, uint32_t l) {
  std::vector<uint8_t> line(layout.bytes());
  const uint32_t k = layout.segments;
  const uint32_t per_block = layout.pixels / k;
  for (uint32_t c = 0; c < layout.channels; ++c) {
    for (uint32_t b = 0; b < k; ++b) {
      const uint32_t phase = k == 1 ? 0 : (b & 1) * k / 2 + b / 2;
      for (uint32_t q = 0; q < per_block; ++q) {
        const uint32_t pixel = q * k + phase;
        const uint32_t at = c * layout.pixels + b * per_block + q;
        const uint32_t v = raw_sample(c, l, pixel, layout.sample_bytes);
        if (layout.sample_bytes == 1) {
          line[at] = static_cast<uint8_t>(v);
        } else {
          const uint16_t v16 = static_cast<uint16_t>(v);
          std::memcpy(&line[2 * at], &v16, 2);
        }
      }
    }
  }
  return line;
}

inline uint32_t sample_at(const std::vector<uint8_t>& line, uint32_t index, uint32_t sample_bytes) {
  if (sample_bytes == 1) return line[index];
  uint16_t v;
  std::memcpy(&v, &line[2 * index], 2);
  return v;
}

}  // namespace qrx::test
