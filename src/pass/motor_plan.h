// The motor plan of one pass: how the controller's stepper motor accelerates,
// travels and slows down for a scan at a given vertical resolution, or for one of
// the ten carriage-move settings, looked up from the tuning record.
#pragma once

#include <array>
#include <cstdint>

#include "pass/scan_setup.h"
#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::pass {

struct SlopeSlot {
  uint16_t steps = 0;  // full steps of the ramp
  uint16_t reserved = 0;
  uint32_t last_step_time = 0;  // the table's final entry after division
  uint8_t decelerate = 0;       // 0 acceleration table, 1 deceleration table
  uint32_t table_sum = 0;       // sum of the table's entries after division
};

struct MotorPlan {
  uint8_t step_divider = 1;  // power of two dividing step times and line period
  uint8_t step_mode = 0;     // one full step = 2^step_mode micro-steps
  uint8_t phase_index = 0;
  uint8_t forward_feed_steps = 0;
  uint8_t backward_feed_steps = 0;
  uint8_t channels = 0;
  uint32_t line_period = 0;  // chip clock ticks per exposure
  uint8_t vertical_multiplier = 1;
  uint16_t motor_lines = 0;  // vertical resolution x channels
  std::array<SlopeSlot, 5> slots{};
};

// Which slots accelerate: 0, 1 and 3; 2 and 4 decelerate.
inline constexpr std::array<uint8_t, 5> kSlotDecelerates = {0, 0, 1, 0, 1};

struct Timing {
  uint32_t line_period = 0;
  uint16_t vertical_multiplier = 0;
};

// Line period and vertical multiplier at `resolution` in the mode of the pass (its
// light, port type and depth), or of its move row for a carriage move.
Timing timing_lookup(const settings::ScannerSetting& setting, const ScanSetup& pass,
                     uint32_t resolution);

// Fills plan (and the context's stored-table numbers) for the pass: a scan at its
// resolution down, or its move row. The step divider is left at 1: the register
// programme sets it.
void plan_motor(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                const ScanSetup& pass, MotorPlan& plan);

// Smallest power of two (1 to 32) that brings v into 16 bits.
uint8_t step_divider(uint32_t v);

}  // namespace qrx::pass
