// The line transforms (see line_transforms.h).
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

inline uint16_t load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline void store16(uint8_t* p, uint16_t v) {
  std::memcpy(p, &v, 2);
}

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

template <class T, uint32_t kFactor>
void box_reduce_block(const uint8_t* lines, uint32_t line_bytes, uint32_t first, uint32_t kept,
                      uint8_t* out, uint32_t out_first) {
  for (uint32_t j = 0; j < kept; ++j) {
    uint32_t sum = 0;
    for (uint32_t l = 0; l < kFactor; ++l) {
      const uint8_t* line = lines + static_cast<size_t>(l) * line_bytes;
      for (uint32_t i = 0; i < kFactor; ++i) sum += load<T>(line, first + kFactor * j + i);
    }
    store<T>(out, out_first + j, static_cast<T>(sum / (kFactor * kFactor)));
  }
}

template <class T, uint32_t kFactor>
uint32_t box_reduce_typed(const uint8_t* lines, uint32_t line_bytes, uint32_t channels,
                          uint8_t* out) {
  const uint32_t n = line_bytes / sizeof(T) / channels;
  const uint32_t kept = n / kFactor;
  for (uint32_t c = 0; c < channels; ++c) {
    box_reduce_block<T, kFactor>(lines, line_bytes, c * n, kept, out, c * kept);
  }
  return channels * kept * static_cast<uint32_t>(sizeof(T));
}

// Sub-block holding phase p, for k = 2, 4, 8.
constexpr uint32_t kPhaseBlock2[] = {0, 1};
constexpr uint32_t kPhaseBlock4[] = {0, 2, 1, 3};
constexpr uint32_t kPhaseBlock8[] = {0, 2, 4, 6, 1, 3, 5, 7};

template <class T, uint32_t kK>
void deinterleave_typed(const uint8_t* in, uint32_t size, uint32_t channels, const uint32_t* block,
                        uint8_t* out) {
  const uint32_t n = size / sizeof(T) / channels;
  const uint32_t m = n / kK;
  for (uint32_t c = 0; c < channels; ++c) {
    const uint8_t* source[kK];
    for (uint32_t p = 0; p < kK; ++p) {
      source[p] = in + (static_cast<size_t>(c) * n + block[p] * m) * sizeof(T);
    }
    uint8_t* target = out + static_cast<size_t>(c) * n * sizeof(T);
    for (uint32_t j = 0; j < m; ++j) {
      T group[kK];
      for (uint32_t p = 0; p < kK; ++p) group[p] = load<T>(source[p], j);
      std::memcpy(target + static_cast<size_t>(j) * kK * sizeof(T), group, sizeof group);
    }
  }
}

template <class T>
bool deinterleave_k(const uint8_t* in, uint32_t size, uint32_t k, uint32_t channels, uint8_t* out) {
  switch (k) {
    case 2:
      deinterleave_typed<T, 2>(in, size, channels, kPhaseBlock2, out);
      return true;
    case 4:
      deinterleave_typed<T, 4>(in, size, channels, kPhaseBlock4, out);
      return true;
    case 8:
      deinterleave_typed<T, 8>(in, size, channels, kPhaseBlock8, out);
      return true;
    default:
      return false;
  }
}

inline uint16_t take_level(uint16_t sample, SampleLevel level) {
  return level.film ? film_black_offset(sample, level.film_type) : sample;
}

template <uint32_t kChannels>
void interleave8(const uint8_t* planar, uint32_t count, uint8_t* out) {
  for (uint32_t i = 0; i < count; ++i) {
    for (uint32_t c = 0; c < kChannels; ++c) out[kChannels * i + c] = planar[c * count + i];
  }
}

