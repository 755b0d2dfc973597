// The window delivery (see line_transforms.h): one pass from the raw line's blocks
// to the caller's pixels. Window pixel j is pixel P = first + j of each block in
// pixel order; with k segments it lies in sub-block s(P mod k) at position P / k, so
// the pass reads every sample where the scanner put it instead of reordering and
// cropping the line first. Each combination of sample type, channel count, segment
// count and sample operation is its own loop, so that nothing is decided per
// sample; 8-bit colour without tables, the commonest case, interleaves 16 pixels at
// a time with byte shuffles where the processor has them.
#include <cstddef>
#include <cstring>
#include <utility>

#include "imaging/line_transforms.h"

namespace qrx::imaging {
namespace {

template <class T>
inline T load(const uint8_t* p, uint32_t index) {
  T v;
  std::memcpy(&v, p + size_t{index} * sizeof(T), sizeof(T));
  return v;
}
template <class T>
inline void store(uint8_t* p, size_t index, T v) {
  std::memcpy(p + index * sizeof(T), &v, sizeof(T));
}

// Sub-block that holds phase p, for k = 1, 2, 4, 8.
template <uint32_t K>
constexpr uint32_t sub_block(uint32_t p) {
  if constexpr (K == 2) return p;
  if constexpr (K == 4) return (p & 1) * 2 + p / 2;  // 0, 2, 1, 3
  if constexpr (K == 8) return (p & 3) * 2 + p / 4;  // 0, 2, 4, 6, 1, 3, 5, 7
  return 0;
}

// Sample operations, indexed by output channel.
struct Copy {
  template <class T>
  T operator()(uint32_t, T v) const {
    return v;
  }
};
struct Expand {
  ChannelTables t;
  uint16_t operator()(uint32_t c, uint8_t v) const { return t[c][v]; }
};
struct Film {
  uint8_t type;
  uint16_t operator()(uint32_t, uint16_t v) const { return film_black_offset(v, type); }
};
struct Gamma {
  ChannelTables t;
  uint16_t operator()(uint32_t c, uint16_t v) const { return t[c][v]; }
};
struct FilmGamma {
  uint8_t type;
  ChannelTables t;
  uint16_t operator()(uint32_t c, uint16_t v) const { return t[c][film_black_offset(v, type)]; }
};

// n groups of K pixels from position q of every sub-block: each sub-block of each
// channel is one stream of samples read in order and written every K * C samples.
template <class In, class Out, uint32_t C, uint32_t K, class Op>
void stretch_of_streams(const uint8_t* const (&sub)[C][K], uint32_t q, uint32_t n, Op op,
                        uint8_t* out) {
  constexpr size_t kStep = size_t{K} * C * sizeof(Out);
  for (uint32_t c = 0; c < C; ++c) {
    for (uint32_t p = 0; p < K; ++p) {
      const uint8_t* source = sub[c][p] + size_t{q} * sizeof(In);
      const uint8_t* const end = source + size_t{n} * sizeof(In);
      uint8_t* target = out + (size_t{p} * C + c) * sizeof(Out);
      for (; end - source >= static_cast<ptrdiff_t>(4 * sizeof(In));
           source += 4 * sizeof(In), target += 4 * kStep) {
        const Out a = op(c, load<In>(source, 0));
        const Out b = op(c, load<In>(source, 1));
        const Out d = op(c, load<In>(source, 2));
        const Out e = op(c, load<In>(source, 3));
        store<Out>(target, 0, a);
        store<Out>(target + kStep, 0, b);
        store<Out>(target + 2 * kStep, 0, d);
        store<Out>(target + 3 * kStep, 0, e);
      }
      for (; source < end; source += sizeof(In), target += kStep) {
        store<Out>(target, 0, op(c, load<In>(source, 0)));
      }
    }
  }
}

// The channel blocks a window is delivered from: where each starts (one for grey,
// three for colour), the segments each is split into and the samples of each
// sub-block.
struct Blocks {
  const uint8_t* start[3] = {};
  uint32_t channels = 0;
  uint32_t segments = 1;
  uint32_t sub_samples = 0;
};

// The window's pixels from C blocks with K segments each.
template <class In, class Out, uint32_t C, uint32_t K, class Op>
void gather(const Blocks& blocks, CropSpan span, Op op, uint8_t* out) {
  const uint8_t* sub[C][K];
  for (uint32_t c = 0; c < C; ++c) {
    for (uint32_t p = 0; p < K; ++p)
      sub[c][p] = blocks.start[c] + size_t{sub_block<K>(p)} * blocks.sub_samples * sizeof(In);
  }
  auto one = [&](uint32_t j, uint32_t pixel) {
    const uint32_t p = pixel % K;
    const uint32_t q = pixel / K;
    for (uint32_t c = 0; c < C; ++c) {
      store<Out>(out, size_t{j} * C + c, op(c, load<In>(sub[c][p], q)));
    }
  };
  uint32_t j = 0;
  uint32_t pixel = span.first;
  for (; j < span.count && pixel % K != 0; ++j, ++pixel) one(j, pixel);
  // Whole groups of K pixels, a stretch at a time, so that the stretch's output
  // stays in the first-level cache while it is filled in.
  constexpr uint32_t kStretch = 64;  // groups
  for (uint32_t groups = (span.count - j) / K; groups > 0;) {
    const uint32_t n = groups < kStretch ? groups : kStretch;
    const uint32_t q = pixel / K;
    stretch_of_streams<In, Out, C, K>(sub, q, n, op, out + size_t{j} * C * sizeof(Out));
    groups -= n;
    j += n * K;
    pixel += n * K;
  }
  for (; j < span.count; ++j, ++pixel) one(j, pixel);
}

template <class In, class Out, class Op>
bool gather_for(const Blocks& blocks, CropSpan span, Op op, uint8_t* out) {
  const bool colour = blocks.channels == 3;
  switch (blocks.segments) {
    case 1:
      colour ? gather<In, Out, 3, 1>(blocks, span, op, out)
             : gather<In, Out, 1, 1>(blocks, span, op, out);
      return true;
    case 2:
      colour ? gather<In, Out, 3, 2>(blocks, span, op, out)
             : gather<In, Out, 1, 2>(blocks, span, op, out);
      return true;
    case 4:
      colour ? gather<In, Out, 3, 4>(blocks, span, op, out)
             : gather<In, Out, 1, 4>(blocks, span, op, out);
      return true;
    case 8:
      colour ? gather<In, Out, 3, 8>(blocks, span, op, out)
             : gather<In, Out, 1, 8>(blocks, span, op, out);
      return true;
    default:
      return false;
  }
}

// The red, green and blue samples of one stretch of pixels, one plane each.
struct Planes {
  const uint8_t* r;
  const uint8_t* g;
  const uint8_t* b;
};

// Pixels done .. count - 1 of the planes, interleaved.
void interleave3_bytes(Planes planes, uint32_t count, uint8_t* out, uint32_t done) {
  // Held apart from `planes`, which the byte stores could otherwise be taken to change.
  const uint8_t* const r = planes.r;
  const uint8_t* const g = planes.g;
  const uint8_t* const b = planes.b;
  for (uint32_t i = done; i < count; ++i) {
    out[3 * size_t{i}] = r[i];
    out[3 * size_t{i} + 1] = g[i];
    out[3 * size_t{i} + 2] = b[i];
  }
}

// GCC's two-vector byte shuffle (clang, which has no __builtin_shuffle, takes the
// byte loop: its builds are the fuzzing builds).
#if defined(__GNUC__) && !defined(__clang__) && (defined(__x86_64__) || defined(__i386__))
#define QRX_BYTE_SHUFFLES 1
#else
#define QRX_BYTE_SHUFFLES 0
#endif

#if QRX_BYTE_SHUFFLES
typedef uint8_t Bytes16 __attribute__((vector_size(16)));

// Output byte o of a 48-byte group of 16 pixels is sample o % 3 of pixel o / 3. The
// first shuffle places the red and green bytes of 16 output bytes (taken from R,
// indexes 0..15, and G, 16..31), the second adds the blue ones (B, 16..31) to them.
constexpr uint8_t red_green_index(uint32_t o) {
  return static_cast<uint8_t>(o % 3 == 0 ? o / 3 : o % 3 == 1 ? 16 + o / 3 : 0);
}
constexpr uint8_t blue_index(uint32_t o) {
  return static_cast<uint8_t>(o % 3 == 2 ? 16 + o / 3 : o % 16);
}
template <uint32_t kPart, size_t... I>
constexpr Bytes16 red_green_mask(std::index_sequence<I...>) {
  return Bytes16{red_green_index(kPart * 16 + I)...};
}
template <uint32_t kPart, size_t... I>
constexpr Bytes16 blue_mask(std::index_sequence<I...>) {
  return Bytes16{blue_index(kPart * 16 + I)...};
}

__attribute__((target("ssse3"))) uint32_t interleave3_ssse3(const uint8_t* r, const uint8_t* g,
                                                            const uint8_t* b, uint32_t count,
                                                            uint8_t* out) {
  constexpr auto sixteen = std::make_index_sequence<16>();
  constexpr Bytes16 rg0 = red_green_mask<0>(sixteen), rg1 = red_green_mask<1>(sixteen),
                    rg2 = red_green_mask<2>(sixteen);
  constexpr Bytes16 b0 = blue_mask<0>(sixteen), b1 = blue_mask<1>(sixteen),
                    b2 = blue_mask<2>(sixteen);
  uint32_t i = 0;
  for (; count - i >= 16; i += 16) {
    Bytes16 red, green, blue;
    std::memcpy(&red, r + i, 16);
    std::memcpy(&green, g + i, 16);
    std::memcpy(&blue, b + i, 16);
    const Bytes16 o0 = __builtin_shuffle(__builtin_shuffle(red, green, rg0), blue, b0);
    const Bytes16 o1 = __builtin_shuffle(__builtin_shuffle(red, green, rg1), blue, b1);
    const Bytes16 o2 = __builtin_shuffle(__builtin_shuffle(red, green, rg2), blue, b2);
    uint8_t* at = out + 3 * size_t{i};
    std::memcpy(at, &o0, 16);
    std::memcpy(at + 16, &o1, 16);
    std::memcpy(at + 32, &o2, 16);
  }
  return i;
}

bool has_byte_shuffles() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}
#endif

void interleave3(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint32_t count,
                 uint8_t* out) {
  uint32_t done = 0;
#if QRX_BYTE_SHUFFLES
  if (has_byte_shuffles()) done = interleave3_ssse3(r, g, b, count, out);
#endif
  interleave3_bytes({r, g, b}, count, out, done);
}

}  // namespace

