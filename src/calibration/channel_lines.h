// Per-channel lines of 16-bit values (R, G, B, IR), each room for 65536 entries:
// the white and dark references of calibration and the arrays derived from them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/memory.h"
#include "transport/scanner_context.h"

namespace qrx::calibration {

using ChannelLines = std::array<std::vector<uint16_t>, 4>;

// Gives each channel its 65536 entries; false when memory runs out.
inline bool allocate_lines(ChannelLines& lines) {
  for (auto& line : lines) {
    if (!platform::try_resize(line, transport::kShadingEntries)) return false;
  }
  return true;
}

// Lamp modes of calibration: the flatbed light, and film (visible and infrared).
inline constexpr uint8_t kLampFlatbed = 1;
inline constexpr uint8_t kLampFilm = 12;
inline constexpr uint8_t kLampFilmSeries = 4;

// Reference lines cover the full sensor line under either light: a film window may
// lie anywhere the film area reaches, and from 1200 dpi up every line is read (and
// shaded) across the whole sensor. The film exposure is adjusted over the film
// adapter's window only.
inline constexpr uint32_t kFlatbedShadingWidth = 20544;
inline constexpr uint32_t kFilmExposureWidth = 5904;
inline bool is_flatbed(uint8_t lamp_mode) {
  return (lamp_mode & 1) != 0;
}
inline uint32_t shading_width(uint8_t /*lamp_mode*/) {
  return kFlatbedShadingWidth;
}
// Pixels per channel of a reference line at a resolution.
inline uint32_t shading_pixels(uint8_t lamp_mode, uint32_t resolution) {
  return shading_width(lamp_mode) * resolution / 2400;
}

}  // namespace qrx::calibration
