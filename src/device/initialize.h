// Initialisation: the first homing and the reference edge search that locates the
// scan origin, run once per life of the shared status block, and the origin kept
// with the scanner's calibration, which spares a new status block the search while
// the controller stays set up (it has not been re-plugged or switched off and on).
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

// The origin an earlier process found and kept, when it still holds: the
// controller was already set up when this process opened it (it has not come up
// from power since: not re-plugged, not switched off and on). False otherwise
// (outputs unchanged); no device work either way.
bool kept_scan_origin(const transport::ScannerContext& context, uint16_t& home_offset,
                      uint16_t& home_offset_aux);

// Keeps the origin with the scanner's calibration for later processes (the file
// is written only when it does not hold these values already): one this process
// has just searched for, or one it took from the status block or the file while
// the controller had been set up before it opened it. An origin from the block of
// a controller this process found fresh may belong to the controller's former
// life (the block outlives it while some process holds it) and is not kept.
// False when nothing was kept; a later process then searches again.
bool keep_scan_origin(const transport::ScannerContext& context, uint16_t home_offset,
                      uint16_t home_offset_aux, bool searched_now);

// Removes the origin kept with the scanner's calibration: for a controller that
// comes up fresh, which has no origin yet. Called at open after the power-state
// check and before the power-on sets the controller up, so that a process that
// dies in between leaves a controller still seen as fresh. False when it could
// not be made sure that none is left.
bool forget_kept_scan_origin(const transport::ScannerContext& context);

}  // namespace qrx::device
