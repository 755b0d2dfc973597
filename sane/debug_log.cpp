// The debug output (see debug_log.h).
#include "debug_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace qrx::sane {
namespace {

std::atomic<int> level{0};

}  // namespace

void read_debug_level() {
  const char* text = std::getenv("SANE_DEBUG_QRX7730");
  int value = 0;
  if (text != nullptr) {
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && parsed > 0) value = parsed > 255 ? 255 : int(parsed);
  }
  level = value;
}

int debug_level() {
  return level;
}

void debug(int message_level, const char* format, ...) {
  if (message_level > level) return;
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  // One write per message, so that the lines of the scan thread and of the
  // caller's thread do not interleave within a line.
  const std::string line = std::string("[qrx7730] ") + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace qrx::sane
