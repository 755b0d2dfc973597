// Power-on: finding out whether the controller is already set up, and bringing it
// from reset to a known state (register table, clocks, power lines, work tables,
// line-buffer and memory layout). Each failing step has its own status code.
#pragma once

#include <cstdint>

#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::device {

// Reads register 0x06 (whether the controller is already set up goes to the
// context) and, when the controller is already set up, refuses while the carriage
// is still moving.
uint16_t check_power_state(transport::ScannerContext& context);

// Whether the scanner still answers and its controller still holds a power-on's
// set-up (register 0x06 bit 4): false when the register cannot be read (the
// scanner has gone) or the bit reads clear (it was reset or unplugged since).
bool controller_still_set_up(transport::ScannerContext& context);

// The power-on sequence; 0 or the first failing step's code. The work tables are
// allocated afresh: the tone curves and expansion tables start as identity.
uint16_t power_on(transport::ScannerContext& context, const settings::ScannerSetting& setting);

// The same sequence for a controller that was reset under an open scanner: the
// controller is brought back to the state the power-on leaves it in, while the
// work tables and what the library holds in them for the host (its tone curves,
// their expansion tables) are kept. 0 or the first failing step's code.
uint16_t set_up_controller_again(transport::ScannerContext& context,
                                 const settings::ScannerSetting& setting);

// Memory layout: the per-channel segment length from the memory-size register,
// and the twelve segment bounds written to registers 0xE0 to 0xF7.
struct MemoryLayout {
  uint32_t segment;
  uint16_t bounds[12];
};
// size_bits: register 0x0B bits 0..2; doubled: register 0x08 bit 7.
MemoryLayout memory_layout(uint8_t size_bits, bool doubled, uint32_t line_buffer_reserve);

}  // namespace qrx::device
