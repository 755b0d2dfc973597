// The image data between the scan thread, which encodes lines as the scanner
// delivers them, and the HTTP connection that sends them to the client: a
// bounded queue of bytes, so that a client that reads slowly holds the scanner
// back instead of the image piling up in memory, and a client that stops
// reading is noticed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace qrx::escl {

class BytePipe {
 public:
  using Clock = std::chrono::steady_clock;

  explicit BytePipe(size_t capacity) : capacity_(capacity) {}

  // Appends size bytes, waiting while the pipe is full. False when the reader
  // gave up (abandon), the writer failed it, or no byte was taken for stall.
  bool write(const uint8_t* data, size_t size, std::chrono::milliseconds stall);
  // The writer's end: all data written (done) or the document failed (fail).
  void close();
  void fail();

  enum class Read { kData, kEnd, kFailed, kTimeout };
  // Takes up to max bytes into out, waiting up to wait for data.
  Read read(uint8_t* out, size_t max, size_t& got, std::chrono::milliseconds wait);
  // The reader's end: nobody will read again; a waiting writer returns false.
  void abandon();

  // Whether any byte has been written yet.
  bool started() const;
  // Bytes written and read so far.
  uint64_t written() const;
  uint64_t read_count() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  const size_t capacity_;
  std::deque<std::vector<uint8_t>> chunks_;
  size_t front_offset_ = 0;  // bytes of the front chunk already read
  size_t buffered_ = 0;
  uint64_t written_ = 0, read_ = 0;
  bool closed_ = false, failed_ = false, abandoned_ = false;
};

}  // namespace qrx::escl
