// The Windows still-image driver backend: register requests as driver I/O
// controls carrying the 24-byte request block, bulk data as file reads and writes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/driver_file.h"
#include "transport/device_channel.h"

namespace qrx::transport {

// Driver I/O control codes.
inline constexpr uint32_t kIoctlReadRegisters = 0x8000200C;
inline constexpr uint32_t kIoctlWriteRegisters = 0x80002010;
inline constexpr uint32_t kIoctlGetDeviceDescriptor = 0x80002018;

// The driver's request block, as its 64-bit callers lay it out. The driver sends
// it as a vendor control transfer: wValue = offset, wIndex = index, wLength =
// length, bRequest 0x04 for more than one byte and 0x0C otherwise, bmRequestType
// 0xC0 for a read and 0x40 for a write (the USB backend sends the same transfer
// itself, see usb_channel.h).
struct ControlBlock {
  uint32_t offset;  // the request code
  uint32_t length;  // data bytes
  const uint8_t* data;  // write requests: the bytes to send; read requests: null
  uint32_t index;   // the request's index
  uint32_t padding;
};

// Opens the driver for the device path (fails everywhere but Windows).
std::unique_ptr<DeviceChannel> open_stillimage_channel(const std::string& path);
// Builds the channel over an already opened driver file (tests).
std::unique_ptr<DeviceChannel> make_stillimage_channel(std::unique_ptr<platform::DriverFile> file);

}  // namespace qrx::transport
