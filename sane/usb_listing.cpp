// USB scanners for the device list (see usb_listing.h).
#include "usb_listing.h"

#include "debug_log.h"
#ifdef QRX7730_SANE_USB_DISCOVERY
#include "transport/backends/usb_discovery.h"
#endif

namespace qrx::sane {

std::vector<std::string> usb_scanners() {
#ifdef QRX7730_SANE_USB_DISCOVERY
  std::vector<std::string> found = transport::list_usb_scanners();
  debug(kLogInfo, "%zu scanner(s) on USB", found.size());
  return found;
#else
  debug(kLogInfo, "this build has no USB channel: no USB scanners to list");
  return {};
#endif
}

}  // namespace qrx::sane
