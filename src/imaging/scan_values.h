// ScanValues: what the library keeps from one SetScanParameter to the next for
// the read path: the caller's record as given and the output line values derived
// from it. The scan parameters write them; ReadScan and GetDataStatus read them.
#pragma once

#include <cstdint>

#include "qrx7730.h"

namespace qrx::imaging {

struct ScanValues {
  ScanParameter stored{};       // the caller's record as given (window in 1/9600 inch)
  uint32_t line_pixels = 0;     // pixels per output line
  uint32_t line_bytes = 0;      // bytes per output line
  uint32_t line_count = 0;      // output lines still owed to the caller
  uint32_t half_x_res = 0;      // 4800 x 4800: read at 2400 across and widened
  uint32_t wide_samples = 0;    // 16-bit samples delivered for an 8- or 24-bit request
};

}  // namespace qrx::imaging
