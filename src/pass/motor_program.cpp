// The motor block of the register programme.
#include "pass/motor_program.h"

#include "pass/slope_table.h"
#include "qrx7730.h"
#include "transport/registers.h"

namespace qrx::pass {
namespace {

using transport::write_bit_field;
using transport::write_register;
using transport::write_register24;

constexpr uint8_t kMotorControl = 0x02;

// Slot lengths are given to the chip in units of eight micro-steps.
uint8_t slot_units(const MotorPlan& plan, int slot) {
  return static_cast<uint8_t>((static_cast<uint32_t>(plan.slots[slot].steps) << plan.step_mode) /
                              8);
}

uint8_t feed_register(uint8_t feed_steps, const MotorPlan& plan, const MotorMode& mode) {
  if (mode.fast_feed == 1) return 1;
  return static_cast<uint8_t>(((((uint32_t{feed_steps} << plan.step_mode) % 256) * 2) / 8));
}

}  // namespace

PhaseValues motor_phase_values(const transport::ScannerContext& context,
                               const settings::ScannerSetting& setting, const MotorPlan& plan,
                               uint32_t feed_steps) {
  PhaseValues z;
  if ((setting.SPECIALMODE() & 0x2000) != 0) {
    z.z1 = setting.SPECIAL_Z1MOD_SETTING();
    z.z2 = setting.SPECIAL_Z2MOD_SETTING();
    return z;
  }
  const uint32_t k = plan.step_divider;
  const uint32_t a = plan.slots[0].table_sum * k;
  const uint32_t l = plan.slots[0].last_step_time * k;
  const uint32_t p = plan.line_period * (plan.channels != 1 ? 3u : 1u);
  if (p != 0) {  // no line period: nothing to phase against
    const uint32_t f = feed_steps;
    z.z2 = (a + ((f << plan.step_mode) - 1) * l) % p;
    const uint32_t forward = ((uint32_t{plan.forward_feed_steps} * 2 << plan.step_mode) / 8) * 8;
    z.z1 = (a + l * (forward - 1)) % p;
  }
  if (context.link.port_type() == 2 && context.bit_depth == 8) {
    if (context.scan_y_res == 1200) {
      z.z1 = z.z1 > 8 ? z.z1 - 8 : 1;
      z.z2 = z.z2 >= 9 ? z.z2 - 8 : 1;
    } else if (context.scan_y_res == 2400) {
      z.z1 = 2640;
      z.z2 = 0;
    }
  }
  return z;
}

uint16_t program_motor(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                       const ScanSetup& pass, MotorPlan& plan) {
  transport::DeviceLink& link = context.link;
  const uint32_t feed_steps = pass.feed_steps;
  const uint32_t lines_times_channels = pass.lines * pass.channels;
  MotorMode mode;
  mode.toward_home = static_cast<uint8_t>(pass.toward_home);
  mode.b5 = static_cast<uint8_t>(pass.b5);
  mode.b1 = static_cast<uint8_t>(pass.b1);
  mode.fast_feed = static_cast<uint8_t>(pass.fast_feed);
  if (!write_bit_field(link, kMotorControl, 3, 3, 0) || !write_register(link, 0x6A, 4) ||
      !write_register(link, 0x1F, 4)) {
    return QRX_E_MOTOR_CONTROL;
  }
  if (!write_bit_field(link, kMotorControl, 7, 7, mode.b5 == 0 ? 1 : 0)) return QRX_E_MOTOR_HOLD;
  if (!write_bit_field(link, kMotorControl, 5, 5, mode.b5) ||
      !write_bit_field(link, kMotorControl, 6, 6, mode.fast_feed) ||
      !write_bit_field(link, kMotorControl, 2, 2, mode.toward_home) ||
      !write_bit_field(link, kMotorControl, 1, 1, mode.b1)) {
    return QRX_E_MOTOR_MODE;
  }
  if (!write_bit_field(link, kMotorControl, 0, 0, 0)) return QRX_E_MOTOR_ENABLE_BIT;
  if (!write_register(link, 0x21, slot_units(plan, 0))) return QRX_E_MOTOR_SLOT0;
  if (!write_register(link, 0x24, slot_units(plan, 1))) return QRX_E_MOTOR_SLOT1;
  if (!write_register(link, 0x69, slot_units(plan, 2))) return QRX_E_MOTOR_SLOT2;
  if (!write_register(link, 0x6A, slot_units(plan, 3))) return QRX_E_MOTOR_SLOT3;
  if (!write_register(link, 0x5F, slot_units(plan, 4))) return QRX_E_MOTOR_SLOT4;
  if (!write_register24(link, 0x3D, feed_steps << plan.step_mode)) return QRX_E_MOTOR_FEED;
  if (!write_register24(link, 0x25, lines_times_channels + 6)) return QRX_E_MOTOR_LINES;
  if (!write_register(link, 0x23, feed_register(plan.backward_feed_steps, plan, mode))) {
    return QRX_E_MOTOR_BACKWARD_FEED;
  }
  if (!write_register(link, 0x22, feed_register(plan.forward_feed_steps, plan, mode))) {
    return QRX_E_MOTOR_FORWARD_FEED;
  }
  if (!transport::set_line(link, 13, (plan.phase_index >> 2) & 1) ||
      !transport::set_line(link, 12, (plan.phase_index >> 1) & 1) ||
      !transport::set_line(link, 11, plan.phase_index & 1)) {
    return QRX_E_MOTOR_PHASE;
  }
  // A table that cannot be built or written would leave the chip's previous one
  // (or none) to drive the motor, and the pass would travel with another ramp and
  // timing than planned: the programme stops instead.
  for (int slot = 0; slot < 5; ++slot) {
    const uint16_t status = load_slope_table(context, setting, slot, plan);
    if (status != QRX_OK) return status;
  }

  const PhaseValues z = motor_phase_values(context, setting, plan, feed_steps);
  if (!write_register24(link, 0x60, z.z1) || !write_register24(link, 0x63, z.z2)) {
    return QRX_E_MOTOR_LINES;
  }
  if (!write_bit_field(link, 0x60, 7, 5, plan.step_mode) ||
      !write_bit_field(link, 0x63, 7, 5, plan.step_mode)) {
    return QRX_E_MOTOR_CONTROL;
  }
  return QRX_OK;
}

}  // namespace qrx::pass
