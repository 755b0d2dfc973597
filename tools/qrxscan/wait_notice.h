// Says what the program waits for when a call into the library takes longer than
// a second (another process holding the scanner, calibration, the carriage), so
// that a long silence always has a reason on the screen.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace qrx::qrxscan {

class WaitNotice {
 public:
  explicit WaitNotice(std::FILE* out, std::chrono::milliseconds delay = std::chrono::seconds(1));
  ~WaitNotice();
  WaitNotice(const WaitNotice&) = delete;
  WaitNotice& operator=(const WaitNotice&) = delete;

  // A wait begins: unless end() comes first, "qrxscan: waiting for <what> ..." is
  // written once the delay has passed.
  void begin(std::string what);
  void end();

 private:
  void watch();

  std::FILE* out_;
  const std::chrono::milliseconds delay_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string what_;  // empty: no wait in progress
  std::chrono::steady_clock::time_point due_;
  uint64_t generation_ = 0;  // counts begin() and end() calls
  bool stopping_ = false;
  std::thread watcher_;
};

// begin() now, end() when the scope ends.
class Waiting {
 public:
  Waiting(WaitNotice& notice, std::string what) : notice_(notice) {
    notice_.begin(std::move(what));
  }
  ~Waiting() { notice_.end(); }
  Waiting(const Waiting&) = delete;
  Waiting& operator=(const Waiting&) = delete;

 private:
  WaitNotice& notice_;
};

}  // namespace qrx::qrxscan
