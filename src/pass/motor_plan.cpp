// Motor plans from the tuning tables.
#include "pass/motor_plan.h"

#include "settings/tuning_index.h"

namespace qrx::pass {

Timing timing_lookup(const settings::ScannerSetting& setting, const ScanSetup& pass,
                     uint32_t resolution) {
  const int group = settings::port_group(pass.port_type);
  const int depth = settings::depth_class(pass.bit_depth);
  const int res = settings::resolution_index(resolution);
  Timing timing;
  if (pass.move_row != kScanPass) {
    timing.line_period = setting.MOTOR_MSETTING(pass.move_row, 1);
    timing.vertical_multiplier = setting.VERTICALRES_BOUND_BOOK(group, depth, res);
  } else if (pass.light_source == kFlatbedLight) {
    timing.line_period = setting.LINEPERIOD_BOOK(group, depth, res);
    timing.vertical_multiplier = setting.VERTICALRES_BOUND_BOOK(group, depth, res);
  } else {
    timing.line_period = setting.LINEPERIOD_FAU(group, depth, res);
    timing.vertical_multiplier = setting.VERTICALRES_BOUND_FAU(group, depth, res);
  }
  return timing;
}

void plan_motor(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                const ScanSetup& pass, MotorPlan& plan) {
  const uint32_t vertical_resolution = pass.y_resolution;
  const uint8_t channels = pass.channels;
  const uint8_t move_selector = pass.move_row;
  const Timing timing = timing_lookup(setting, pass, vertical_resolution);
  const int group = settings::port_group(pass.port_type);
  const int depth = settings::depth_class(pass.bit_depth);
  const int res = settings::resolution_index(vertical_resolution);

  plan = MotorPlan{};
  plan.forward_feed_steps = setting.SSFEEDSTEP_FW(group, depth, res);
  plan.backward_feed_steps = setting.SSFEEDSTEP_BW(group, depth, res);
  plan.motor_lines = static_cast<uint16_t>(vertical_resolution * channels);
  plan.line_period = timing.line_period;
  plan.vertical_multiplier = 1;
  plan.channels = channels;

  uint16_t accelerate_steps = 0;
  uint16_t decelerate_steps = 0;
  if (move_selector == kScanPass) {
    plan.phase_index = setting.MOTORPHASEINDEX_BOOK(group, depth, res);
    plan.step_mode = setting.MOTORSTEPMODE_BOOK(group, depth, res);
    context.stored_table[0] = setting.MOTOR_TABLE_NUMBER(group, depth, res, 0);
    context.stored_table[1] = setting.MOTOR_TABLE_NUMBER(group, depth, res, 1);
    plan.vertical_multiplier = static_cast<uint8_t>(timing.vertical_multiplier);
    accelerate_steps = setting.SLOPETABLESTEP_BOOK(group, depth, res, 0);
    decelerate_steps = setting.SLOPETABLESTEP_BOOK(group, depth, res, 1);
  } else {
    plan.phase_index = static_cast<uint8_t>(setting.MOTOR_MSETTING(move_selector, 5));
    plan.step_mode = static_cast<uint8_t>(setting.MOTOR_MSETTING(move_selector, 2));
    context.stored_table[0] = setting.MOTOR_TABLE_NUMBER_MOVE(move_selector, 0);
    context.stored_table[1] = setting.MOTOR_TABLE_NUMBER_MOVE(move_selector, 1);
    accelerate_steps = static_cast<uint16_t>(setting.MOTOR_MSETTING(move_selector, 3));
    decelerate_steps = static_cast<uint16_t>(setting.MOTOR_MSETTING(move_selector, 4));
  }
  for (size_t slot = 0; slot < plan.slots.size(); ++slot) {
    plan.slots[slot].decelerate = kSlotDecelerates[slot];
    plan.slots[slot].steps = kSlotDecelerates[slot] != 0 ? decelerate_steps : accelerate_steps;
  }
}

uint8_t step_divider(uint32_t v) {
  const uint8_t c = static_cast<uint8_t>((v + 65535u) / 65536u);  // wraps like the chip's 32 bits
  if (c > 16) return 32;
  if (c > 8) return 16;
  if (c > 4) return 8;
  if (c > 2) return 4;
  if (c == 2) return 2;
  return 1;
}

}  // namespace qrx::pass
