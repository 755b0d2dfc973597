// The front-panel buttons (see push_buttons.h).
#include "device/push_buttons.h"

#include "qrx7730.h"
#include "transport/registers.h"

namespace qrx::device {

uint32_t pressed_button(uint8_t v) {
  constexpr uint8_t kNothingPressed = 0x3F;
  if (v == kNothingPressed) return 0;
  uint32_t pressed = 0;
  // Tested in this order, each true test overriding the earlier ones.
  if ((v & 0x0D) != 0 && (v & 0x02) == 0) pressed = 4;
  if ((v & 0x0B) != 0 && (v & 0x04) == 0) pressed = 3;
  if ((v & 0x0E) != 0 && (v & 0x01) == 0) pressed = 2;
  if ((v & 0x07) != 0 && (v & 0x08) == 0) pressed = 1;
  return pressed;
}

uint16_t poll_buttons(transport::ScannerContext& context, uint32_t& last_button,
                      uint32_t& reported) {
  uint8_t value = 0;
  if (!transport::read_register(context.link, transport::reg::kButtons, value)) {
    return QRX_E_BUTTON_REGISTER;
  }
  const uint32_t pressed = pressed_button(value);
  reported = pressed != last_button ? pressed : 0;
  last_button = pressed;
  return QRX_OK;
}

}  // namespace qrx::device
