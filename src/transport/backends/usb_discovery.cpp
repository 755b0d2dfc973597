// Device paths of the attached scanners (see usb_discovery.h).
#include "transport/backends/usb_discovery.h"

#include <cstdio>
#include <new>

#include "platform/usb_device.h"
#include "qrx7730.h"

namespace qrx::transport {

std::vector<std::string> list_usb_scanners() {
  std::vector<std::string> paths;
  try {
    std::vector<platform::UsbLocation> found;
    platform::UsbDevice::list(QRX7730_USB_VENDOR_ID, QRX7730_USB_PRODUCT_ID, found);
    for (const platform::UsbLocation& where : found) {
      char path[16];
      std::snprintf(path, sizeof path, "usb:%03u:%03u", static_cast<unsigned>(where.bus),
                    static_cast<unsigned>(where.address));
      paths.emplace_back(path);
    }
  } catch (const std::bad_alloc&) {
    paths.clear();
  }
  return paths;
}

}  // namespace qrx::transport
