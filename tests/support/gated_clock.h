// GatedClock: a virtual clock that can hold the library's worker threads. While
// the gate is closed, every sleep of a thread that was not marked free waits
// until the gate opens, so a test can look at the library while a background
// calibration or image reader stands still at a known kind of place (a wait). A
// thread parked by name waits in its sleeps until unparked, whatever the gate:
// a polling thread then stops moving the virtual time on. The test's own threads
// are free, and paced: see sleep_ms.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "platform/clock.h"

namespace qrx::test {

class GatedClock final : public platform::Clock {
 public:
  GatedClock() { free_.insert(std::this_thread::get_id()); }
  ~GatedClock() override {
    unpark();
    open();
  }

  uint64_t now_us() override { return inner_.now_us(); }
  void sleep_ms(uint32_t ms) override {
    bool paced = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      const std::thread::id self = std::this_thread::get_id();
      const auto may_go = [&] {
        return parked_.count(self) == 0 && (open_ || free_.count(self) != 0);
      };
      if (!may_go()) {
        ++held_;
        changed_.notify_all();
        changed_.wait(lock, may_go);
        --held_;
      }
      paced = free_.count(self) != 0 && ms <= kPacedPollMs;
    }
    inner_.sleep_ms(ms);
    // A free thread (the host's) waits a little real time at each short poll (a
    // wait for data), so that its polls cannot run the virtual time far ahead
    // while a worker thread it waits for has no processor: a data wait limit of
    // 30 s then needs a worker held off for a third of a real second. Longer waits
    // (for the motor) are limited by their count of polls, not by time.
    if (paced) std::this_thread::sleep_for(std::chrono::microseconds(kPaceUs));
  }

  // Real time a free thread's poll of at most kPacedPollMs takes.
  static constexpr int kPaceUs = 100;
  static constexpr uint32_t kPacedPollMs = 10;

  // The calling thread's sleeps are never held.
  void run_free() {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.insert(std::this_thread::get_id());
  }
  // Holds a (free) thread's sleeps whatever the gate, until unpark().
  void park(std::thread::id thread) {
    std::lock_guard<std::mutex> lock(mutex_);
    parked_.insert(thread);
  }
  void unpark() {
    std::lock_guard<std::mutex> lock(mutex_);
    parked_.clear();
    changed_.notify_all();
  }
  void close() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
  }
  void open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  // Waits (in real time, at most about ten seconds) until a thread is parked.
  bool wait_until_held() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return held_ > 0; });
  }

 private:
  platform::VirtualClock inner_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::set<std::thread::id> free_;
  std::set<std::thread::id> parked_;
  bool open_ = true;
  int held_ = 0;
};

}  // namespace qrx::test
