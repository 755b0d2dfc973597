// The service self-tests of TestScanner, selected by a test code: carriage
// endurance runs (0 endless, 4 once), the light and dark check (5), a flatbed
// calibration run (6), the light uniformity across the sensor (50), reading the
// input lines (51, 52), writing the output lines (53, 54), the controller memory
// test (56) and short motor moves (57). Codes 1, 55 and every other code do
// nothing and pass.
#pragma once

#include <cstdint>

#include "calibration/reference_pass.h"
#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::self_test {

// Runs test `code` with its parameter. The result is 0 for a pass, the failing
// step's code otherwise; tests 51 and 52 return the bit map of their input lines
// (at most 0xFF), or 0x8200 when a line cannot be read.
//
// Test 0 repeats its pass as long as the scanner works: it returns only when a
// pass fails (a register, move, homing or acquisition failure, a stalled motor,
// a disconnected scanner or a stopped emulator), with that failure's code. A
// service host ends it by making the scanner stop answering (unplugging it or
// stopping the emulator), or by ending its own process: the busy flag of a
// process that died is taken over by the next caller.
uint16_t run_self_test(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                       const calibration::PassEnvironment& environment, uint8_t code,
                       uint8_t parameter);

}  // namespace qrx::self_test
