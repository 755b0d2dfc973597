// The tone curve a job puts its lines through for the brightness and contrast a
// client asked for: 65536 16-bit entries, entry i the output for the 16-bit
// input i, the same for every channel.
//
// Brightness b (-100..100 %) moves every level by b % of the full scale;
// contrast c (-100..100 %) steepens (or flattens) the curve about the middle
// level by (100 + c) / (100 - c), 100 % making a step there:
// y = (x - 1/2) (100 + c) / (100 - c) + 1/2 + b / 100 on levels from 0 to 1,
// clipped.
#pragma once

#include <cstdint>
#include <vector>

namespace qrx::escl {

std::vector<uint16_t> tone_curve(int brightness, int contrast);

// Puts a line of samples of depth bits (8, or 16 little-endian) through the curve.
void apply_tone(const std::vector<uint16_t>& curve, int depth, std::vector<uint8_t>& line);

}  // namespace qrx::escl
