// The debug output (see debug_log.h).
#include "debug_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/time.h>
#include <time.h>

namespace qrx::sane {
namespace {

std::atomic<int> level{0};
// The local time's offset from UTC, taken once: debug() may run in a signal
// handler (a cancel), where the time zone functions must not be called.
std::atomic<long> utc_offset{0};

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
  const time_t now = time(nullptr);
  tm local{};
  if (localtime_r(&now, &local) != nullptr) utc_offset = local.tm_gmtoff;
}

double monotonic_seconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return double(now.tv_sec) + now.tv_nsec / 1e9;
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
  timeval now{};
  gettimeofday(&now, nullptr);
  const long of_day = static_cast<long>(((now.tv_sec + utc_offset) % 86400 + 86400) % 86400);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02ld:%02ld:%02ld.%03ld ", of_day / 3600, of_day / 60 % 60,
                of_day % 60, static_cast<long>(now.tv_usec / 1000));
  // One write per message, so that the lines of the scan thread and of the
  // caller's thread do not interleave within a line.
  const std::string line = std::string("[qrx7730] ") + stamp + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace qrx::sane
