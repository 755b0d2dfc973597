// The line transforms other than the window delivery (see line_transforms.h).
#include "imaging/line_transforms.h"

#include <bit>
#include <cstring>

namespace qrx::imaging {
namespace {

static_assert(std::endian::native == std::endian::little,
              "16-bit samples are read and written in the host's order");

constexpr uint32_t kUnitsPerInch = 2400;
constexpr uint32_t kLeadInUnits = 128;
constexpr uint32_t kLeadInUnitsVariant1 = 112;
constexpr uint16_t kFilmBlack = 512;

// Sample type of a line: bytes or u16, read and written through memcpy so that
// any buffer alignment will do.
template <class T>
inline T load(const uint8_t* line, uint32_t index) {
  T v;
  std::memcpy(&v, line + index * sizeof(T), sizeof(T));
  return v;
}
template <class T>
inline void store(uint8_t* line, uint32_t index, T v) {
  std::memcpy(line + index * sizeof(T), &v, sizeof(T));
}

// Reduces one channel block: `kept` output samples from the block's samples that
// start at `block` in the first line (the next lines line_bytes further each).
template <class T>
void box_reduce_block(const uint8_t* block, uint32_t line_bytes, Reduction f, uint32_t kept,
                      uint8_t* out) {
  const uint32_t samples = f.across * f.down;
  for (uint32_t j = 0; j < kept; ++j) {
    uint32_t sum = 0;
    for (uint32_t l = 0; l < f.down; ++l) {
      const uint8_t* line = block + static_cast<size_t>(l) * line_bytes;
      for (uint32_t i = 0; i < f.across; ++i) sum += load<T>(line, f.across * j + i);
    }
    store<T>(out, j, static_cast<T>(sum / samples));
  }
}

template <class T>
uint32_t box_reduce_typed(const RawLine& lines, Reduction f, uint32_t skip, uint8_t* out) {
  const uint32_t n = lines.size / sizeof(T) / lines.channels;
  const uint32_t kept = n > skip ? (n - skip) / f.across : 0;
  for (uint32_t c = 0; c < lines.channels; ++c) {
    box_reduce_block<T>(lines.data + (static_cast<size_t>(c) * n + skip) * sizeof(T), lines.size, f,
                        kept, out + static_cast<size_t>(c) * kept * sizeof(T));
  }
  return lines.channels * kept * static_cast<uint32_t>(sizeof(T));
}

bool factor_known(uint32_t f) {
  return f == 1 || f == 2 || f == 4;
}

template <class T, uint32_t kSamples>
void widen_half_typed(const uint8_t* in, uint32_t pixels, uint8_t* out) {
  for (uint32_t j = 0; j < pixels; ++j) {
    const uint32_t next = j + 1 < pixels ? j + 1 : j;
    for (uint32_t s = 0; s < kSamples; ++s) {
      const T a = load<T>(in, j * kSamples + s);
      const T b = load<T>(in, next * kSamples + s);
      store<T>(out, 2 * j * kSamples + s, a);
      store<T>(out, (2 * j + 1) * kSamples + s, static_cast<T>((uint32_t{a} + b) >> 1));
    }
  }
}

}  // namespace

uint32_t box_reduce(const RawLine& lines, Reduction factor, uint32_t skip, uint8_t* out) {
  if (lines.channels == 0 || !factor_known(factor.across) || !factor_known(factor.down)) return 0;
  return lines.sample_bytes == 2 ? box_reduce_typed<uint16_t>(lines, factor, skip, out)
                                 : box_reduce_typed<uint8_t>(lines, factor, skip, out);
}

uint32_t lead_in_pixels(uint32_t resolution, uint8_t board_variant) {
  const uint32_t unit = resolution == 0 ? 0 : kUnitsPerInch / resolution;
  if (unit == 0) return 0;
  return (board_variant == 1 ? kLeadInUnitsVariant1 : kLeadInUnits) / unit;
}

CropSpan crop_span(uint32_t start, uint32_t width, uint32_t resolution, uint8_t board_variant) {
  CropSpan span;
  const uint32_t unit = resolution == 0 ? 0 : kUnitsPerInch / resolution;
  if (unit == 0) return span;
  span.first = start / unit + lead_in_pixels(resolution, board_variant);
  span.count = width / unit;
  return span;
}

uint16_t film_black_offset(uint16_t sample, uint8_t film_type) {
  const int v = static_cast<int>(sample) - kFilmBlack;
  if (film_type != 0) return v <= 0 ? 256 : static_cast<uint16_t>(v);
  return v <= 128 ? 128 : static_cast<uint16_t>(v);
}

bool widen_half_resolution(const uint8_t* in, uint32_t n, uint32_t depth_code, uint8_t* out) {
  uint32_t sample_bytes = 0;
  uint32_t samples = 0;
  switch (depth_code) {
    case 8:
      sample_bytes = 1;
      samples = 1;
      break;
    case 16:
      sample_bytes = 2;
      samples = 1;
      break;
    case 24:
      sample_bytes = 1;
      samples = 3;
      break;
    case 48:
      sample_bytes = 2;
      samples = 3;
      break;
    default:
      return false;
  }
  const uint32_t pixels = n / sample_bytes / samples;
  if (sample_bytes == 1) {
    samples == 1 ? widen_half_typed<uint8_t, 1>(in, pixels, out)
                 : widen_half_typed<uint8_t, 3>(in, pixels, out);
  } else {
    samples == 1 ? widen_half_typed<uint16_t, 1>(in, pixels, out)
                 : widen_half_typed<uint16_t, 3>(in, pixels, out);
  }
  // Bytes of an incomplete last pixel have no partner: they come out as zero.
  const size_t written = 2 * static_cast<size_t>(pixels) * samples * sample_bytes;
  std::memset(out + written, 0, 2 * static_cast<size_t>(n) - written);
  return true;
}

}  // namespace qrx::imaging
