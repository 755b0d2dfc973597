// The USB backend (see usb_channel.h): device path parsing, the request mapping,
// and the DeviceChannel over an opened platform::UsbDevice.
#include "transport/backends/usb_channel.h"

#include <algorithm>
#include <new>

#include "qrx7730.h"

namespace qrx::transport {
namespace {

using platform::UsbResult;

// A bus number or device address: 1 to 3 decimal digits, 1 to 255.
bool parse_number(const std::string& text, uint8_t& value) {
  if (text.empty() || text.size() > 3) return false;
  unsigned number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<unsigned>(c - '0');
  }
  if (number == 0 || number > 255) return false;
  value = static_cast<uint8_t>(number);
  return true;
}

// "" (any scanner) or "BUS:DEV", either followed by "#name".
bool parse_target(const std::string& target, bool& any, platform::UsbLocation& location) {
  const std::string selection = target.substr(0, target.find('#'));
  any = selection.empty();
  if (any) return true;
  const size_t colon = selection.find(':');
  if (colon == std::string::npos) return false;
  return parse_number(selection.substr(0, colon), location.bus) &&
         parse_number(selection.substr(colon + 1), location.address);
}

class UsbChannel final : public DeviceChannel {
 public:
  UsbChannel(std::unique_ptr<platform::UsbDevice> device, const UsbTimeouts& timeouts)
      : device_(std::move(device)), timeouts_(timeouts) {}

  // A control answer shorter than asked leaves part of the caller's buffer
  // unwritten: the request has failed.
  bool control_read(uint8_t request, uint16_t index, uint8_t* buffer, uint32_t length) override {
    if (length > 0xFFFF || (buffer == nullptr && length > 0)) return false;
    uint32_t moved = 0;
    return device_->control_in(vendor_setup(true, request, index, length), buffer,
                               static_cast<uint16_t>(length), timeouts_.control_ms,
                               moved) == UsbResult::kDone &&
           moved == length;
  }

  bool control_write(uint8_t request, uint16_t index, const uint8_t* data,
                     uint32_t length) override {
    if (length > 0xFFFF || (data == nullptr && length > 0)) return false;
    uint32_t moved = 0;
    return device_->control_out(vendor_setup(false, request, index, length), data,
                                static_cast<uint16_t>(length), timeouts_.control_ms,
                                moved) == UsbResult::kDone &&
           moved == length;
  }

  bool device_descriptor(DeviceDescriptor& descriptor) override {
    descriptor =
        DeviceDescriptor{device_->vendor_id(), device_->product_id(), device_->release(), 0};
    return true;
  }

  // The serial number goes with the scanner to any port; a scanner without one is
  // known by the port it is plugged into (its device address changes at every
  // plug-in).
  std::string identity() override {
    const std::string serial = device_->serial_number();
    if (!serial.empty()) return "usb-serial-" + serial;
    const std::string port = device_->port_path();
    if (!port.empty()) return "usb-port-" + port;
    return {};
  }

  bool bulk_read(uint8_t* buffer, uint32_t length, uint32_t& transferred) override {
    transferred = 0;
    if (buffer == nullptr && length > 0) return false;
    uint32_t moved = 0;
    const UsbResult result = device_->bulk_in(buffer, length, timeouts_.bulk_ms, moved);
    return finished(result, moved, length, transferred);
  }

  bool bulk_write(const uint8_t* data, uint32_t length, uint32_t& transferred) override {
    transferred = 0;
    if (data == nullptr && length > 0) return false;
    uint32_t moved = 0;
    const UsbResult result = device_->bulk_out(data, length, timeouts_.bulk_ms, moved);
    return finished(result, moved, length, transferred);
  }

 private:
  // A transfer cut short by its timeout still delivered what it moved: a short
  // transfer, whose rest the link asks for. One that moved nothing has failed.
  static bool finished(UsbResult result, uint32_t moved, uint32_t length, uint32_t& transferred) {
    if (result == UsbResult::kDone || (result == UsbResult::kTimedOut && moved > 0)) {
      transferred = std::min(moved, length);
      return true;
    }
    return false;
  }

  std::unique_ptr<platform::UsbDevice> device_;
  UsbTimeouts timeouts_;
};

}  // namespace

platform::UsbSetup vendor_setup(bool to_host, uint8_t request, uint16_t index, uint32_t length) {
  platform::UsbSetup setup;
  setup.request_type = to_host ? kVendorToHost : kVendorToDevice;
  setup.request = length > 1 ? kRequestSeveralBytes : kRequestOneByte;
  setup.value = request;
  setup.index = index;
  return setup;
}

std::unique_ptr<DeviceChannel> open_usb_channel(const std::string& target,
                                                const UsbTimeouts& timeouts) {
  bool any = true;
  platform::UsbLocation location;
  if (!parse_target(target, any, location)) return nullptr;
  std::unique_ptr<platform::UsbDevice> device = platform::UsbDevice::open(
      QRX7730_USB_VENDOR_ID, QRX7730_USB_PRODUCT_ID, any ? nullptr : &location);
  if (device == nullptr) return nullptr;
  return std::unique_ptr<DeviceChannel>(new (std::nothrow) UsbChannel(std::move(device), timeouts));
}

}  // namespace qrx::transport
