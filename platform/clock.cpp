// Process clock selection and the portable clocks (virtual and scaled).
#include "platform/clock.h"

#include <chrono>
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
  // In microseconds: at a speed of 100 a poll of 10 ms takes 100 us, not a whole
  // millisecond of the system clock's resolution. A sleep that comes back early
  // (some systems round a short one down to nothing) is made up by yielding, so
  // that this clock has always moved on by ms when the call returns.
  const uint64_t until = now_us() + static_cast<uint64_t>(ms) * 1000;
  const double real_us = static_cast<double>(ms) * 1000.0 / factor_;
  if (real_us >= 1.0) {
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<uint64_t>(real_us)));
  }
  while (now_us() < until) std::this_thread::yield();
}

}  // namespace qrx::platform
