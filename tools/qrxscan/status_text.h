// The library's status codes in words, for messages: the table is generated from
// the public header at build time, so it holds exactly the header's codes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qrx::qrxscan {

struct StatusEntry {
  uint16_t code;
  const char* name;     // "QRX_E_DEVICE_OPEN"
  const char* family;   // what the code's high byte stands for
  const char* meaning;  // the code's own description; may be empty
};

std::span<const StatusEntry> status_table();

// "QRX_E_DEVICE_OPEN (0x0101): path not openable, status read failed, or not this
// model"; a warm-up count in the low byte of 0xA4nn is named as such, and a code
// the table does not know is shown as a bare code.
std::string describe_status(uint16_t code);

}  // namespace qrx::qrxscan
