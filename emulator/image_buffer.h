// The chip's line buffer: a byte FIFO of fixed capacity between line production and
// the host's bulk reads.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace qrx::emu {

class ImageBuffer {
 public:
  // The store keeps room beyond the capacity for the fill at the end of a pass,
  // which a full buffer still takes.
  explicit ImageBuffer(uint32_t capacity)
      : capacity_(capacity == 0 ? 1 : capacity), data_(capacity_ + kFillRoom) {}

  uint32_t capacity() const { return capacity_; }
  uint32_t size() const { return size_; }
  uint32_t free_space() const { return size_ >= capacity_ ? 0 : capacity_ - size_; }
  void clear() { head_ = size_ = read_phase_ = 0; }
  // Words of 4 bytes not yet read completely: a word counts once all its bytes
  // are stored, and goes once all of them are read. Words are aligned to the
  // stream since the last clear, so a reader that took half a word still sees
  // that word until it has taken the rest.
  uint32_t unread_words() const { return (size_ + read_phase_) / 4; }

  // Appends n bytes; the caller has checked free_space().
  void push(const uint8_t* src, uint32_t n) {
    uint32_t tail = (head_ + size_) % store();
    while (n > 0) {
      const uint32_t chunk = std::min(n, store() - tail);
      std::memcpy(data_.data() + tail, src, chunk);
      src += chunk;
      n -= chunk;
      size_ += chunk;
      tail = (tail + chunk) % store();
    }
  }
  // Appends the zero bytes that end the stream on a whole word (the fill at the
  // end of a pass), so that unread_words() covers every byte stored. The stream's
  // length is what was read plus what is stored: the part of a word already read
  // counts.
  void pad_to_word() {
    const uint8_t zero[4] = {0, 0, 0, 0};
    push(zero, (4 - (size_ + read_phase_) % 4) % 4);
  }
  // Removes up to n bytes into dst; returns the count.
  uint32_t pop(uint8_t* dst, uint32_t n) {
    n = std::min(n, size_);
    uint32_t done = 0;
    while (done < n) {
      const uint32_t chunk = std::min(n - done, store() - head_);
      std::memcpy(dst + done, data_.data() + head_, chunk);
      done += chunk;
      head_ = (head_ + chunk) % store();
      size_ -= chunk;
    }
    read_phase_ = (read_phase_ + done) % 4;
    return done;
  }

 private:
  static constexpr uint32_t kFillRoom = 3;  // the most a fill adds
  uint32_t store() const { return static_cast<uint32_t>(data_.size()); }

  uint32_t capacity_;
  std::vector<uint8_t> data_;
  uint32_t head_ = 0;
  uint32_t size_ = 0;
  uint32_t read_phase_ = 0;  // bytes read of the current word
};

}  // namespace qrx::emu
