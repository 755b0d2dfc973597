// One pass as the chip's registers describe it at the start strobe: motion (slope
// tables, feed, lines, direction) and optics (window, resolution, depth, channels,
// exposures, light, shading and gamma switches). Taken once per pass.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace qrx::emu {

class ChipMemory;

struct Programme {
  // Motion. Step times are in chip ticks (divider applied, 0 entries taken as 1).
  bool motor = false;         // reg 0x02 bit 4
  bool toward_home = false;   // reg 0x02 bit 2
  int step_mode = 0;          // reg 0x60 bits 7..5: 2^mode micro-steps per full step
  uint32_t divider = 1;       // 2^(reg 0x1C bits 2..0)
  bool fast_feed = false;     // reg 0x02 bit 6
  std::vector<uint32_t> accel_ticks;  // slot 0, reg 0x21 * 8 entries
  // slot 2, reg 0x69 * 8 entries; with fast feed slot 4, reg 0x5F * 8 entries
  std::vector<uint32_t> decel_ticks;
  uint64_t cruise_ticks = 1;  // per micro-step once accelerated: last slot-0 entry
  uint32_t feed = 0;          // regs 0x3D..0x3F, micro-steps
  // reg 0x04 bits 3..2: 2 one channel (8-bit grey), 3 four (R, G, B and infrared),
  // else three
  int channels = 3;
  uint32_t lines = 0;         // (regs 0x25..0x27 - 6) / channels
  uint32_t run_out_exposures = 0;  // the rest of regs 0x25..0x27
  uint64_t exposure_slot_ticks = 1;  // regs 0x38/0x39 * divider * (reg 0x1E bits 3..0 + 1)
  uint64_t line_ticks = 1;    // exposure slot * channels
  // Motor phase: regs 0x63..0x65 bits 20..0 (0: none given), against the line clock
  // of period regs 0x38/0x39 * divider * channels.
  uint32_t phase = 0;
  uint64_t phase_period = 1;

  // Optics.
  uint32_t resolution = 0;         // regs 0x2C/0x2D
  uint32_t sensor_resolution = 600;  // 600 << reg 0x05 bits 7..6
  uint32_t window_start = 0, window_end = 0;  // regs 0x30..0x33
  bool wide_samples = false;       // reg 0x04 bit 6: 16-bit samples
  bool leds_on = false;            // reg 0x03 bits 5..4 = 01
  std::array<uint64_t, 3> exposure_ticks{};  // regs 0x10..0x15 * divider, at most one slot
  bool shading = false;            // reg 0x01 bit 5
  bool shading_blocks = true;      // 252 data words per 256 unless reg 0x06 bits 7..5 = 2
  std::array<uint32_t, 3> shading_address{};  // 0x10000000 + reg(0xD0 + k) * 8192
  bool gamma = false;              // reg 0x05 bit 3 (8-bit samples only)
  int lead_in_units = 128;         // by board variant

  static Programme from_registers(const uint8_t* regs, const ChipMemory& memory, int board_variant);
};

}  // namespace qrx::emu
