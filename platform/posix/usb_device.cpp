// USB devices through libusb-1.0 (built in on Linux when the library is present):
// each opened device has a libusb context of its own, its bulk interface claimed
// (a kernel driver bound to it detached first and bound again at close), and
// synchronous transfers that each end by their timeout at the latest. Without
// libusb no device is listed and every open fails.
#include "platform/usb_device.h"

#ifdef QRX7730_HAVE_LIBUSB

#include <libusb.h>

#include <algorithm>
#include <climits>
#include <new>
#include <string>

namespace qrx::platform {
namespace {

bool before(const UsbLocation& a, const UsbLocation& b) {
  return a.bus != b.bus ? a.bus < b.bus : a.address < b.address;
}

UsbLocation location_of(libusb_device* device) {
  return UsbLocation{libusb_get_bus_number(device), libusb_get_device_address(device)};
}

// A context with its device list, released together.
class DeviceList {
 public:
  DeviceList() {
    if (libusb_init(&context_) != 0) {
      context_ = nullptr;
      return;
    }
    const ssize_t count = libusb_get_device_list(context_, &devices_);
    count_ = count > 0 ? count : 0;
  }
  ~DeviceList() {
    if (devices_ != nullptr) libusb_free_device_list(devices_, 1);
    if (context_ != nullptr) libusb_exit(context_);
  }
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;

  bool ok() const { return context_ != nullptr && devices_ != nullptr; }
  libusb_context* context() const { return context_; }
  // The context now belongs to an opened device, which exits it.
  void hand_over_context() { context_ = nullptr; }

  // The device with the ids at location, or the first with the ids in bus and
  // address order; nullptr when there is none.
  libusb_device* find(uint16_t vendor_id, uint16_t product_id, const UsbLocation* location) const {
    libusb_device* chosen = nullptr;
    for (ssize_t i = 0; i < count_; ++i) {
      libusb_device_descriptor descriptor{};
      if (libusb_get_device_descriptor(devices_[i], &descriptor) != 0 ||
          descriptor.idVendor != vendor_id || descriptor.idProduct != product_id) {
        continue;
      }
      const UsbLocation here = location_of(devices_[i]);
      if (location != nullptr && (here.bus != location->bus || here.address != location->address)) {
        continue;
      }
      if (chosen == nullptr || before(here, location_of(chosen))) chosen = devices_[i];
    }
    return chosen;
  }

  void each(uint16_t vendor_id, uint16_t product_id, std::vector<UsbLocation>& found) const {
    for (ssize_t i = 0; i < count_; ++i) {
      libusb_device_descriptor descriptor{};
      if (libusb_get_device_descriptor(devices_[i], &descriptor) == 0 &&
          descriptor.idVendor == vendor_id && descriptor.idProduct == product_id) {
        found.push_back(location_of(devices_[i]));
      }
    }
    std::sort(found.begin(), found.end(), before);
  }

 private:
  libusb_context* context_ = nullptr;
  libusb_device** devices_ = nullptr;
  ssize_t count_ = 0;
};

struct BulkInterface {
  int number = -1;
  uint8_t in = 0;  // endpoint addresses
  uint8_t out = 0;
};

// The first interface (alternate setting 0) of the active configuration with a
// bulk-in and a bulk-out endpoint; the first of each kind on it.
bool find_bulk_interface(libusb_device* device, BulkInterface& found) {
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) != 0) return false;
  for (int i = 0; i < config->bNumInterfaces && found.number < 0; ++i) {
    const libusb_interface& interface = config->interface[i];
    if (interface.num_altsetting < 1) continue;
    const libusb_interface_descriptor& setting = interface.altsetting[0];
    uint8_t in = 0, out = 0;
    for (int e = 0; e < setting.bNumEndpoints; ++e) {
      const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
      if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
        continue;
      uint8_t& slot = (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0 ? in : out;
      if (slot == 0) slot = endpoint.bEndpointAddress;
    }
    if (in != 0 && out != 0) found = BulkInterface{setting.bInterfaceNumber, in, out};
  }
  libusb_free_config_descriptor(config);
  return found.number >= 0;
}

UsbResult result_of(int code) {
  switch (code) {
    case LIBUSB_SUCCESS:
      return UsbResult::kDone;
    case LIBUSB_ERROR_TIMEOUT:
      return UsbResult::kTimedOut;
    case LIBUSB_ERROR_PIPE:
      return UsbResult::kStalled;
    case LIBUSB_ERROR_NO_DEVICE:
      return UsbResult::kGone;
    default:
      return UsbResult::kFailed;
  }
}

// libusb waits forever on a timeout of 0.
unsigned int bounded(uint32_t timeout_ms) {
  return std::clamp<uint32_t>(timeout_ms, 1, static_cast<uint32_t>(UINT_MAX));
}

// "BUS-PORT.PORT...", the kernel's name for the place the device is plugged in.
std::string port_path_of(libusb_device* device) {
  uint8_t ports[8];
  const int depth = libusb_get_port_numbers(device, ports, sizeof ports);
  if (depth <= 0) return {};
  std::string path = std::to_string(libusb_get_bus_number(device)) + "-";
  for (int i = 0; i < depth; ++i) {
    if (i > 0) path += ".";
    path += std::to_string(ports[i]);
  }
  return path;
}

// The serial number string, when the descriptor names one and it can be read.
std::string serial_number_of(libusb_device_handle* handle,
                             const libusb_device_descriptor& descriptor) {
  if (descriptor.iSerialNumber == 0) return {};
  unsigned char text[256];
  const int length = libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, text,
                                                        sizeof text);
  if (length <= 0) return {};
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
}

