// Process clock selection and the portable clocks (virtual and scaled).
#include "platform/clock.h"

#include <thread>

namespace qrx::platform {
namespace {
std::atomic<Clock*> g_installed{nullptr};
}  // namespace

Clock& clock() {
  Clock* installed = g_installed.load(std::memory_order_acquire);
  return installed != nullptr ? *installed : system_clock();
}

void set_clock(Clock* clock) { g_installed.store(clock, std::memory_order_release); }

void VirtualClock::sleep_ms(uint32_t ms) {
  advance_us(static_cast<uint64_t>(ms) * 1000);
  sleeps_.fetch_add(1, std::memory_order_acq_rel);
  std::this_thread::yield();
}

ScaledClock::ScaledClock(double factor)
    : factor_(factor > 0 ? factor : 1.0), origin_us_(system_clock().now_us()) {}

uint64_t ScaledClock::now_us() {
  const uint64_t real = system_clock().now_us() - origin_us_;
  return origin_us_ + static_cast<uint64_t>(static_cast<double>(real) * factor_);
}

void ScaledClock::sleep_ms(uint32_t ms) {
  const double real_ms = static_cast<double>(ms) / factor_;
  system_clock().sleep_ms(real_ms >= 1.0 ? static_cast<uint32_t>(real_ms) : (ms > 0 ? 1 : 0));
}

}  // namespace qrx::platform
