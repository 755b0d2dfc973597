// GatedClock: a virtual clock that can hold the library's worker threads. While
// the gate is closed, every sleep of a thread that was not marked free waits
// until the gate opens, so a test can look at the library while a background
// calibration or image reader stands still at a known kind of place (a wait). A
// thread parked by name waits in its sleeps until unparked, whatever the gate:
// a polling thread then stops moving the virtual time on. The test's own threads
// are free, and their data polls paced by the workers' progress: see sleep_ms.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
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
    if (free_.count(self) == 0) {
      ++worker_sleeps_;
      changed_.notify_all();
      lock.unlock();
      inner_.sleep_ms(ms);
      return;
    }
    // The host's short polls (waits for data) while the worker it waits for runs
    // (pace_while says so) and none is held: each waits in real time for the next
    // sleep of a worker, at most kPaceMs, so that the host cannot run the virtual
    // time far ahead of a worker that is slow to get a processor or to make its
    // lines (a sanitizer build): a data wait limit of 30 s then needs a worker
    // held off for a minute of real time. Longer waits (for the motor) are limited
    // by their count of polls, not by time.
    const bool paced =
        ms <= kPacedPollMs && open_ && held_ == 0 && self == owner_ && pace_while_ && pace_while_();
    const uint64_t sleeps_before = worker_sleeps_;
    lock.unlock();
    inner_.sleep_ms(ms);
    if (paced) {
      lock.lock();
      changed_.wait_for(lock, std::chrono::milliseconds(kPaceMs),
                        [&] { return worker_sleeps_ != sleeps_before; });
    }
  }

  // Longest real time a host's poll of at most kPacedPollMs waits for a worker.
  static constexpr int kPaceMs = 20;
  static constexpr uint32_t kPacedPollMs = 10;

  // When the host's (this clock's creator's) polls are paced; asked on that
  // thread only.
  void pace_while(std::function<bool()> condition) {
    std::lock_guard<std::mutex> lock(mutex_);
    pace_while_ = std::move(condition);
  }

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
  const std::thread::id owner_ = std::this_thread::get_id();
  std::function<bool()> pace_while_;
  uint64_t worker_sleeps_ = 0;
};

}  // namespace qrx::test
