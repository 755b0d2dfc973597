// Reference passes: reading a dark reference (LEDs off, carriage standing) or a
// white reference (exposure adjusted, carriage moving over the white strip) at one
// resolution and reducing the block of lines to one robust line per colour.
#pragma once

#include <cstdint>

#include "calibration/channel_lines.h"
#include "calibration/exposure.h"
#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::calibration {

enum class PassKind { kWhite = 0, kDark = 1 };

struct PassEnvironment {
  uint8_t lamp_select = 1;  // the host's light selection, restored after a dark pass
  ExposureEnvironment exposure;
};

// Fills R, G and B of `white` (white pass) or `dark` (dark pass) with the averaged
// reference of pixels 0 .. shading_pixels(lamp_mode, resolution) - 1. A white pass
// adjusts `exposure` first, using the dark references already in `dark`.
uint16_t reference_pass(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                        const PassEnvironment& environment, uint32_t resolution, uint8_t lamp_mode,
                        transport::ExposureSet& exposure, PassKind kind, ChannelLines& white,
                        ChannelLines& dark);

}  // namespace qrx::calibration
