// The status table and its wording (see status_text.h).
#include "status_text.h"

#include <cstdio>

#include "qrx7730.h"

namespace qrx::qrxscan {
namespace {

const StatusEntry kTable[] = {
#include "status_table.inc"
};

std::string hex(uint16_t code) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", code);
  return text;
}

}  // namespace

std::span<const StatusEntry> status_table() {
  return kTable;
}

std::string describe_status(uint16_t code) {
  if ((code & 0xFF00) == QRX_LAMP_WARMING_UP) {
    return "QRX_LAMP_WARMING_UP (" + hex(code) + "): the lamp is still warming up (attempt " +
           std::to_string(code & 0xFF) + ")";
  }
  for (const StatusEntry& entry : kTable) {
    if (entry.code != code) continue;
    if (code == QRX_OK) return std::string(entry.name) + " (" + hex(code) + "): no error";
    const char* words = entry.meaning[0] != '\0' ? entry.meaning : entry.family;
    return std::string(entry.name) + " (" + hex(code) + "): " + words;
  }
  return "status " + hex(code) + " (a code this program does not know)";
}

}  // namespace qrx::qrxscan
