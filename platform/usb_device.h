// A USB device reached directly from user space (on Linux through libusb-1.0):
// listing the attached devices with given ids, and one opened device with the
// interface that carries its bulk pipe claimed, for vendor control transfers and
// bulk transfers, each bounded by a timeout. Where no USB library is built in, no
// device is listed and every open fails.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qrx::platform {

// Where a device sits: bus number and device address, as lsusb prints them.
struct UsbLocation {
  uint8_t bus = 0;
  uint8_t address = 0;
};

// The 8-byte setup of a control transfer, less its length (the data size gives it).
struct UsbSetup {
  uint8_t request_type = 0;
  uint8_t request = 0;
  uint16_t value = 0;
  uint16_t index = 0;
};

enum class UsbResult {
  kDone,      // the transfer ended normally (a bulk read may have moved fewer bytes)
  kTimedOut,  // the timeout ran out; what moved before is counted
  kStalled,   // the device refused the request (endpoint halt)
  kGone,      // the device is no longer attached
  kFailed,    // any other failure
};

class UsbDevice {
 public:
  virtual ~UsbDevice() = default;

  // The attached devices with these ids, ordered by bus, then address. False when
  // the USB subsystem cannot be reached at all.
  static bool list(uint16_t vendor_id, uint16_t product_id, std::vector<UsbLocation>& found);

  // Opens the device at location, or the first one list() gives when location is
  // null, provided it carries these ids (no other device is touched: a wrong
  // location opens nothing). Finds the first interface with a bulk-in and a
  // bulk-out endpoint in the active configuration, detaches a kernel driver bound
  // to it and claims it. nullptr when any step fails.
  static std::unique_ptr<UsbDevice> open(uint16_t vendor_id, uint16_t product_id,
                                         const UsbLocation* location);

  // Fields of the device descriptor.
  virtual uint16_t vendor_id() const = 0;
  virtual uint16_t product_id() const = 0;
  virtual uint16_t release() const = 0;
  // The device's serial number string (iSerialNumber) as read at open; empty when
  // the device has none or it could not be read.
  virtual std::string serial_number() const { return {}; }
  // Where the device is plugged in: the bus number and the chain of hub ports,
  // as "BUS-PORT.PORT..." (the kernel's naming, e.g. "3-1.4"); unlike the device
  // address it stays the same when the device is plugged in again at that port.
  // Empty when unknown.
  virtual std::string port_path() const { return {}; }

  // One control transfer; request_type bit 7 gives the direction. transferred is
  // the number of data bytes moved.
  virtual UsbResult control_in(const UsbSetup& setup, uint8_t* data, uint16_t length,
                               uint32_t timeout_ms, uint32_t& transferred) = 0;
  virtual UsbResult control_out(const UsbSetup& setup, const uint8_t* data, uint16_t length,
                                uint32_t timeout_ms, uint32_t& transferred) = 0;
  // One transfer on the bulk-in or bulk-out endpoint. After a stall the endpoint's
  // halt is cleared, so that the next transfer can go through.
  virtual UsbResult bulk_in(uint8_t* data, uint32_t length, uint32_t timeout_ms,
                            uint32_t& transferred) = 0;
  virtual UsbResult bulk_out(const uint8_t* data, uint32_t length, uint32_t timeout_ms,
                             uint32_t& transferred) = 0;
};

}  // namespace qrx::platform
