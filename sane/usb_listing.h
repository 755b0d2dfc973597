// Where the USB scanners for sane_get_devices come from: the device paths
// usb:BUS:DEV of the scanners with the library's USB ids on this machine.
//
// The library of this build has no USB channel on Linux, so there is nothing to
// list yet and usb_scanners() returns nothing (saying so on the debug output).
// The USB channel brings the discovery by vendor and product id; this function is
// the one place the backend asks it, and every path it returns is then probed and
// listed like a configured one (device_list.cpp).
#pragma once

#include <string>
#include <vector>

namespace qrx::sane {

std::vector<std::string> usb_scanners();

}  // namespace qrx::sane
