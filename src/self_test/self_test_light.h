// The light self-tests: the light and dark check of the sensor (test 5) and the
// light uniformity across it (test 50), with the verdicts on the measured lines.
// Measured lines are 8-bit and channel-planar (all red samples, then green, then
// blue); a verdict looks at equal segments of a channel block, each without its
// first 32 samples (at 1200 dpi and above a block holds the sensor's phases one
// segment after another, so each segment spans the whole sensor).
#pragma once

#include <cstdint>
#include <vector>

#include "calibration/channel_lines.h"
#include "calibration/reference_pass.h"
#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::self_test {

// Samples skipped at the start of every segment.
inline constexpr uint32_t kSegmentSkip = 32;

// Lit sensor: the smallest sample must be at least 23 % of the largest
// (integer); 0 or 0x0A01.
uint16_t judge_light(const std::vector<uint8_t>& lines, uint32_t line_count, uint32_t segments);
// Dark sensor: every sample below 81; 0 or 0x0A02.
uint16_t judge_dark(const std::vector<uint8_t>& lines, uint32_t line_count, uint32_t segments);
// Uniformity: per pixel and colour the mean over the lines of (sample - dark / 256),
// dark being the 16-bit dark reference at the same position; for each colour
// (largest - smallest) / (largest + smallest) of those means must not exceed 0.7.
// 0 or 0x8201 (also when a colour has no light at all).
uint16_t judge_uniformity(const std::vector<uint8_t>& lines, uint32_t line_count, uint32_t segments,
                          const calibration::ChannelLines& dark);

// Test 5: homes, steps out, measures a lit white at home with the exposure of a
// fresh 2400 dpi white reference, then the dark sensor at the shortest exposure.
uint16_t light_and_dark_check(transport::ScannerContext& context,
                              const settings::ScannerSetting& setting,
                              const calibration::PassEnvironment& environment);

// Test 50 with parameter 0 (600 dpi, one segment), 1 (2400 dpi, four) or 2 (the
// 4800 dpi layout's eight segments; the sensor is read at 2400 dpi, its finest).
// Any other parameter: 0x9700.
uint16_t light_uniformity(transport::ScannerContext& context,
                          const settings::ScannerSetting& setting,
                          const calibration::PassEnvironment& environment, uint8_t parameter);

}  // namespace qrx::self_test
