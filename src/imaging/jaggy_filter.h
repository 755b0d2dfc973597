// JaggyFilter: the optional line-smoothing filter of high vertical resolutions. A
// 7 x 7 kernel (a tuning value chosen by the vertical resolution) is run over the
// lines of the scan; output line i is centred on input line i, and taps that fall
// outside the image (left, right, above the first line, below the last) are left
// out of both the sum and the weight. The filter holds only the span of the
// kernel's non-empty rows as a window of recent input lines and reads every input
// line once, through a line source (the direct read, inside its call frame).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace qrx::imaging {

inline constexpr uint32_t kKernelSize = 7;
inline constexpr uint32_t kKernelCentre = 3;
using FilterKernel = std::array<uint8_t, kKernelSize * kKernelSize>;  // row by row, row 0 earliest

// The rows of a kernel that matter.
struct KernelShape {
  uint8_t empty_rows = 0;  // E: all-zero rows
  uint8_t rows = 0;        // R = 7 - E: rows of the window
  uint8_t lead = 0;        // empty rows before the first non-empty one
  uint8_t trail = 0;       // E - lead
  int32_t ahead = 0;       // lines read before the first output: ceil((R + lead - trail) / 2)
};

KernelShape analyse_kernel(const FilterKernel& kernel);

// True when the window can centre every output line: the non-empty rows follow
// each other and include the centre row (equivalently 1 <= ahead <= rows).
bool kernel_fits_window(const FilterKernel& kernel, const KernelShape& shape);

// Reads one input line of `size` bytes into destination; 0 or the failing status.
using LineSource = std::function<uint16_t(uint8_t* destination, uint32_t size)>;

struct JaggyFilter {
  std::vector<uint8_t> window;  // rows lines of line_bytes; input line L in row L mod rows
  uint32_t lines_read = 0;      // input lines read so far in this scan
  uint32_t delivered = 0;       // output lines returned so far in this scan
  KernelShape shape;
  FilterKernel kernel{};
  uint32_t line_bytes = 0;
  uint32_t total_lines = 0;   // T: lines of the scan, in and out
  uint32_t filter_depth = 0;  // 8, 16 (grey) or 24, 48 (colour)

  // Starts a scan: nothing read, nothing delivered, the window released.
  void restart();
};

// The inputs of one output line: `count` input lines, each paired with the kernel
// row (kKernelSize weights) it is weighed by.
struct FilterRows {
  const uint8_t* const* lines = nullptr;
  const uint8_t* const* kernel_rows = nullptr;
  uint32_t count = 0;
};

// Filters the paired (line, kernel row) inputs into out: every sample of every
// pixel is the weighted mean over the kernel's non-zero taps that lie on the line.
// depth 8 and 16 are grey, 24 and 48 colour; 16 and 48 have u16 samples.
void filter_arithmetic(const FilterRows& rows, uint32_t depth, uint32_t line_bytes, uint8_t* out);

// One filtered output line into buffer (size must be exactly one line). Refuses
// with 0x9721 for another size and 0x9720 once all T lines were delivered;
// 0x9801 when the window cannot be allocated; a failing line source's status is
// returned as it is (the window keeps the lines read so far).
uint16_t filter_read(JaggyFilter& filter, const LineSource& source, uint8_t* buffer, uint32_t size);

}  // namespace qrx::imaging
