// UsbPort: the scanner as a host sees it at its USB port. The emulated scanner
// implements it; the in-process backend and the daemon's connections call it.
#pragma once

#include <cstdint>

namespace qrx::emu {

class UsbPort {
 public:
  virtual ~UsbPort() = default;
  // Vendor control transfer, device to host (length bytes into data).
  virtual bool control_in(uint8_t request, uint16_t index, uint8_t* data, uint32_t length) = 0;
  // Vendor control transfer, host to device.
  virtual bool control_out(uint8_t request, uint16_t index, const uint8_t* data,
                           uint32_t length) = 0;
  // Device descriptor fields.
  virtual bool descriptor(uint16_t& vendor_id, uint16_t& product_id, uint16_t& release) = 0;
  // Bulk pipe transfers. A read may return fewer bytes than asked, or none while
  // no data is ready; false when the request failed.
  virtual bool bulk_in(uint8_t* data, uint32_t length, uint32_t& transferred) = 0;
  virtual bool bulk_out(const uint8_t* data, uint32_t length, uint32_t& transferred) = 0;
};

}  // namespace qrx::emu
