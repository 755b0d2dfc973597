// Uploads of the per-pass tables into controller memory: the shading offsets and
// gains of each channel, and the 256-point gamma curves.
#pragma once

#include <cstdint>
#include <vector>

#include "pass/scan_setup.h"
#include "transport/scanner_context.h"

namespace qrx::pass {

// The shading word stream of one channel: offset then gain per pixel, in blocks of
// 252 data words and four empty ones unless `packed`. Empty when the arrays are
// missing or the window runs past them.
std::vector<uint16_t> shading_stream(const std::vector<uint16_t>& offsets,
                                     const std::vector<uint16_t>& gains, uint32_t first_pixel,
                                     uint32_t pixels, bool packed);

// Uploads shading for the channels of the read record (0 or the channel's code).
uint16_t upload_shading(transport::ScannerContext& context, const ScanSetup& read);

// Uploads the gamma curve of channel 0 to 2; false when the curve is not monotonic
// (nothing written) or a write fails.
bool upload_gamma(transport::ScannerContext& context, int channel);

}  // namespace qrx::pass
