// USB scanners for the device list (see usb_listing.h).
#include "usb_listing.h"

#include "debug_log.h"

namespace qrx::sane {

std::vector<std::string> usb_scanners() {
  debug(kLogInfo, "this build of the library has no USB channel: no USB scanners to list");
  return {};
}

}  // namespace qrx::sane
