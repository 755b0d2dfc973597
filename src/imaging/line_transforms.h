// The line transforms that turn the scanner's raw planar lines into the caller's
// pixels: box reduction of low resolutions, then one pass that puts the segments of
// 1200 dpi and above lines in pixel order, crops the window, interleaves the
// channels and applies the film black offset, the 16-bit gamma tables or the 8-bit
// expansion; and the half-resolution widening of 4800 dpi lines. Samples are bytes
// (8 and 24-bit scans) or little-endian u16 (16 and 48-bit scans); a raw line holds
// one block of samples per channel, R, G, B (and infrared), each starting with the
// lead-in left of the window.
#pragma once

#include <array>
#include <cstdint>

namespace qrx::imaging {

// Bytes of one sample for a bit depth: 1 for 8 and 24, 2 for every other depth.
inline uint32_t sample_bytes_of(uint32_t bit_depth) {
  return bit_depth == 8 || bit_depth == 24 ? 1u : 2u;
}

// How many read pixels across and read lines down make one delivered pixel: 1, 2
// or 4 each.
struct Reduction {
  uint32_t across = 1;
  uint32_t down = 1;
};

// Pixels of the lead-in left of the window in a line read at `resolution` across:
// 128 units of 2400 dpi (112 with board variant 1), in whole pixels.
uint32_t lead_in_pixels(uint32_t resolution, uint8_t board_variant);

// Where the window lies in a line read at `resolution` across: start and width in
// 2400 dpi units from the first pixel after the lead-in (128 units, 112 with board
// variant 1). count 0 for a resolution above 2400 dpi, which has no unit.
struct CropSpan {
  uint32_t first = 0;  // pixel of the channel block (in pixel order) where the window starts
  uint32_t count = 0;  // pixels of the window
};
CropSpan crop_span(uint32_t start, uint32_t width, uint32_t resolution, uint8_t board_variant);

// 16-bit samples under a film light lose the black level (512); with film type 0
// everything up to 640 becomes 128, with another film type everything up to 512
// becomes 256. Under the flatbed light samples pass unchanged.
struct SampleLevel {
  bool film = false;
  uint8_t film_type = 0;
};
uint16_t film_black_offset(uint16_t sample, uint8_t film_type);

// Per-channel tables, R, G, B: 65536 entries (16-bit gamma) or 256 (8-to-16-bit
// expansion).
using ChannelTables = std::array<const uint16_t*, 3>;

// A raw (or reduced) line: `channels` planar blocks of equal size, each in pixel
// order (segments 1) or split into k = 2, 4, 8 sub-blocks, sub-block s holding the
// pixels of phase 0, 1 / 0, 2, 1, 3 / 0, 4, 1, 5, 2, 6, 3, 7 modulo k.
struct RawLine {
  const uint8_t* data = nullptr;
  uint32_t size = 0;  // bytes
  uint32_t channels = 0;
  uint32_t sample_bytes = 1;
  uint32_t segments = 1;
};

// Mean of across x down samples: factor.down consecutive raw lines, each `lines`
// (its size and channel blocks, the first line at lines.data), every channel block
// reduced on its own from its sample `skip` on (output sample j of a block is the
// truncated mean of samples skip + across*j .. skip + across*j + across - 1 of that
// block in each line; what is left at a block's end is dropped). Segments play no
// part: lines in segments are reduced down only, sample by sample. 2 x 2 and 4 x 4
// are the square means. Returns the bytes written: channels blocks of ((block
// samples - skip) / across) samples; 0 for a factor other than 1, 2, 4.
uint32_t box_reduce(const RawLine& lines, Reduction factor, uint32_t skip, uint8_t* out);

// What is made of the window's samples.
struct Delivery {
  bool green_only = false;                // grey taken from the green block of a colour line
  SampleLevel level;                      // 16-bit samples: film black offset
  const ChannelTables* gamma = nullptr;   // 16-bit samples: mapped through the 65536-entry tables
  const ChannelTables* expand = nullptr;  // 8-bit samples: widened through the 256-entry tables
};

// Segment de-interleave, window crop, channel interleave (R, G, B; a fourth block is
// not delivered) and the sample tables, in one pass: span.count pixels of 1 (grey)
// or 3 samples, bytes or u16 (16-bit lines, and 8-bit ones widened). Grey lines use
// the green table. False, writing nothing, when the segment count is not 1, 2, 4 or
// 8, the window does not lie inside the blocks, or green is asked of a grey line.
bool deliver_window(const RawLine& line, CropSpan span, const Delivery& delivery, uint8_t* out);

// Doubles the pixels of a line of n bytes: every input pixel, then the mean of it
// and the next (the last pixel twice). depth_code 8, 16 (one sample per pixel) or
// 24, 48 (three); bytes or u16 samples as the depth says. Writes 2n bytes to out;
// false, writing nothing, for any other depth code.
bool widen_half_resolution(const uint8_t* in, uint32_t n, uint32_t depth_code, uint8_t* out);

}  // namespace qrx::imaging
