// The clock every wait in the library goes through: millisecond ticks and sleep.
//
// The process clock is the system clock unless a test or tool installs another one:
// a VirtualClock, on which a sleep advances time at once (so a poll that lasts a
// minute costs microseconds), or a ScaledClock that runs real time faster.
#pragma once

#include <atomic>
#include <cstdint>

namespace qrx::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic time in microseconds since an arbitrary start.
  virtual uint64_t now_us() = 0;
  // Blocks the calling thread for about ms milliseconds of this clock's time.
  virtual void sleep_ms(uint32_t ms) = 0;
  // Millisecond tick count that wraps at 2^32, like the system tick counter.
  uint32_t ticks_ms() { return static_cast<uint32_t>(now_us() / 1000); }
};

// The operating system's monotonic clock.
Clock& system_clock();

// The clock of this process: the system clock unless set_clock installed another.
Clock& clock();
// Installs a clock for the whole process (nullptr restores the system clock). The
// caller keeps ownership and must keep it alive while it is installed.
void set_clock(Clock* clock);

// Time that moves only when someone sleeps or advances it. Thread-safe: each sleep
// advances the shared time by its own length and then yields the processor, so
// that threads polling each other still let the other side run.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(uint64_t start_us = 1'000'000) : now_us_(start_us) {}
  uint64_t now_us() override { return now_us_.load(std::memory_order_acquire); }
  void sleep_ms(uint32_t ms) override;
  void advance_us(uint64_t us) { now_us_.fetch_add(us, std::memory_order_acq_rel); }
  // Number of sleeps served so far (tests assert on polling behaviour with it).
  uint64_t sleeps() const { return sleeps_.load(std::memory_order_acquire); }

 private:
  std::atomic<uint64_t> now_us_;
  std::atomic<uint64_t> sleeps_{0};
};

// Real time multiplied by a speed factor (the emulator daemon's --speed).
class ScaledClock final : public Clock {
 public:
  explicit ScaledClock(double factor);
  uint64_t now_us() override;
  void sleep_ms(uint32_t ms) override;

 private:
  double factor_;
  uint64_t origin_us_;
};

// Installs a clock for the lifetime of the guard (tests).
class ScopedClock {
 public:
  explicit ScopedClock(Clock& clock) { set_clock(&clock); }
  ~ScopedClock() { set_clock(nullptr); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace qrx::platform
