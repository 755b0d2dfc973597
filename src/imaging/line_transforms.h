// The line transforms that turn the scanner's raw planar lines into the caller's
// pixels: box reduction, segment de-interleave, window crop, channel interleave
// (with the film black offset), 16-bit gamma mapping, sample widening and the
// half-resolution widening. Each is one pass over a line with index arithmetic
// only. Samples are bytes (8 and 24-bit scans) or little-endian u16 (16 and
// 48-bit scans); a raw line holds one block of samples per channel, R, G, B (and
// infrared), each starting with the lead-in left of the window.
#pragma once

#include <array>
#include <cstdint>

namespace qrx::imaging {

// Bytes of one sample for a bit depth: 1 for 8 and 24, 2 for every other depth.
inline uint32_t sample_bytes_of(uint32_t bit_depth) {
  return bit_depth == 8 || bit_depth == 24 ? 1u : 2u;
}

// Mean of factor x factor samples: `factor` consecutive raw lines of line_bytes
// each, every channel block reduced on its own (output sample j of a block is the
// truncated mean of samples factor*j .. factor*j + factor - 1 of that block in each
// line; a block's last n mod factor samples are dropped). factor 2 gives the 2 x 2
// mean, 4 the 4 x 4 mean. Returns the bytes written: channels blocks of
// (block samples / factor) samples.
uint32_t box_reduce(const uint8_t* lines, uint32_t line_bytes, uint32_t factor, uint32_t channels,
                    uint32_t sample_bytes, uint8_t* out);

// Puts the k sub-blocks of every channel block of a line read at 1200 dpi and
// above back in pixel order (k = 2, 4 or 8; sub-block s holds the pixels at one
// phase modulo k). False, writing nothing, for any other k. Samples of a block
// past k * (n / k) are not written.
bool deinterleave_segments(const uint8_t* in, uint32_t size, uint32_t k, uint32_t channels,
                           uint32_t sample_bytes, uint8_t* out);

// What the window crop takes from each channel block.
struct CropSpan {
  uint32_t first = 0;  // sample of the block where the window starts
  uint32_t count = 0;  // samples per channel in the window
};

// Where the window lies in a line read at `resolution` across: start and width in
// 2400 dpi units from the first pixel after the lead-in (128 units, 112 with board
// variant 1). count 0 for a resolution that does not divide 2400.
CropSpan crop_span(uint32_t start, uint32_t width, uint32_t resolution, uint8_t board_variant);

// Copies the span of every channel block of a line of `size` bytes into a planar
// line of span.count samples per channel. False (nothing written) when the span
// does not lie inside the blocks.
bool crop_window(const uint8_t* in, uint32_t size, CropSpan span, uint32_t channels,
                 uint32_t sample_bytes, uint8_t* out);

// How 16-bit samples are taken under the light in use: unchanged under the
// flatbed light; under a film light with the black level (512) removed.
struct SampleLevel {
  bool film = false;
  uint8_t film_type = 0;
};
uint16_t film_black_offset(uint16_t sample, uint8_t film_type);

// Planar (count samples per channel) to pixel-interleaved R, G, B; a fourth
// (infrared) block is dropped. 16-bit samples pass through `level`.
void interleave_channels(const uint8_t* planar, uint32_t count, uint32_t channels,
                         uint32_t sample_bytes, SampleLevel level, uint8_t* out);

// The green block of a planar colour line as a grey line (16-bit samples through
// `level`).
void extract_green(const uint8_t* planar, uint32_t count, uint32_t sample_bytes, SampleLevel level,
                   uint8_t* out);

// Per-channel 65536-entry tables and 256-entry tables, R, G, B.
using ChannelTables = std::array<const uint16_t*, 3>;

// In place: 16-bit sample c of every pixel becomes tables[c][sample]; `samples`
// per pixel is 3 (colour) or 1 (grey, through the green table).
void map_gamma16(uint8_t* line, uint32_t pixels, uint32_t samples, const ChannelTables& tables);

// In place, growing the line to twice its size: 8-bit sample c of every pixel
// becomes the u16 tables[c][sample] (grey lines, samples 1, use the green table).
void widen_samples(uint8_t* line, uint32_t pixels, uint32_t samples, const ChannelTables& tables);

// Doubles the pixels of a line of n bytes: every input pixel, then the mean of it
// and the next (the last pixel twice). depth_code 8, 16 (one sample per pixel) or
// 24, 48 (three); bytes or u16 samples as the depth says. Writes 2n bytes to out;
// false, writing nothing, for any other depth code.
bool widen_half_resolution(const uint8_t* in, uint32_t n, uint32_t depth_code, uint8_t* out);

}  // namespace qrx::imaging
