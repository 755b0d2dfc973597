// The wait notice (see wait_notice.h).
#include "wait_notice.h"

namespace qrx::qrxscan {

WaitNotice::WaitNotice(std::FILE* out, std::chrono::milliseconds delay)
    : out_(out), delay_(delay), watcher_([this] { watch(); }) {}

WaitNotice::~WaitNotice() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  watcher_.join();
}

void WaitNotice::begin(std::string what) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    what_ = std::move(what);
    due_ = std::chrono::steady_clock::now() + delay_;
    ++generation_;
  }
  changed_.notify_all();
}

void WaitNotice::end() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    what_.clear();
    ++generation_;
  }
  changed_.notify_all();
}

void WaitNotice::watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (what_.empty()) {
      changed_.wait(lock);
      continue;
    }
    const uint64_t wait = generation_;
    if (changed_.wait_until(lock, due_, [&] { return stopping_ || generation_ != wait; })) continue;
    std::fprintf(out_, "qrxscan: waiting for %s ...\n", what_.c_str());
    std::fflush(out_);
    // Once per wait: sleep until this wait ends or another begins.
    changed_.wait(lock, [&] { return stopping_ || generation_ != wait; });
  }
}

}  // namespace qrx::qrxscan
