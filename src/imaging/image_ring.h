// ImageRing: the byte ring between the image reader thread, which moves what the
// controller has buffered into it, and the caller's thread inside ReadScan, which
// takes whole raw lines out. One producer, one consumer; every operation that
// looks at or moves the positions holds the ring's mutex, so the two threads
// never see a half-made update. Neither side ever blocks on the other: a write
// that does not fit and a read of more than is held are refused, and the caller
// polls again.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace qrx::imaging {

// The ring of one scan.
inline constexpr uint32_t kScanRingBytes = 2u * 1024u * 1024u;

class ImageRing {
 public:
  ImageRing() = default;
  ImageRing(const ImageRing&) = delete;
  ImageRing& operator=(const ImageRing&) = delete;

  // Allocates capacity zero-filled bytes with both positions at 0; false when the
  // storage cannot be allocated (the ring is then empty with capacity 0).
  bool create(uint32_t capacity);
  // Frees the storage; the ring then holds nothing and refuses every write.
  void destroy();

  // Stores all n bytes, split across the end of the storage when they cross it;
  // false (nothing stored) when fewer than n bytes are free.
  bool write(const uint8_t* source, uint32_t n);
  // Takes the n oldest bytes; false (nothing taken) when fewer than n are held.
  bool read(uint8_t* destination, uint32_t n);

  // The n oldest bytes without taking them, for the consumer to work on where they
  // lie: a pointer into the storage, or into scratch (n bytes) when they cross the
  // end of the storage. nullptr when fewer than n are held. The bytes stay put until
  // the consumer discards them: the producer only ever writes into free space.
  const uint8_t* peek(uint32_t n, uint8_t* scratch) const;
  // Drops the n oldest bytes; false (nothing dropped) when fewer than n are held.
  bool discard(uint32_t n);

  uint32_t capacity() const;
  uint32_t used() const;
  uint32_t free_space() const;

 private:
  mutable std::mutex mutex_;
  std::vector<uint8_t> data_;
  uint32_t read_position_ = 0;
  uint32_t write_position_ = 0;
  uint32_t used_ = 0;
};

}  // namespace qrx::imaging