template <uint32_t kChannels, bool kFilm>
void interleave16(const uint8_t* planar, uint32_t count, SampleLevel level, uint8_t* out) {
  for (uint32_t i = 0; i < count; ++i) {
    for (uint32_t c = 0; c < kChannels; ++c) {
      uint16_t v = load<uint16_t>(planar, c * count + i);
      if constexpr (kFilm) v = film_black_offset(v, level.film_type);
      store<uint16_t>(out, kChannels * i + c, v);
    }
  }
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

uint32_t box_reduce(const uint8_t* lines, uint32_t line_bytes, uint32_t factor, uint32_t channels,
                    uint32_t sample_bytes, uint8_t* out) {
  if (channels == 0) return 0;
  const bool wide = sample_bytes == 2;
  if (factor == 2) {
    return wide ? box_reduce_typed<uint16_t, 2>(lines, line_bytes, channels, out)
                : box_reduce_typed<uint8_t, 2>(lines, line_bytes, channels, out);
  }
  if (factor == 4) {
    return wide ? box_reduce_typed<uint16_t, 4>(lines, line_bytes, channels, out)
                : box_reduce_typed<uint8_t, 4>(lines, line_bytes, channels, out);
  }
  return 0;
}

bool deinterleave_segments(const uint8_t* in, uint32_t size, uint32_t k, uint32_t channels,
                           uint32_t sample_bytes, uint8_t* out) {
  if (channels == 0) return false;
  return sample_bytes == 2 ? deinterleave_k<uint16_t>(in, size, k, channels, out)
                           : deinterleave_k<uint8_t>(in, size, k, channels, out);
}

CropSpan crop_span(uint32_t start, uint32_t width, uint32_t resolution, uint8_t board_variant) {
  CropSpan span;
  const uint32_t unit = resolution == 0 ? 0 : kUnitsPerInch / resolution;
  if (unit == 0) return span;
  const uint32_t lead = (board_variant == 1 ? kLeadInUnitsVariant1 : kLeadInUnits) / unit;
  span.first = start / unit + lead;
  span.count = width / unit;
  return span;
}

bool crop_window(const uint8_t* in, uint32_t size, CropSpan span, uint32_t channels,
                 uint32_t sample_bytes, uint8_t* out) {
  if (channels == 0 || sample_bytes == 0) return false;
  const uint32_t stride = size / sample_bytes / channels;
  if (span.first > stride || span.count > stride - span.first) return false;
  const size_t bytes = static_cast<size_t>(span.count) * sample_bytes;
  for (uint32_t c = 0; c < channels; ++c) {
    std::memcpy(out + c * bytes, in + (static_cast<size_t>(c) * stride + span.first) * sample_bytes,
                bytes);
  }
  return true;
}

uint16_t film_black_offset(uint16_t sample, uint8_t film_type) {
  const int v = static_cast<int>(sample) - kFilmBlack;
  if (film_type != 0) return v <= 0 ? 256 : static_cast<uint16_t>(v);
  return v <= 128 ? 128 : static_cast<uint16_t>(v);
}

void interleave_channels(const uint8_t* planar, uint32_t count, uint32_t channels,
                         uint32_t sample_bytes, SampleLevel level, uint8_t* out) {
  const uint32_t kept = channels < 3 ? channels : 3;  // a fourth (infrared) block is dropped
  if (sample_bytes == 1) {
    if (kept == 3) {
      interleave8<3>(planar, count, out);
    } else if (kept == 1) {
      std::memcpy(out, planar, count);
    } else {
      interleave8<2>(planar, count, out);
    }
    return;
  }
  if (kept == 3) {
    level.film ? interleave16<3, true>(planar, count, level, out)
               : interleave16<3, false>(planar, count, level, out);
  } else if (kept == 1) {
    level.film ? interleave16<1, true>(planar, count, level, out)
               : interleave16<1, false>(planar, count, level, out);
  } else {
    level.film ? interleave16<2, true>(planar, count, level, out)
               : interleave16<2, false>(planar, count, level, out);
  }
}

void extract_green(const uint8_t* planar, uint32_t count, uint32_t sample_bytes, SampleLevel level,
                   uint8_t* out) {
  const uint8_t* green = planar + static_cast<size_t>(count) * sample_bytes;
  if (sample_bytes == 1 || !level.film) {
    std::memcpy(out, green, static_cast<size_t>(count) * sample_bytes);
    return;
  }
  for (uint32_t i = 0; i < count; ++i) {
    store16(out + 2 * i, take_level(load16(green + 2 * i), level));
  }
}

void map_gamma16(uint8_t* line, uint32_t pixels, uint32_t samples, const ChannelTables& tables) {
  if (samples == 1) {
    const uint16_t* green = tables[1];
    for (uint32_t i = 0; i < pixels; ++i) store<uint16_t>(line, i, green[load<uint16_t>(line, i)]);
    return;
  }
  const uint16_t* r = tables[0];
  const uint16_t* g = tables[1];
  const uint16_t* b = tables[2];
  for (uint32_t i = 0; i < pixels; ++i) {
    uint16_t px[3];
    std::memcpy(px, line + 6 * static_cast<size_t>(i), 6);
    px[0] = r[px[0]];
    px[1] = g[px[1]];
    px[2] = b[px[2]];
    std::memcpy(line + 6 * static_cast<size_t>(i), px, 6);
  }
}

void widen_samples(uint8_t* line, uint32_t pixels, uint32_t samples, const ChannelTables& tables) {
  // From the end backwards: sample k lands on bytes 2k and 2k + 1, which only hold
  // samples already widened (or sample k itself, read first).
  if (samples == 1) {
    const uint16_t* green = tables[1];
    for (uint32_t i = pixels; i-- > 0;) store16(line + 2 * static_cast<size_t>(i), green[line[i]]);
    return;
  }
  for (uint32_t i = pixels; i-- > 0;) {
    for (uint32_t c = samples; c-- > 0;) {
      const size_t k = static_cast<size_t>(i) * samples + c;
      store16(line + 2 * k, tables[c][line[k]]);
    }
  }
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
