// The reduction of a block of reference lines to one robust average line: for every
// sample position the trimmed mean of that position over all lines.
//
// Columns are done a vector at a time (8, 16 or 32 sample positions side by side),
// straight from the lines as they lie in memory. For each group the lines' values
// are split in two steps, first the low cut off the bottom, then the high cut off
// the top of what is left, and the rest is summed. A split keeps a few list entries
// per column in registers and passes every further value down them in
// compare-exchange steps (the entry keeps the smaller, the larger goes on, or the
// reverse), so that the entries end holding the cut values and the values that come
// out at the end are the rest; longer cuts take several such rounds. Whichever side
// of a split is shorter is the one selected. Only the cut values are ever
// selected: nothing is sorted. The result equals the trimmed mean of each column.
#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "calibration/shading_math.h"
#include "calibration/shading_math_kernels.h"
#include "platform/memory.h"

namespace qrx::calibration {
namespace {

// Reads sample i of a line whatever the host's byte order.
inline uint16_t sample_at(const uint8_t* line, size_t i) {
  return static_cast<uint16_t>(line[2 * i] | (line[2 * i + 1] << 8));
}

// How many values of each column an average leaves out: the `high` largest and the
// `low` smallest (already limited so that one value stays).
struct Cuts {
  uint32_t high = 0;
  uint32_t low = 0;
};

// One column at a time through trimmed_mean: the path for compilers without vector
// types, big-endian hosts and more lines than 32-bit column sums can hold.
bool average_by_column(const LineBlock& block, Cuts cuts, uint16_t* out) {
  std::vector<uint16_t> column;
  if (!platform::try_resize(column, block.lines)) return false;
  const size_t stride = size_t{block.samples} * 2;
  for (uint32_t i = 0; i < block.samples; ++i) {
    for (uint32_t l = 0; l < block.lines; ++l) column[l] = sample_at(block.data + stride * l, i);
    out[i] = trimmed_mean(column.data(), block.lines, cuts.high, cuts.low);
  }
  return true;
}

#if defined(__GNUC__)
#define QRX_VECTOR_AVERAGE 1

typedef uint16_t Lanes8 __attribute__((vector_size(16)));
typedef uint32_t Sums4 __attribute__((vector_size(16)));
typedef uint16_t Lanes16 __attribute__((vector_size(32)));
typedef uint32_t Sums8 __attribute__((vector_size(32)));
typedef uint16_t Lanes32 __attribute__((vector_size(64)));
typedef uint32_t Sums16 __attribute__((vector_size(64)));
// Largest line count whose middle sums can be divided through a 40-bit reciprocal
// exactly (sum x count stays below 2^40).
constexpr uint32_t kReciprocalLines = 4096;

// The column-vector kernel for one vector width: V holds the 16-bit values of
// kLanes columns, S their 32-bit sums as even and odd columns; kMaxEntries list
// entries (as many as the registers hold beside the passing value) make one round.
// Everything inlines into the entry point of each instruction set.
template <class V, class S, uint32_t kMaxEntries>
struct Columns {
  static constexpr uint32_t kLanes = sizeof(V) / sizeof(uint16_t);

  [[gnu::always_inline]] static inline void load(V& v, const uint16_t* p) {
    std::memcpy(&v, p, sizeof v);
  }
  [[gnu::always_inline]] static inline void store(uint16_t* p, const V& v) {
    std::memcpy(p, &v, sizeof v);
  }

  // One round: the first E values of buf become the list, the other m - E pass down
  // it; the list (the E smallest or largest) goes to taken, the values that come out
  // go back to the front of buf in order.
  template <uint32_t E, bool kSmallest>
  [[gnu::always_inline]] static inline void round(uint16_t* buf, uint32_t m, uint16_t* taken) {
    V entry[E];
    for (uint32_t j = 0; j < E; ++j) load(entry[j], buf + j * kLanes);
    for (uint32_t i = E; i < m; ++i) {
      V x;
      load(x, buf + i * kLanes);
      for (uint32_t j = 0; j < E; ++j) {
        const V smaller = entry[j] < x ? entry[j] : x;
        const V larger = entry[j] < x ? x : entry[j];
        entry[j] = kSmallest ? smaller : larger;
        x = kSmallest ? larger : smaller;
      }
      store(buf + (i - E) * kLanes, x);
    }
    for (uint32_t j = 0; j < E; ++j) store(taken + j * kLanes, entry[j]);
  }

