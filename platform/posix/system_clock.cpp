// The system clock on POSIX: CLOCK_MONOTONIC and nanosleep.
#include <time.h>

#include <cerrno>

#include <new>

#include "platform/clock.h"

namespace qrx::platform {
namespace {

class MonotonicClock final : public Clock {
 public:
  uint64_t now_us() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1'000'000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
  }
  void sleep_ms(uint32_t ms) override {
    timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000L};
    while (nanosleep(&request, &request) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace

Clock& system_clock() {
  // Never destroyed (built in static storage, no destructor runs): the library's
  // own threads still wait on it while the library's objects are taken down at
  // unload, after this one's destructor would have run.
  alignas(MonotonicClock) static unsigned char storage[sizeof(MonotonicClock)];
  static MonotonicClock* const clock = new (storage) MonotonicClock;
  return *clock;
}

}  // namespace qrx::platform