bool deliver_window(const RawLine& line, CropSpan span, const Delivery& delivery, uint8_t* out) {
  const uint32_t k = line.segments;
  if (line.channels == 0 || (line.sample_bytes != 1 && line.sample_bytes != 2) || k == 0) {
    return false;
  }
  if (delivery.green_only && line.channels < 3) return false;
  const uint32_t n = line.size / line.sample_bytes / line.channels;  // samples per block
  const uint32_t m = n / k;                                          // per sub-block
  if (span.first > k * m || span.count > k * m - span.first) return false;

  // The blocks delivered, and the tables of each output channel.
  const uint32_t out_channels = delivery.green_only || line.channels == 1 ? 1 : 3;
  const size_t block_bytes = size_t{n} * line.sample_bytes;
  Blocks blocks;
  blocks.channels = out_channels;
  blocks.segments = k;
  blocks.sub_samples = m;
  for (uint32_t c = 0; c < out_channels; ++c) {
    blocks.start[c] = line.data + block_bytes * (delivery.green_only ? 1 : c);
  }
  auto arranged = [&](const ChannelTables& t) {
    return out_channels == 1 ? ChannelTables{t[1], t[1], t[1]} : t;  // grey: the green table
  };

  if (line.sample_bytes == 1) {
    if (delivery.expand != nullptr) {
      return gather_for<uint8_t, uint16_t>(blocks, span, Expand{arranged(*delivery.expand)}, out);
    }
    if (k == 1) {
      const uint32_t f = span.first;
      if (out_channels == 1) {
        std::memcpy(out, blocks.start[0] + f, span.count);
      } else {
        interleave3(blocks.start[0] + f, blocks.start[1] + f, blocks.start[2] + f, span.count, out);
      }
      return true;
    }
    return gather_for<uint8_t, uint8_t>(blocks, span, Copy{}, out);
  }
  const bool film = delivery.level.film;
  const uint8_t type = delivery.level.film_type;
  if (delivery.gamma != nullptr) {
    const ChannelTables t = arranged(*delivery.gamma);
    return film ? gather_for<uint16_t, uint16_t>(blocks, span, FilmGamma{type, t}, out)
                : gather_for<uint16_t, uint16_t>(blocks, span, Gamma{t}, out);
  }
  return film ? gather_for<uint16_t, uint16_t>(blocks, span, Film{type}, out)
              : gather_for<uint16_t, uint16_t>(blocks, span, Copy{}, out);
}

}  // namespace qrx::imaging
