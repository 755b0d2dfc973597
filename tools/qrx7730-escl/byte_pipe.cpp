// The bounded byte queue (see byte_pipe.h).
#include "byte_pipe.h"

#include <algorithm>
#include <cstring>

namespace qrx::escl {

bool BytePipe::write(const uint8_t* data, size_t size, std::chrono::milliseconds stall) {
  std::unique_lock lock(mutex_);
  while (size > 0) {
    if (abandoned_ || failed_ || closed_) return false;
    if (buffered_ >= capacity_) {
      // A reader that takes nothing for the whole stall time is gone.
      const uint64_t before = read_;
      if (!changed_.wait_for(lock, stall, [&] {
            return abandoned_ || failed_ || buffered_ < capacity_ || read_ != before;
          })) {
        return false;
      }
      continue;
    }
    const size_t take = std::min(size, capacity_ - buffered_);
    chunks_.emplace_back(data, data + take);
    buffered_ += take;
    written_ += take;
    data += take;
    size -= take;
    changed_.notify_all();
  }
  return true;
}

void BytePipe::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  changed_.notify_all();
}

void BytePipe::fail() {
  std::lock_guard lock(mutex_);
  failed_ = true;
  changed_.notify_all();
}

void BytePipe::abandon() {
  std::lock_guard lock(mutex_);
  abandoned_ = true;
  chunks_.clear();
  buffered_ = 0;
  changed_.notify_all();
}

BytePipe::Read BytePipe::read(uint8_t* out, size_t max, size_t& got,
                              std::chrono::milliseconds wait) {
  got = 0;
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, wait, [&] { return buffered_ > 0 || closed_ || failed_ || abandoned_; });
  if (failed_ || abandoned_) return Read::kFailed;
  if (buffered_ == 0) return closed_ ? Read::kEnd : Read::kTimeout;
  while (got < max && !chunks_.empty()) {
    std::vector<uint8_t>& front = chunks_.front();
    const size_t take = std::min(max - got, front.size() - front_offset_);
    std::memcpy(out + got, front.data() + front_offset_, take);
    got += take;
    front_offset_ += take;
    if (front_offset_ == front.size()) {
      chunks_.pop_front();
      front_offset_ = 0;
    }
  }
  buffered_ -= got;
  read_ += got;
  changed_.notify_all();
  return Read::kData;
}

bool BytePipe::started() const {
  std::lock_guard lock(mutex_);
  return written_ > 0;
}

uint64_t BytePipe::written() const {
  std::lock_guard lock(mutex_);
  return written_;
}

uint64_t BytePipe::read_count() const {
  std::lock_guard lock(mutex_);
  return read_;
}

}  // namespace qrx::escl
