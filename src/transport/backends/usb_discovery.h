// Finding the attached scanners for programs that offer a choice of device
// (qrxscan -L, the SANE backend's device list). Not part of the shipped library,
// whose exported interface has no such call: programs link the small static
// library qrx_usb_discovery beside it.
#pragma once

#include <string>
#include <vector>

namespace qrx::transport {

// The device paths "usb:BBB:DDD" (bus number and device address in three decimal
// digits, as under /dev/bus/usb) of the attached devices with the configured
// vendor and product ids, in bus and address order. Empty when there is none or
// USB cannot be reached.
std::vector<std::string> list_usb_scanners();

}  // namespace qrx::transport
