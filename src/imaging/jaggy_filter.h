// JaggyFilter: the state of the optional line-smoothing filter that image reads
// can pass through: a window of recent lines, one output line and the kernel in
// use. One exists per process; the filtering itself belongs to the data-status
// and read path.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace qrx::imaging {

struct JaggyFilter {
  std::vector<uint8_t> window;       // rows of line bytes each, oldest first
  std::vector<uint8_t> output_line;
  int32_t filled = 0;
  int32_t delivered = 0;
  uint8_t rows = 0;      // R: rows of the window
  uint8_t ahead = 0;     // lines read ahead before the first output
  uint8_t empty_rows = 0;
  uint8_t lead = 0;
  uint8_t trail = 0;
  std::array<uint8_t, 49> kernel{};
  uint32_t line_bytes = 0;
  uint32_t total_lines = 0;
  uint32_t filter_depth = 0;
  bool armed = false;
};

}  // namespace qrx::imaging
