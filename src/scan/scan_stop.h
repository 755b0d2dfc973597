// Ending a scan: at once (the reader thread stopped, the ring freed, the carriage
// sent home) or after draining what the controller still holds. The read path
// cancels a scan it cannot finish with stop_now; StopScanEx chooses between the
// two.
#pragma once

#include <cstdint>

#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::scan {

// Longest stop_after_draining waits for a first line to reach the ring when none
// has been delivered yet; a scanner that sends nothing for this long never will.
inline constexpr uint32_t kFirstLineWaitMs = 30000;

// Stops the reader, frees the ring, ends the pass (scan enable cleared), waits for
// the motor, switches output line 10 on and sends the carriage home without
// waiting for it; clears the scan's line count, the oversampling byte and scan
// enable. 0 or the failing step's code.
uint16_t stop_now(transport::ScannerContext& context, const settings::ScannerSetting& setting);

// Ends a pass that a process which has died left running: scan enable cleared,
// so that the carriage stops instead of waiting for a reader that never comes.
// False when the register cannot be written.
bool end_abandoned_pass(transport::ScannerContext& context);

// Waits (bounded) for a first line when none was delivered, stops the reader and
// scan enable, lets the motor stop, discards what the controller still buffers,
// and finishes with stop_now. 0 or the failing step's code.
uint16_t stop_after_draining(transport::ScannerContext& context,
                             const settings::ScannerSetting& setting);

}  // namespace qrx::scan
