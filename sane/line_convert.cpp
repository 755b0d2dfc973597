// The conversion of the library's lines (see line_convert.h).
#include "line_convert.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace qrx::sane {

LineConverter::LineConverter(const LineFormat& format, std::shared_ptr<const ToneCurves> curves)
    : format_(format), curves_(std::move(curves)) {
  if (curves_ != nullptr) {
    // An 8-bit sample v stands for the 16-bit level v * 257; its output is the
    // curve's there, rounded back to 8 bits.
    for (size_t c = 0; c < 3; ++c) {
      for (uint32_t v = 0; v < 256; ++v) {
        narrow_[c][v] = static_cast<uint8_t>(((*curves_)[c][v * 257] + 128) / 257);
      }
    }
  }
  if (format_.lineart) packed_.resize(output_bytes());
}

uint32_t LineConverter::input_bytes() const {
  return format_.pixels * static_cast<uint32_t>(format_.channels) * (format_.wide ? 2 : 1);
}

uint32_t LineConverter::output_bytes() const {
  return format_.lineart ? (format_.pixels + 7) / 8 : input_bytes();
}

const uint8_t* LineConverter::convert(uint8_t* line) {
  const uint32_t samples = format_.pixels * static_cast<uint32_t>(format_.channels);
  if (curves_ != nullptr) {
    for (uint32_t i = 0; i < samples; ++i) {
      const size_t c = format_.channels == 3 ? i % 3 : 1;
      if (format_.wide) {
        const uint16_t in = static_cast<uint16_t>(line[2 * i] | (line[2 * i + 1] << 8));
        const uint16_t out = (*curves_)[c][in];
        line[2 * i] = static_cast<uint8_t>(out);
        line[2 * i + 1] = static_cast<uint8_t>(out >> 8);
      } else {
        line[i] = narrow_[c][line[i]];
      }
    }
  }
  if (format_.lineart) {
    std::fill(packed_.begin(), packed_.end(), 0);
    for (uint32_t x = 0; x < format_.pixels; ++x) {
      if (line[x] < format_.threshold) packed_[x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
    }
    return packed_.data();
  }
  if (format_.wide && std::endian::native == std::endian::big) {
    for (uint32_t i = 0; i < samples; ++i) std::swap(line[2 * i], line[2 * i + 1]);
  }
  return line;
}

}  // namespace qrx::sane
