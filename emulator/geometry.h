// Fixed facts of the emulated scanner: sensor size, chip clock, memory map, carriage
// travel and where the calibration strip, the reference mark and the scan origin lie.
// Every other emulator file takes these numbers from here.
#pragma once

#include <cstdint>

namespace qrx::emu {

// Sensor: one row of 20544 elements at 2400 dpi, made of eight chips.
inline constexpr int kSensorElements = 20544;
inline constexpr int kSensorChipElements = 2576;
// The window registers 0x30..0x33 count sensor pixels from this value.
inline constexpr int kWindowPixelBase = 320;
// Element e of the sensor looks at glass x = e - lead-in (2400 dpi units): the first
// elements sit under the frame, left of the glass's x = 0.
inline constexpr int kLeadInUnits[2] = {128, 112};  // by board variant

// Chip clock: timing registers count ticks of 8/30 us.
inline constexpr uint64_t kTicksPerUsNumerator = 15;  // ticks = us * 15 / 4
inline constexpr uint64_t kTicksPerUsDenominator = 4;

// Memory map.
inline constexpr uint32_t kRamBase = 0x10000000;
inline constexpr uint32_t kRamBlockBytes = 8192;
inline constexpr uint32_t kRamBytes = 1024 * kRamBlockBytes;  // 8 MiB
inline constexpr uint32_t kGammaBase = 0x01000000;
inline constexpr uint32_t kGammaCurveBytes = 0x200;  // 256 u16 entries
inline constexpr uint32_t kGammaBytes = 3 * kGammaCurveBytes;
inline constexpr uint32_t kSlopeSlotBytes = 0x4000;
inline constexpr uint32_t kImageReadAddress = kRamBase;
// The image buffer: the RAM above the slope tables and shading areas (blocks 172 to
// 1023 of 8 KiB, the area the driver's memory layout hands to line data).
inline constexpr uint32_t kDefaultImageBufferBytes = 852 * kRamBlockBytes;

// Carriage: motor steps of 1/1200 inch from the home sensor.
inline constexpr double kTravelSteps = 16500.0;  // far end of travel (13.75 inch)

// Scene layout, glass coordinates in 2400 dpi units: x from the left edge of the
// glass (the scan window's x = 0), y from the sensor line at the home position.
inline constexpr double kWhiteReflectance = 0.90;  // calibration strip and lid
inline constexpr int kMarkTopSteps = 1232;         // top edge of the black reference mark
inline constexpr int kMarkHeightUnits = 240;
inline constexpr int kMarkLeftUnits = 8000;
inline constexpr int kMarkRightUnits = 9500;
inline constexpr int kMarkWideRightUnits = 10500;  // the "wide" mark of edge-search tests

// Where the driver's own moves leave the carriage, as this chip executes them: the
// step-out move of 1000 steps also travels its 8 acceleration steps, its two lines
// and two run-out lines (4 steps at 1200 dpi) and its 8 deceleration steps.
inline constexpr double kStepOutSteps = 1020.0;
// The reference edge search's arithmetic (last white line before the mark, plus the
// acceleration and feed it assumes, plus 151 steps) gives mark top - 871 for every
// port type; the scan origin is that far beyond the step-out position.
inline constexpr int kExpectedHomeOffset = kMarkTopSteps - 871;
inline constexpr double kScanOriginSteps = kStepOutSteps + kExpectedHomeOffset;
inline constexpr double kFilmOriginSteps = kExpectedHomeOffset;

// The transparency in the film holder, under the film adapter's lamp: its top left
// corner lies at the corner of the film area the driver's window check gives
// (film window x 17760, y 5440, 2400 dpi units). Film windows are reckoned from the
// reference edge: the driver starts a film scan from home, without the flatbed's
// step-out, so film y 0 is glass y 2 x the reference offset.
inline constexpr int kFilmLeftUnits = 17760;
inline constexpr int kFilmTopUnits = 5440;

// Flatbed scanning area (2400 dpi units).
inline constexpr int kFlatbedWidthUnits = 20416;
inline constexpr int kFlatbedLengthUnits = 28064;

}  // namespace qrx::emu
