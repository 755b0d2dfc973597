// The arithmetic of shading: robust per-pixel averages of reference lines, the
// offsets and gains that map the dark reference to a fixed low level and the
// white reference to the shading target, and white references for the lowest
// resolutions derived from a 300 dpi one.
#pragma once

#include <cstdint>

#include "calibration/channel_lines.h"
#include "settings/scanner_setting.h"

namespace qrx::calibration {

// The mean of n values without their `low` smallest and `high` largest, found by
// partial selection (no full sort); integer mean, truncated. Reorders values.
// n = 1 gives the value; the caller keeps n > low + high.
uint16_t trimmed_mean(uint16_t* values, uint32_t n, uint32_t high, uint32_t low);

// Cuts that would leave nothing of n values are reduced until one value stays, the
// low cut first served (low <= n - 1, then high <= n - 1 - low). Both 0 for n = 0.
// trimmed_mean and average_lines apply it; with the tuned cuts it changes nothing.
void limit_cuts(uint32_t n, uint32_t& high, uint32_t& low);

// A block of reference lines as read: `lines` lines of `samples` little-endian
// 16-bit samples each, line l starting at data + 2 * samples * l.
struct LineBlock {
  const uint8_t* data = nullptr;
  uint32_t lines = 0;
  uint32_t samples = 0;
};

// Reduces the block's lines to one line: out[i] = trimmed mean of sample i over the
// lines, with high = lines * upper_percent / 100 and low = lines * lower_percent /
// 100 values cut. False when its working buffer cannot be allocated.
bool average_lines(const LineBlock& block, uint32_t upper_percent, uint32_t lower_percent,
                   uint16_t* out);

// What a shading is computed for: the pixels of each channel, the lamp mode and
// resolution its references were read at, and the scan's bits per pixel and the
// port type. bits_per_pixel and resolution choose the dark level (coefficient
// table); port_type its port group.
struct ShadingFormat {
  uint32_t pixel_count = 0;
  uint8_t lamp_mode = kLampFlatbed;
  uint32_t resolution = 0;
  uint32_t bits_per_pixel = 0;
  uint32_t port_type = 0;
};

// Turns white references (in gain) and dark references (in offset) into gains
// (3.13 fixed point, 8192 = 1.0) and offsets in place, for format.pixel_count
// pixels of each channel.
void compute_shading(const settings::ScannerSetting& setting, const ShadingFormat& format,
                     ChannelLines& gain, ChannelLines& offset);

// White references at target resolution from source ones (source between target
// and 300 dpi): each target pixel the mean of source/target source pixels, for all
// four channels. 0, or 0x9700 for a source outside that range.
uint16_t low_resolution_white(uint8_t lamp_mode, uint32_t source_resolution,
                              const ChannelLines& source, uint32_t target_resolution,
                              ChannelLines& target);

}  // namespace qrx::calibration
