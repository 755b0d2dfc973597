// The image ring (see image_ring.h).
#include "imaging/image_ring.h"

#include <cstring>

#include "platform/memory.h"

namespace qrx::imaging {

bool ImageRing::create(uint32_t capacity) {
  std::lock_guard<std::mutex> lock(mutex_);
  data_.clear();
  data_.shrink_to_fit();
  read_position_ = write_position_ = used_ = 0;
  return platform::try_assign(data_, capacity, uint8_t{0});
}

void ImageRing::destroy() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<uint8_t>().swap(data_);
  read_position_ = write_position_ = used_ = 0;
}

bool ImageRing::write(const uint8_t* source, uint32_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t capacity = static_cast<uint32_t>(data_.size());
  if (capacity - used_ < n) return false;
  if (n == 0) return true;
  const uint32_t to_end = capacity - write_position_;
  if (n > to_end) {
    std::memcpy(data_.data() + write_position_, source, to_end);
    std::memcpy(data_.data(), source + to_end, n - to_end);
    write_position_ = n - to_end;
  } else {
    std::memcpy(data_.data() + write_position_, source, n);
    write_position_ = (write_position_ + n) % capacity;
  }
  used_ += n;
  return true;
}

bool ImageRing::read(uint8_t* destination, uint32_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (used_ < n) return false;
  if (n == 0) return true;
  const uint32_t capacity = static_cast<uint32_t>(data_.size());
  const uint32_t to_end = capacity - read_position_;
  if (n > to_end) {
    std::memcpy(destination, data_.data() + read_position_, to_end);
    std::memcpy(destination + to_end, data_.data(), n - to_end);
    read_position_ = n - to_end;
  } else {
    std::memcpy(destination, data_.data() + read_position_, n);
    read_position_ = (read_position_ + n) % capacity;
  }
  used_ -= n;
  return true;
}

const uint8_t* ImageRing::peek(uint32_t n, uint8_t* scratch) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (used_ < n) return nullptr;
  const uint32_t capacity = static_cast<uint32_t>(data_.size());
  const uint32_t to_end = capacity - read_position_;
  if (n <= to_end) return data_.data() + read_position_;
  std::memcpy(scratch, data_.data() + read_position_, to_end);
  std::memcpy(scratch + to_end, data_.data(), n - to_end);
  return scratch;
}

bool ImageRing::discard(uint32_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (used_ < n) return false;
  if (n == 0) return true;
  const uint32_t capacity = static_cast<uint32_t>(data_.size());
  read_position_ = static_cast<uint32_t>((uint64_t{read_position_} + n) % capacity);
  used_ -= n;
  return true;
}

uint32_t ImageRing::capacity() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<uint32_t>(data_.size());
}

uint32_t ImageRing::used() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return used_;
}

uint32_t ImageRing::free_space() const {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t capacity = static_cast<uint32_t>(data_.size());
  return used_ > capacity ? 0 : capacity - used_;
}

}  // namespace qrx::imaging
