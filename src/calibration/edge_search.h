// The reference edge search: where, in motor steps from the step-out position, the
// scan origin lies. It reads a dark and a white level standing, then 256 lines
// moving, and looks in two narrow columns for the first place the image turns dark
// for five lines running; the left column gives the edge, the right one must see
// it at least 23 lines later (or not at all).
#pragma once

#include <cstdint>
#include <vector>

#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::calibration {

// The edge of a column of per-line means: the last line before the first run of
// five dark lines (a run ending at line l gives l - 5, as a 16-bit value), or -1
// when there is none.
int column_edge(const std::vector<uint32_t>& means, uint32_t threshold);

// 0 with the edge position (motor steps) and the second value (always 0), or
// 0xB300 when no usable mark was found, or an acquisition code. Both outputs are 0
// on failure.
uint16_t search_reference_edge(transport::ScannerContext& context,
                               const settings::ScannerSetting& setting, uint16_t& edge_position,
                               uint16_t& second_value);

}  // namespace qrx::calibration
