// The register programme of one pass: memory map, gamma, sensor, pixel window,
// line sizes, buffer threshold, motor and shading, in a fixed order, stopping at
// the first failure with that step's code. It does not start the motor.
#pragma once

#include <cstdint>

#include "pass/scan_setup.h"
#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::pass {

// Speed classes 0 to 3 (up to 600, 1200, 2400 dpi across, above); all share one
// map. False for a class outside 0 to 3.
bool set_memory_map(transport::ScannerContext& context, uint32_t speed_class);

// `image` describes the pass as delivered, `read` as the chip reads it; the read
// record's kind (kScanPass, or a carriage move's row) chooses the motor plan. Its
// width may be widened to an even pixel count.
uint16_t program_scan(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                      const ScanSetup& image, ScanSetup& read);

}  // namespace qrx::pass
