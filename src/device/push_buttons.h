// The front-panel buttons on input lines 1 to 4 (register 0x6D, low when pressed):
// each poll reports a button once, when it has newly become pressed.
#pragma once

#include <cstdint>

#include "transport/scanner_context.h"

namespace qrx::device {

// The button held down in a register 0x6D value (1 to 4, 0 for none); button 1 wins
// over 2, 2 over 3 and 3 over 4, and all four low at once reads as none.
uint32_t pressed_button(uint8_t buttons_register);

// One poll: reads the register and returns the newly pressed button (0 when none
// or unchanged), updating last_button. 0x9B10 when the register is unreadable;
// last_button is then unchanged.
uint16_t poll_buttons(transport::ScannerContext& context, uint32_t& last_button,
                      uint32_t& reported);

}  // namespace qrx::device
