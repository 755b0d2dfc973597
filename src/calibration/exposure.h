// LED exposure adjustment: finding, per colour, the LED on-time that brings the
// brightest pixel of the white calibration strip to the target level (244 +- 10 in
// 8-bit terms by default), by a bracketing search from scratch or a proportional
// search seeded from the next lower resolution; and the exposure of dark reads.
#pragma once

#include <cstdint>

#include "calibration/channel_lines.h"
#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::calibration {

// Tries before the search gives up and judges the last peaks.
inline constexpr int kExposureTries = 21;

// Everything the searches read besides the context and tuning record.
struct ExposureEnvironment {
  uint8_t fau_scan_position = 3;  // the film scan position shared between processes
};

// Exposure for dark references: the controller's shortest exposure (register 0x19)
// plus one in every channel (0x9B00 when it cannot be read).
uint16_t dark_exposure(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                       transport::ExposureSet& exposure);

enum class Search { kBracketing, kProportional };

// The pass an exposure search reads: the resolution (across and down), the lamp
// mode, the dark references already measured at that resolution (required), and
// what the search reads besides the context and tuning record.
struct ExposurePass {
  uint32_t resolution = 0;
  uint8_t lamp_mode = kLampFlatbed;
  const ChannelLines* dark = nullptr;
  ExposureEnvironment environment;
};

// One search over the pass. 0, 0x9BC9 (flatbed) or 0x9BCA (film) when the target
// was not reached, or a code from the line acquisition.
uint16_t search_exposure(transport::ScannerContext& context,
                         const settings::ScannerSetting& setting, const ExposurePass& pass,
                         Search search, transport::ExposureSet& exposure);

// The white pass's choice: above 300 dpi, with the cache switched on and a flatbed
// result cached for the next lower resolution, the proportional search seeded from
// it; otherwise the bracketing search. A success at 300 dpi or more is cached.
uint16_t adjust_exposure(transport::ScannerContext& context,
                         const settings::ScannerSetting& setting, const ExposurePass& pass,
                         transport::ExposureSet& exposure);

}  // namespace qrx::calibration
