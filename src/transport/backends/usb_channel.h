// The USB backend for a scanner reached directly from user space (libusb on Linux):
// "usb:" opens the first attached scanner with the configured vendor and product
// ids, "usb:BUS:DEV" the one at that bus number and device address (decimal, as
// lsusb prints them). Either may end in "#name", which only gives the device path,
// and so its status block, an identity of its own.
//
// Each request of the controller travels as the vendor control transfer the
// still-image driver makes of its request block: bmRequestType 0xC0 to the host or
// 0x40 to the device, bRequest 0x04 when more than one data byte moves and 0x0C
// otherwise, wValue the request code (uOffset), wIndex the index (uIndex), wLength
// the data length (uLength). Bulk data moves on the bulk endpoints the interface
// descriptor names. Every transfer has a timeout; a scanner unplugged during a
// transfer fails it and every later one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/usb_device.h"
#include "transport/device_channel.h"

namespace qrx::transport {

inline constexpr uint8_t kVendorToHost = 0xC0;         // bmRequestType: vendor, device, in
inline constexpr uint8_t kVendorToDevice = 0x40;       // bmRequestType: vendor, device, out
inline constexpr uint8_t kRequestSeveralBytes = 0x04;  // bRequest, more than one data byte
inline constexpr uint8_t kRequestOneByte = 0x0C;       // bRequest, one data byte or none

struct UsbTimeouts {
  uint32_t control_ms = 2000;
  uint32_t bulk_ms = 5000;  // one piece of at most 61440 bytes
};

// The control transfer that carries one request of the controller.
platform::UsbSetup vendor_setup(bool to_host, uint8_t request, uint16_t index, uint32_t length);

// target is the text after "usb:". nullptr when it does not name a device this
// way or the device cannot be opened (absent, not this scanner, held by another
// program, no access).
std::unique_ptr<DeviceChannel> open_usb_channel(const std::string& target,
                                                const UsbTimeouts& timeouts = UsbTimeouts{});

}  // namespace qrx::transport