  template <bool kSmallest, uint32_t E = kMaxEntries>
  [[gnu::always_inline]] static inline void round_of(uint32_t e, uint16_t* buf, uint32_t m,
                                                     uint16_t* taken) {
    if constexpr (E > 1) {
      if (e < E) return round_of<kSmallest, E - 1>(e, buf, m, taken);
    }
    round<E, kSmallest>(buf, m, taken);
  }

  // Moves the k smallest (or largest) of the m values in buf to taken; the other
  // m - k stay at the front of buf.
  template <bool kSmallest>
  [[gnu::always_inline]] static inline void select(uint16_t* buf, uint32_t m, uint32_t k,
                                                   uint16_t* taken) {
    while (k > 0) {
      const uint32_t e = std::min(k, kMaxEntries);
      round_of<kSmallest>(e, buf, m, taken);
      taken += size_t{e} * kLanes;
      m -= e;
      k -= e;
    }
  }

  // Splits the m values of *values into the `count` smallest and the rest and
  // leaves *values pointing at the rest (which may now live in spare). The shorter
  // side is the one selected.
  [[gnu::always_inline]] static inline void cut_smallest(uint16_t*& values, uint32_t m,
                                                         uint32_t count, uint16_t* spare) {
    if (count <= m - count) {
      select<true>(values, m, count, spare);  // the rest stays in values
    } else {
      select<false>(values, m, m - count, spare);  // the rest is what was selected
      values = spare;
    }
  }
  [[gnu::always_inline]] static inline void cut_largest(uint16_t*& values, uint32_t m,
                                                        uint32_t count, uint16_t* spare) {
    if (count <= m - count) {
      select<false>(values, m, count, spare);
    } else {
      select<true>(values, m, m - count, spare);
      values = spare;
    }
  }

