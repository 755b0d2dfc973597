// DeviceChannel: the driver-level seam between the library and a scanner.
//
// A backend moves vendor control requests, the device descriptor and bulk data
// between the library and one device; it knows nothing of request codes, bulk
// headers or piece sizes, which the transport above it owns (device_link.h).
// Backends: the Windows still-image driver, USB through libusb on Linux ("usb:"),
// the in-process emulator ("sim:"), the emulator daemon ("sim:/path.sock"), and
// scripted channels in tests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace qrx::transport {

struct DeviceDescriptor {
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  uint16_t release = 0;
  uint16_t language_id = 0;
};

class DeviceChannel {
 public:
  virtual ~DeviceChannel() = default;
  // Vendor control request, device to host: fills length bytes of buffer.
  virtual bool control_read(uint8_t request, uint16_t index, uint8_t* buffer, uint32_t length) = 0;
  // Vendor control request, host to device.
  virtual bool control_write(uint8_t request, uint16_t index, const uint8_t* data,
                             uint32_t length) = 0;
  virtual bool device_descriptor(DeviceDescriptor& descriptor) = 0;
  // One transfer on the bulk pipe. It may move fewer bytes than asked, or none
  // while the device has nothing ready; false only when the transfer failed.
  virtual bool bulk_read(uint8_t* buffer, uint32_t length, uint32_t& transferred) = 0;
  virtual bool bulk_write(const uint8_t* data, uint32_t length, uint32_t& transferred) = 0;
  // What tells this scanner from others across opens and re-plugs, as text (a USB
  // serial number or port, the emulator daemon's socket, the in-process emulator's
  // seed and name); empty when the backend cannot tell.
  virtual std::string identity() { return {}; }
};

// Opens the backend the device path names: "sim:" (in-process emulator),
// "sim:<socket path>" (emulator daemon), "usb:" or "usb:BUS:DEV" (USB, Linux), a
// registered test prefix, or on Windows any other path through the still-image
// driver. nullptr when it cannot be opened.
std::unique_ptr<DeviceChannel> open_device_channel(const std::string& path);

// Lets tests add a backend for paths that start with prefix (for example "mp:").
// Registering a prefix again replaces it; a null factory removes it.
using ChannelFactory = std::function<std::unique_ptr<DeviceChannel>(const std::string& path)>;
void register_channel_backend(const std::string& prefix, ChannelFactory factory);

}  // namespace qrx::transport
