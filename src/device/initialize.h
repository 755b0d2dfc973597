// Initialisation: the first homing and the reference edge search that locates the
// scan origin, run once per life of the shared status block.
#pragma once

#include <cstdint>

#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::device {

// Homes, steps out, finds the reference edge and waits for the carriage. 0 with
// the edge position and its second value, or the failing step's code (outputs
// then 0).
uint16_t find_scan_origin(transport::ScannerContext& context,
                          const settings::ScannerSetting& setting, uint16_t& home_offset,
                          uint16_t& home_offset_aux);

}  // namespace qrx::device
