// Fixed facts of the scanner model that several layers share: its sensor and
// reporting resolutions, the resolutions it offers, and its flatbed area.
#pragma once

#include <array>
#include <cstdint>

namespace qrx::settings {

// Pixels per inch of the contact sensor; inside the library positions across and
// along the glass are counted in these units.
inline constexpr uint32_t kOpticalResolution = 2400;
// Unit of the areas exchanged with the host: 1/9600 inch.
inline constexpr uint32_t kConversionResolution = 9600;
// Resolutions the scanner offers (the same across and down).
inline constexpr std::array<uint16_t, 7> kResolutions = {75, 150, 300, 600, 1200, 2400, 4800};
inline constexpr uint16_t kMaximumResolution = 4800;
// Sensor pixels across at the optical resolution.
inline constexpr uint32_t kSensorPixels = 20544;
// The flatbed area in optical-resolution pixels.
inline constexpr uint32_t kFlatbedWidthPixels = 20416;
inline constexpr uint32_t kFlatbedLengthPixels = 28064;
// Motor steps per inch of carriage travel.
inline constexpr uint32_t kMotorStepsPerInch = 1200;

}  // namespace qrx::settings
