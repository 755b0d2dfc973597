// On Windows the scanner is reached through the still-image driver, not from user
// space: no device is listed and every open fails.
#include "platform/usb_device.h"

namespace qrx::platform {

bool UsbDevice::list(uint16_t, uint16_t, std::vector<UsbLocation>& found) {
  found.clear();
  return false;
}

std::unique_ptr<UsbDevice> UsbDevice::open(uint16_t, uint16_t, const UsbLocation*) {
  return nullptr;
}

}  // namespace qrx::platform
