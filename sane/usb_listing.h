// Where the USB scanners for sane_get_devices come from: the device paths
// usb:BBB:DDD of the attached scanners with the library's USB ids, as the USB
// channel's discovery finds them (qrx_usb_discovery, linked beside the library,
// whose exported interface has no such call). Every path is then probed and
// listed like a configured one (device_list.cpp). A build without the USB
// channel finds none.
#pragma once

#include <string>
#include <vector>

namespace qrx::sane {

std::vector<std::string> usb_scanners();

}  // namespace qrx::sane