class LibusbDevice final : public UsbDevice {
 public:
  LibusbDevice(libusb_context* context, libusb_device_handle* handle, const BulkInterface& bulk,
               const libusb_device_descriptor& descriptor, std::string serial_number,
               std::string port_path)
      : context_(context),
        handle_(handle),
        bulk_(bulk),
        descriptor_(descriptor),
        serial_number_(std::move(serial_number)),
        port_path_(std::move(port_path)) {}
  ~LibusbDevice() override {
    // Releasing binds a detached kernel driver again.
    libusb_release_interface(handle_, bulk_.number);
    libusb_close(handle_);
    libusb_exit(context_);
  }
  LibusbDevice(const LibusbDevice&) = delete;
  LibusbDevice& operator=(const LibusbDevice&) = delete;

  uint16_t vendor_id() const override { return descriptor_.idVendor; }
  uint16_t product_id() const override { return descriptor_.idProduct; }
  uint16_t release() const override { return descriptor_.bcdDevice; }
  std::string serial_number() const override { return serial_number_; }
  std::string port_path() const override { return port_path_; }

  UsbResult control_in(const UsbSetup& setup, uint8_t* data, uint16_t length, uint32_t timeout_ms,
                       uint32_t& transferred) override {
    return control(setup, data, length, timeout_ms, transferred);
  }
  UsbResult control_out(const UsbSetup& setup, const uint8_t* data, uint16_t length,
                        uint32_t timeout_ms, uint32_t& transferred) override {
    // libusb takes one buffer type for both directions; it only reads it here.
    return control(setup, const_cast<uint8_t*>(data), length, timeout_ms, transferred);
  }
  UsbResult bulk_in(uint8_t* data, uint32_t length, uint32_t timeout_ms,
                    uint32_t& transferred) override {
    return bulk(bulk_.in, data, length, timeout_ms, transferred);
  }
  UsbResult bulk_out(const uint8_t* data, uint32_t length, uint32_t timeout_ms,
                     uint32_t& transferred) override {
    return bulk(bulk_.out, const_cast<uint8_t*>(data), length, timeout_ms, transferred);
  }

 private:
  UsbResult control(const UsbSetup& setup, uint8_t* data, uint16_t length, uint32_t timeout_ms,
                    uint32_t& transferred) {
    transferred = 0;
    if (gone_) return UsbResult::kGone;
    const int moved =
        libusb_control_transfer(handle_, setup.request_type, setup.request, setup.value,
                                setup.index, data, length, bounded(timeout_ms));
    if (moved >= 0) {
      transferred = static_cast<uint32_t>(moved);
      return UsbResult::kDone;
    }
    return noted(result_of(moved));
  }

  UsbResult bulk(uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t timeout_ms,
                 uint32_t& transferred) {
    transferred = 0;
    if (gone_) return UsbResult::kGone;
    if (length > static_cast<uint32_t>(INT_MAX)) return UsbResult::kFailed;
    int moved = 0;
    const int code = libusb_bulk_transfer(handle_, endpoint, data, static_cast<int>(length), &moved,
                                          bounded(timeout_ms));
    transferred = moved > 0 ? static_cast<uint32_t>(moved) : 0;
    const UsbResult result = noted(result_of(code));
    // A halted endpoint refuses every later transfer until its halt is cleared.
    if (result == UsbResult::kStalled) libusb_clear_halt(handle_, endpoint);
    return result;
  }

  // Once the device is gone every later request fails at once.
  UsbResult noted(UsbResult result) {
    if (result == UsbResult::kGone) gone_ = true;
    return result;
  }

  libusb_context* context_;
  libusb_device_handle* handle_;
  BulkInterface bulk_;
  libusb_device_descriptor descriptor_;
  const std::string serial_number_;
  const std::string port_path_;
  bool gone_ = false;
};

}  // namespace

bool UsbDevice::list(uint16_t vendor_id, uint16_t product_id, std::vector<UsbLocation>& found) {
  found.clear();
  DeviceList devices;
  if (!devices.ok()) return false;
  devices.each(vendor_id, product_id, found);
  return true;
}

std::unique_ptr<UsbDevice> UsbDevice::open(uint16_t vendor_id, uint16_t product_id,
                                           const UsbLocation* location) {
  DeviceList devices;
  if (!devices.ok()) return nullptr;
  libusb_device* device = devices.find(vendor_id, product_id, location);
  BulkInterface bulk;
  libusb_device_descriptor descriptor{};
  if (device == nullptr || libusb_get_device_descriptor(device, &descriptor) != 0 ||
      !find_bulk_interface(device, bulk)) {
    return nullptr;
  }
  libusb_device_handle* handle = nullptr;
  if (libusb_open(device, &handle) != 0) return nullptr;
  // Not every platform can detach a kernel driver; claiming tells whether it matters.
  libusb_set_auto_detach_kernel_driver(handle, 1);
  if (libusb_claim_interface(handle, bulk.number) != 0) {
    libusb_close(handle);
    return nullptr;
  }
  LibusbDevice* opened = nullptr;
  try {
    opened = new LibusbDevice(devices.context(), handle, bulk, descriptor,
                              serial_number_of(handle, descriptor), port_path_of(device));
  } catch (...) {
    opened = nullptr;
  }
  if (opened == nullptr) {
    libusb_release_interface(handle, bulk.number);
    libusb_close(handle);
    return nullptr;
  }
  devices.hand_over_context();
  return std::unique_ptr<UsbDevice>(opened);
}

}  // namespace qrx::platform

#else  // no libusb

namespace qrx::platform {

bool UsbDevice::list(uint16_t, uint16_t, std::vector<UsbLocation>& found) {
  found.clear();
  return false;
}

std::unique_ptr<UsbDevice> UsbDevice::open(uint16_t, uint16_t, const UsbLocation*) {
  return nullptr;
}

}  // namespace qrx::platform

#endif
