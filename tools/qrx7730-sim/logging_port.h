// With --verbose: a UsbPort in front of the daemon's scanner for one connection
// that writes every request it passes on, and its result, to the error output.
#pragma once

#include <cstdint>
#include <string>

#include "emulator/usb_port.h"

namespace qrx::sim {

// Writes "qrx7730-sim: <text>" as one whole line, whatever other threads write.
void log_line(const std::string& text);

class LoggingPort final : public emu::UsbPort {
 public:
  LoggingPort(emu::UsbPort& device, unsigned client) : device_(device), client_(client) {}

  bool control_in(uint8_t request, uint16_t index, uint8_t* data, uint32_t length) override;
  bool control_out(uint8_t request, uint16_t index, const uint8_t* data, uint32_t length) override;
  bool descriptor(uint16_t& vendor_id, uint16_t& product_id, uint16_t& release) override;
  bool bulk_in(uint8_t* data, uint32_t length, uint32_t& transferred) override;
  bool bulk_out(const uint8_t* data, uint32_t length, uint32_t& transferred) override;

  uint64_t requests() const { return requests_; }

 private:
  bool note(bool ok, const std::string& what);

  emu::UsbPort& device_;
  unsigned client_;
  uint64_t requests_ = 0;  // only the connection's own thread counts
};

}  // namespace qrx::sim
