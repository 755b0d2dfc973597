// Reading a pass's programme out of the register file and the slope table memory.
#include "emulator/programme.h"

#include <algorithm>

#include "emulator/chip_memory.h"
#include "emulator/geometry.h"

namespace qrx::emu {
namespace {

uint32_t be16(const uint8_t* regs, int reg) { return (uint32_t{regs[reg]} << 8) | regs[reg + 1]; }
uint32_t be24(const uint8_t* regs, int reg) {
  return (uint32_t{regs[reg]} << 16) | (uint32_t{regs[reg + 1]} << 8) | regs[reg + 2];
}

std::vector<uint32_t> slope(const ChipMemory& memory, uint32_t address, uint32_t entries,
                            uint32_t divider) {
  entries = std::min<uint32_t>(entries, kSlopeSlotBytes / 2);
  std::vector<uint32_t> ticks(entries);
  for (uint32_t i = 0; i < entries; ++i)
    ticks[i] = std::max<uint32_t>(1, memory.word(address + 2 * i)) * divider;
  return ticks;
}

}  // namespace

Programme Programme::from_registers(const uint8_t* regs, const ChipMemory& memory, int board_variant) {
  Programme p;
  p.motor = (regs[0x02] & 0x10) != 0;
  p.toward_home = (regs[0x02] & 0x04) != 0;
  p.step_mode = regs[0x60] >> 5;
  p.divider = 1u << (regs[0x1C] & 7);
  p.accel_ticks = slope(memory, kRamBase, uint32_t{regs[0x21]} * 8, p.divider);
  // Fast feed decelerates over the fast-feed table of slot 4.
  p.fast_feed = (regs[0x02] & 0x40) != 0;
  const uint32_t decel_slot = p.fast_feed ? 4 : 2;
  const uint32_t decel_units = p.fast_feed ? regs[0x5F] : regs[0x69];
  p.decel_ticks =
      slope(memory, kRamBase + decel_slot * kSlopeSlotBytes, decel_units * 8, p.divider);
  p.cruise_ticks = p.accel_ticks.empty() ? std::max<uint32_t>(1, memory.word(kRamBase)) * p.divider
                                         : p.accel_ticks.back();
  p.feed = be24(regs, 0x3D);
  const int channel_mode = (regs[0x04] >> 2) & 3;
  p.channels = channel_mode == 2 ? 1 : (channel_mode == 3 ? 4 : 3);
  const uint32_t motor_lines = be24(regs, 0x25);
  p.lines = motor_lines > 6 ? (motor_lines - 6) / p.channels : 0;
  p.run_out_exposures = motor_lines - p.lines * p.channels;
  const uint64_t period = std::max<uint32_t>(1, be16(regs, 0x38));
  p.exposure_slot_ticks = period * p.divider * ((regs[0x1E] & 0x0F) + 1u);
  p.line_ticks = p.exposure_slot_ticks * p.channels;
  p.phase = be24(regs, 0x63) & 0x1FFFFF;  // bits 7..5 of 0x63 hold the step mode
  p.phase_period = period * p.divider * p.channels;

  p.resolution = be16(regs, 0x2C);
  p.sensor_resolution = 600u << (regs[0x05] >> 6);
  p.window_start = be16(regs, 0x30);
  p.window_end = be16(regs, 0x32);
  p.wide_samples = (regs[0x04] & 0x40) != 0;
  p.leds_on = ((regs[0x03] >> 4) & 3) == 1;
  for (int c = 0; c < 3; ++c)
    p.exposure_ticks[c] = std::min<uint64_t>(uint64_t{be16(regs, 0x10 + 2 * c)} * p.divider,
                                             p.exposure_slot_ticks);
  p.shading = (regs[0x01] & 0x20) != 0;
  p.shading_blocks = (regs[0x06] >> 5) != 2;
  for (int k = 0; k < 3; ++k) p.shading_address[k] = kRamBase + uint32_t{regs[0xD0 + k]} * kRamBlockBytes;
  p.gamma = (regs[0x05] & 0x08) != 0;
  p.lead_in_units = kLeadInUnits[board_variant != 0 ? 1 : 0];
  return p;
}

}  // namespace qrx::emu
