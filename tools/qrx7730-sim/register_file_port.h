// TRANSITIONAL stand-in for the scanner model until emulator/scanner.h lands: a
// device that only identifies itself and keeps a plain register file.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "emulator/options.h"
#include "emulator/usb_port.h"

namespace qrx::sim {

class RegisterFilePort final : public emu::UsbPort {
 public:
  explicit RegisterFilePort(const emu::Options& options) : port_type_(options.port_type) {}

  bool control_in(uint8_t request, uint16_t index, uint8_t* data, uint32_t length) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (request != 0x8E) return false;
    if (index == 0 && length == 1) {
      data[0] = port_type_ == 1 ? 0x08 : 0x00;
      return true;
    }
    if ((index & 0xFF) == 0x22 && length == 2) {
      data[0] = registers_[index >> 8];
      data[1] = 0x55;
      return true;
    }
    return false;
  }
  bool control_out(uint8_t request, uint16_t index, const uint8_t* data, uint32_t length) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (request != 0x83 || index != 0 || length != 2) return false;
    registers_[data[0]] = data[1];
    return true;
  }
  bool descriptor(uint16_t& vendor_id, uint16_t& product_id, uint16_t& release) override {
    vendor_id = QRX7730_USB_VENDOR_ID;
    product_id = QRX7730_USB_PRODUCT_ID;
    release = 0x0100;
    return true;
  }
  bool bulk_in(uint8_t*, uint32_t, uint32_t& transferred) override {
    transferred = 0;
    return true;
  }
  bool bulk_out(const uint8_t*, uint32_t length, uint32_t& transferred) override {
    transferred = length;
    return true;
  }

 private:
  std::mutex mutex_;
  uint8_t port_type_;
  std::array<uint8_t, 256> registers_{};
};

}  // namespace qrx::sim
