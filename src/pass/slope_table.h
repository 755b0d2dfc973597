// Motor slope tables: the step time of every micro-step of a ramp, computed from
// the motor plan or copied from a stored tuning table, and uploaded to the slot's
// place in controller memory.
#pragma once

#include <cstdint>
#include <vector>

#include "pass/motor_plan.h"
#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::pass {

// Entries one slot of controller memory holds (0x4000 bytes).
inline constexpr uint32_t kSlotEntries = 8192;

// Computes the ramp of one slot into table (slot steps x 2^step mode entries),
// raising plan.step_divider when an entry needs it.
void generate_slope_table(MotorPlan& plan, int slot, std::vector<uint16_t>& table);

// Builds the slot's table (stored or computed) into table, applies the start-speed
// limit to acceleration tables and records its sum and last entry in the plan
// (raising plan.step_divider where an entry needs it). 0; 0x9805 when it could not
// be allocated.
uint16_t build_slope_table(const transport::ScannerContext& context,
                           const settings::ScannerSetting& setting, int slot, MotorPlan& plan,
                           std::vector<uint16_t>& table);

// Builds the slot's table as above and writes it to the slot's controller address.
// 0; 0x9805 when it could not be allocated; the slot's motor code (0x9B47, 0x9B49,
// 0x9B4A, 0x9B4B, 0x9B4C for slots 0 to 4) when it could not be written.
uint16_t load_slope_table(transport::ScannerContext& context,
                          const settings::ScannerSetting& setting, int slot, MotorPlan& plan);

}  // namespace qrx::pass
