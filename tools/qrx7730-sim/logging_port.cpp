// The request log of --verbose (see logging_port.h).
#include "logging_port.h"

#include <cstdio>
#include <iostream>
#include <mutex>

namespace qrx::sim {
namespace {

std::mutex g_log_mutex;

std::string hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

}  // namespace

void log_line(const std::string& text) {
  std::lock_guard<std::mutex> lock(g_log_mutex);
  std::cerr << "qrx7730-sim: " << text << '\n' << std::flush;
}

bool LoggingPort::note(bool ok, const std::string& what) {
  ++requests_;
  log_line("client " + std::to_string(client_) + ": " + what + (ok ? "" : " FAILED"));
  return ok;
}

bool LoggingPort::control_in(uint8_t request, uint16_t index, uint8_t* data, uint32_t length) {
  const bool ok = device_.control_in(request, index, data, length);
  std::string what = "control in " + hex(request, 2) + " index " + hex(index, 4) + " length " +
                     std::to_string(length);
  if (ok && data != nullptr && length > 0) what += " -> " + hex(data[0], 2);
  return note(ok, what);
}

bool LoggingPort::control_out(uint8_t request, uint16_t index, const uint8_t* data,
                              uint32_t length) {
  const bool ok = device_.control_out(request, index, data, length);
  std::string what = "control out " + hex(request, 2) + " index " + hex(index, 4) + " length " +
                     std::to_string(length);
  if (data != nullptr && length > 0) what += " <- " + hex(data[0], 2);
  return note(ok, what);
}

bool LoggingPort::descriptor(uint16_t& vendor_id, uint16_t& product_id, uint16_t& release) {
  const bool ok = device_.descriptor(vendor_id, product_id, release);
  return note(ok, "device descriptor " + hex(vendor_id, 4) + ":" + hex(product_id, 4));
}

bool LoggingPort::bulk_in(uint8_t* data, uint32_t length, uint32_t& transferred) {
  transferred = 0;
  const bool ok = device_.bulk_in(data, length, transferred);
  return note(ok, "bulk in " + std::to_string(length) + " bytes asked, " +
                      std::to_string(transferred) + " moved");
}

bool LoggingPort::bulk_out(const uint8_t* data, uint32_t length, uint32_t& transferred) {
  transferred = 0;
  const bool ok = device_.bulk_out(data, length, transferred);
  return note(ok, "bulk out " + std::to_string(length) + " bytes, " + std::to_string(transferred) +
                      " moved");
}

}  // namespace qrx::sim