  // The whole reduction. work holds 2 x lines x kLanes values.
  [[gnu::always_inline]] static inline void run(const LineBlock& block, Cuts cuts, uint16_t* out,
                                                uint16_t* work) {
    const uint8_t* const data = block.data;
    const uint32_t lines = block.lines;
    const uint32_t samples = block.samples;
    const uint32_t high = cuts.high;
    const uint32_t low = cuts.low;
    const size_t stride = size_t{samples} * 2;
    const uint32_t middle = lines - low - high;
    const bool by_reciprocal = lines <= kReciprocalLines;
    const uint64_t reciprocal = ((uint64_t{1} << 40) + middle - 1) / middle;
    const size_t area = size_t{lines} * kLanes;
    constexpr uint32_t kSumLanes = sizeof(S) / sizeof(uint32_t);
    for (uint32_t first = 0; first < samples; first += kLanes) {
      const uint32_t width = std::min(kLanes, samples - first);
      uint16_t* values = work;
      // Gather this group of columns: one vector per line.
      for (uint32_t l = 0; l < lines; ++l) {
        const uint8_t* source = data + stride * l + size_t{first} * 2;
        uint16_t* to = values + size_t{l} * kLanes;
        if (width == kLanes) {
          std::memcpy(to, source, sizeof(V));
        } else {
          std::memset(to, 0, sizeof(V));
          std::memcpy(to, source, size_t{width} * 2);
        }
      }
      // Two areas: the values, and room for the side a split selects; after a split
      // whichever area does not hold the remaining values is free again.
      if (low > 0) cut_smallest(values, lines, low, work + area);
      if (high > 0) cut_largest(values, lines - low, high, values == work ? work + area : work);
      // Sum the middle: each 32-bit lane takes an even and an odd column.
      S even{}, odd{};
      for (uint32_t i = 0; i < middle; ++i) {
        S both;
        std::memcpy(&both, values + size_t{i} * kLanes, sizeof both);
        even += both & 0xFFFF;
        odd += both >> 16;
      }
      uint32_t sums[kLanes];
      for (uint32_t k = 0; k < kSumLanes; ++k) {
        sums[2 * k] = even[k];
        sums[2 * k + 1] = odd[k];
      }
      for (uint32_t i = 0; i < width; ++i) {
        out[first + i] =
            static_cast<uint16_t>(by_reciprocal ? (sums[i] * reciprocal) >> 40 : sums[i] / middle);
      }
    }
  }
};

bool average_with(void (*kernel)(const LineBlock&, Cuts, uint16_t*, uint16_t*), uint32_t lanes,
                  const LineBlock& block, Cuts cuts, uint16_t* out) {
  std::vector<uint16_t> work;
  if (!platform::try_resize(work, size_t{2} * block.lines * lanes)) return false;
  kernel(block, cuts, out, work.data());
  return true;
}

// 16-byte vectors: every 64-bit processor has them (SSE2, NEON).
void average_baseline(const LineBlock& block, Cuts cuts, uint16_t* out, uint16_t* work) {
  Columns<Lanes8, Sums4, 8>::run(block, cuts, out, work);
}

// The same vectors with the unsigned minimum and maximum of SSE4.1 (one instruction
// each instead of three), where the processor has them.
#if defined(__x86_64__) || defined(__i386__)
#define QRX_AVERAGE_SSE41 1
__attribute__((target("sse4.1"))) void average_sse41(const LineBlock& block, Cuts cuts,
                                                     uint16_t* out, uint16_t* work) {
  Columns<Lanes8, Sums4, 12>::run(block, cuts, out, work);
}
#endif

// Wider vectors where the processor has them, chosen at run time. Not on Windows:
// its stack is only 16-byte aligned, and GCC spills wider vectors to it with aligned
// moves.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32)
#define QRX_AVERAGE_WIDE 1
__attribute__((target("avx2"))) void average_avx2(const LineBlock& block, Cuts cuts, uint16_t* out,
                                                  uint16_t* work) {
  Columns<Lanes16, Sums8, 13>::run(block, cuts, out, work);
}
__attribute__((target("avx512bw"))) void average_avx512(const LineBlock& block, Cuts cuts,
                                                        uint16_t* out, uint16_t* work) {
  Columns<Lanes32, Sums16, 24>::run(block, cuts, out, work);
}
#endif

#endif  // __GNUC__

}  // namespace

bool average_kernel_available(AverageKernel kernel) {
  switch (kernel) {
    case AverageKernel::kBest:
    case AverageKernel::kByColumn:
      return true;
#if defined(QRX_VECTOR_AVERAGE)
    case AverageKernel::kVector16:
      return std::endian::native == std::endian::little;
#endif
#if defined(QRX_AVERAGE_SSE41)
    case AverageKernel::kVector16Sse41:
      return __builtin_cpu_supports("sse4.1");
#endif
#if defined(QRX_AVERAGE_WIDE)
    case AverageKernel::kVector32:
      return __builtin_cpu_supports("avx2");
    case AverageKernel::kVector64:
      return __builtin_cpu_supports("avx512bw");
#endif
    default:
      return false;
  }
}

bool average_lines_with(AverageKernel kernel, const LineBlock& block, uint32_t upper_percent,
                        uint32_t lower_percent, uint16_t* out) {
  if (!average_kernel_available(kernel)) return false;
  if (block.samples == 0) return true;
  if (out == nullptr || (block.lines > 0 && block.data == nullptr)) return false;
  if (block.lines == 0) {
    std::fill_n(out, block.samples, uint16_t{0});
    return true;
  }
  Cuts cuts;
  cuts.high = static_cast<uint32_t>(uint64_t{block.lines} * upper_percent / 100);
  cuts.low = static_cast<uint32_t>(uint64_t{block.lines} * lower_percent / 100);
  limit_cuts(block.lines, cuts.high, cuts.low);
  // The vectors' column sums are 32-bit: at most 65537 lines of 16-bit values.
  if (kernel == AverageKernel::kByColumn || block.lines > 65536) {
    return average_by_column(block, cuts, out);
  }
  if (kernel == AverageKernel::kBest) {
    kernel = AverageKernel::kByColumn;
    for (AverageKernel k : {AverageKernel::kVector64, AverageKernel::kVector32,
                            AverageKernel::kVector16Sse41, AverageKernel::kVector16}) {
      if (average_kernel_available(k)) {
        kernel = k;
        break;
      }
    }
  }
  switch (kernel) {
#if defined(QRX_AVERAGE_WIDE)
    case AverageKernel::kVector64:
      return average_with(average_avx512, 32, block, cuts, out);
    case AverageKernel::kVector32:
      return average_with(average_avx2, 16, block, cuts, out);
#endif
#if defined(QRX_AVERAGE_SSE41)
    case AverageKernel::kVector16Sse41:
      return average_with(average_sse41, 8, block, cuts, out);
#endif
#if defined(QRX_VECTOR_AVERAGE)
    case AverageKernel::kVector16:
      return average_with(average_baseline, 8, block, cuts, out);
#endif
    default:
      return average_by_column(block, cuts, out);
  }
}

bool average_lines(const LineBlock& block, uint32_t upper_percent, uint32_t lower_percent,
                   uint16_t* out) {
  return average_lines_with(AverageKernel::kBest, block, upper_percent, lower_percent, out);
}

}  // namespace qrx::calibration
