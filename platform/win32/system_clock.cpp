// The system clock on Windows: the performance counter for microseconds (it is
// monotonic and does not wrap) and Sleep for waits.
#include <windows.h>

#include <new>

#include "platform/clock.h"

namespace qrx::platform {
namespace {

class PerformanceCounterClock final : public Clock {
 public:
  PerformanceCounterClock() {
    LARGE_INTEGER frequency{};
    if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0) {
      frequency_ = static_cast<uint64_t>(frequency.QuadPart);
    }
  }

  uint64_t now_us() override {
    LARGE_INTEGER counter{};
    if (frequency_ == 0 || !QueryPerformanceCounter(&counter)) {
      return static_cast<uint64_t>(GetTickCount64()) * 1000u;
    }
    const uint64_t ticks = static_cast<uint64_t>(counter.QuadPart);
    // Whole seconds and the remainder apart, so that the product cannot overflow.
    return ticks / frequency_ * 1'000'000u + ticks % frequency_ * 1'000'000u / frequency_;
  }

  void sleep_ms(uint32_t ms) override { Sleep(ms); }

 private:
  uint64_t frequency_ = 0;  // counts per second; 0 when the counter is unavailable
};

}  // namespace

Clock& system_clock() {
  // Never destroyed (built in static storage, no destructor runs): the library's
  // own threads still wait on it while the library's objects are taken down at
  // unload, after this one's destructor would have run.
  alignas(PerformanceCounterClock) static unsigned char storage[sizeof(PerformanceCounterClock)];
  static PerformanceCounterClock* const clock = new (storage) PerformanceCounterClock;
  return *clock;
}

}  // namespace qrx::platform
