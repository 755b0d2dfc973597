// Programming the controller's motor block for one pass: ramp lengths, feed, line
// count, phase lines, the five slope tables and the motor phase values.
#pragma once

#include <cstdint>

#include "pass/motor_plan.h"
#include "pass/scan_setup.h"
#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::pass {

// Register 0x02 mode bits of a pass.
struct MotorMode {
  uint8_t toward_home = 0;  // b2: bit 2, carriage moves towards home
  uint8_t b5 = 0;           // bit 5
  uint8_t b1 = 0;           // bit 1
  uint8_t fast_feed = 0;    // b6: bit 6
};

// Writes the motor registers and slope tables for the pass (its feed, its lines
// times channels and its register 0x02 mode bits); 0 or the failing group's code.
uint16_t program_motor(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                       const ScanSetup& pass, MotorPlan& plan);

// The two motor phase values (registers 0x60-0x62 and 0x63-0x65) before the step
// mode bits are set; exposed for tests.
struct PhaseValues {
  uint32_t z1 = 0;
  uint32_t z2 = 0;
};
PhaseValues motor_phase_values(const transport::ScannerContext& context,
                               const settings::ScannerSetting& setting, const MotorPlan& plan,
                               uint32_t feed_steps);

}  // namespace qrx::pass
