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

// One reference pass: its kind, the resolution it reads at (across and down), the
// lamp mode, and what it reads besides the context and tuning record.
struct ReferencePass {
  PassKind kind = PassKind::kWhite;
  uint32_t resolution = 0;
  uint8_t lamp_mode = kLampFlatbed;
  PassEnvironment environment;
};

// The reference lines of one resolution that the passes fill and read.
struct ReferenceLines {
  ChannelLines& white;
  ChannelLines& dark;
};

// Fills R, G and B of the white lines (white pass) or the dark lines (dark pass)
// with the averaged reference of pixels 0 .. shading_pixels(lamp_mode, resolution)
// - 1. A white pass adjusts `exposure` first, using the dark references already in
// the dark lines.
uint16_t reference_pass(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                        const ReferencePass& pass, transport::ExposureSet& exposure,
                        const ReferenceLines& references);

}  // namespace qrx::calibration
