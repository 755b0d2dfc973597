// The line filter (see jaggy_filter.h).
#include "imaging/jaggy_filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/memory.h"
#include "qrx7730.h"

namespace qrx::imaging {
namespace {

bool row_empty(const FilterKernel& kernel, uint32_t row) {
  const auto begin = kernel.begin() + row * kKernelSize;
  return std::all_of(begin, begin + kKernelSize, [](uint8_t w) { return w == 0; });
}

template <class T>
inline uint32_t sample_at(const uint8_t* line, uint32_t index) {
  T v;
  std::memcpy(&v, line + size_t{index} * sizeof(T), sizeof(T));
  return v;
}

template <class T, uint32_t kSamples>
void filter_typed(const FilterRows& rows, uint32_t line_bytes, uint8_t* out) {
  // Held apart from `rows`, which the stores into out could otherwise be taken to change.
  const uint8_t* const* const lines = rows.lines;
  const uint8_t* const* const kernel_rows = rows.kernel_rows;
  const uint32_t n_rows = rows.count;
  const uint32_t pixels = line_bytes / (sizeof(T) * kSamples);
  for (uint32_t x = 0; x < pixels; ++x) {
    // Columns whose source pixel x - 3 + c lies on the line.
    const uint32_t c0 = x < kKernelCentre ? kKernelCentre - x : 0;
    const uint32_t c1 = std::min<uint32_t>(kKernelSize, pixels + kKernelCentre - x);
    uint32_t sum[kSamples] = {};
    uint32_t total = 0;
    for (uint32_t r = 0; r < n_rows; ++r) {
      for (uint32_t c = c0; c < c1; ++c) {
        const uint32_t g = kernel_rows[r][c];
        if (g == 0) continue;
        const uint32_t source = (x + c - kKernelCentre) * kSamples;
        for (uint32_t s = 0; s < kSamples; ++s) sum[s] += g * sample_at<T>(lines[r], source + s);
        total += g;
      }
    }
    if (total == 0) total = 1;
    for (uint32_t s = 0; s < kSamples; ++s) {
      const T v = static_cast<T>(sum[s] / total);
      std::memcpy(out + (size_t{x} * kSamples + s) * sizeof(T), &v, sizeof(T));
    }
  }
}

}  // namespace

KernelShape analyse_kernel(const FilterKernel& kernel) {
  KernelShape shape;
  bool seen = false;
  for (uint32_t row = 0; row < kKernelSize; ++row) {
    if (row_empty(kernel, row)) {
      ++shape.empty_rows;
      if (!seen) ++shape.lead;
    } else {
      seen = true;
    }
  }
  shape.trail = static_cast<uint8_t>(shape.empty_rows - shape.lead);
  shape.rows = static_cast<uint8_t>(kKernelSize - shape.empty_rows);
  shape.ahead = static_cast<int32_t>(
      std::ceil((static_cast<double>(shape.rows) + shape.lead - shape.trail) / 2.0));
  return shape;
}

bool kernel_fits_window(const FilterKernel& kernel, const KernelShape& shape) {
  if (shape.rows == 0 || shape.ahead < 1 || shape.ahead > shape.rows) return false;
  for (uint32_t row = shape.lead; row < shape.lead + shape.rows; ++row) {
    if (row_empty(kernel, row)) return false;  // a gap: rows past the window would be lost
  }
  return true;
}

void JaggyFilter::restart() {
  lines_read = 0;
  delivered = 0;
  std::vector<uint8_t>().swap(window);
}

void filter_arithmetic(const FilterRows& rows, uint32_t depth, uint32_t line_bytes, uint8_t* out) {
  switch (depth) {
    case 8:
      filter_typed<uint8_t, 1>(rows, line_bytes, out);
      break;
    case 16:
      filter_typed<uint16_t, 1>(rows, line_bytes, out);
      break;
    case 24:
      filter_typed<uint8_t, 3>(rows, line_bytes, out);
      break;
    case 48:
      filter_typed<uint16_t, 3>(rows, line_bytes, out);
      break;
    default:
      break;
  }
}

uint16_t filter_read(JaggyFilter& filter, const LineSource& source, uint8_t* buffer,
                     uint32_t size) {
  const uint32_t line_bytes = filter.line_bytes;
  if (size != line_bytes || line_bytes == 0) return QRX_E_FILTER_LINE_SIZE;
  if (filter.delivered >= filter.total_lines) return QRX_E_READ_PAST_END;
  const uint32_t rows = filter.shape.rows;
  const size_t window_bytes = size_t{rows} * line_bytes;
  if (filter.window.size() < window_bytes && !platform::try_resize(filter.window, window_bytes)) {
    return QRX_E_NOMEM_BUFFER;
  }

  // Output line i needs input lines up to i + ahead - 1 (those the image has).
  const uint32_t i = filter.delivered;
  const uint32_t needed = static_cast<uint32_t>(
      std::min<uint64_t>(filter.total_lines, uint64_t{i} + filter.shape.ahead));
  while (filter.lines_read < needed) {
    uint8_t* row = filter.window.data() + size_t{filter.lines_read % rows} * line_bytes;
    const uint16_t status = source(row, line_bytes);
    if (status != QRX_OK) return status;
    ++filter.lines_read;
  }

  // Kernel row k weighs input line i + k - 3; rows above the first line or below
  // the last are left out.
  const uint8_t* lines[kKernelSize];
  const uint8_t* kernel_rows[kKernelSize];
  uint32_t n_rows = 0;
  for (uint32_t k = filter.shape.lead; k < filter.shape.lead + rows; ++k) {
    const int64_t input = int64_t{i} + k - kKernelCentre;
    if (input < 0 || input >= filter.lines_read) continue;
    lines[n_rows] = filter.window.data() + size_t(input % rows) * line_bytes;
    kernel_rows[n_rows] = filter.kernel.data() + k * kKernelSize;
    ++n_rows;
  }
  filter_arithmetic({lines, kernel_rows, n_rows}, filter.filter_depth, line_bytes, buffer);
  ++filter.delivered;
  return QRX_OK;
}

}  // namespace qrx::imaging
