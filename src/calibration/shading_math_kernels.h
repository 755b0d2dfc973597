// The ways the reference-line reduction (average_lines) can run: column by column
// through trimmed_mean, or on 16-byte vectors of columns (the base instruction set,
// or with SSE4.1), 32-byte (AVX2) or 64-byte (AVX-512BW) ones. average_lines takes
// the fastest one the processor has; tests run every one of them.
#pragma once

#include <cstdint>

#include "calibration/shading_math.h"

namespace qrx::calibration {

enum class AverageKernel : uint8_t {
  kBest,
  kByColumn,
  kVector16,
  kVector16Sse41,
  kVector32,
  kVector64
};

// Whether this build and processor can run the kernel.
bool average_kernel_available(AverageKernel kernel);

// average_lines with the given kernel; false also when it is not available.
bool average_lines_with(AverageKernel kernel, const LineBlock& block, uint32_t upper_percent,
                        uint32_t lower_percent, uint16_t* out);

}  // namespace qrx::calibration
