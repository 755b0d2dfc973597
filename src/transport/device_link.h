// DeviceLink: the driver handle and the channel primitives on top of it.
//
// It opens a device path through the backend the path names, identifies the
// scanner, and offers the six primitives everything else is built from: control
// read, control write, bulk read and bulk write (each announced by the 8-byte bulk
// header and moved in pieces of at most 61440 bytes, with the five-empty-reads
// rule), and close. No primitive produces a status code; callers choose one.
//
// One request or bulk transfer runs at a time: the image reader thread and the
// caller's thread share the link, and closing it waits for a request in flight,
// so that a close during a scan makes the reader's next request fail instead of
// touching a released channel.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "transport/device_channel.h"

namespace qrx::transport {

// Vendor request codes of the controller.
namespace request {
inline constexpr uint8_t kBulkHeader = 0x82;    // write: announces a bulk transfer
inline constexpr uint8_t kWriteRegister = 0x83; // write: register number, value
inline constexpr uint8_t kReadMemoryWord = 0x8A;// read: the selected 16-bit memory word
inline constexpr uint8_t kSelectMemoryWord = 0x8B; // write: 32-bit word address
inline constexpr uint8_t kWriteSetting = 0x8C;  // write: one setting byte
inline constexpr uint8_t kReadStatus = 0x8E;    // read: identification byte or a register
}  // namespace request

// The bulk header's address for image data.
inline constexpr uint32_t kImageDataAddress = 0x10000000;
// Largest piece of one bulk read or write call.
inline constexpr uint32_t kBulkPieceBytes = 61440;
// Empty transfers in a row after which a bulk transfer fails.
inline constexpr int kEmptyTransferTries = 5;

class DeviceLink {
 public:
  enum class State { kClosed, kOpen, kOpenFailed };

  DeviceLink() = default;
  ~DeviceLink();
  DeviceLink(const DeviceLink&) = delete;
  DeviceLink& operator=(const DeviceLink&) = delete;

  // Opens the device path. A failed open leaves the link in kOpenFailed; later
  // requests fail and close() accepts it.
  bool open(const std::string& device_path);
  // Takes an already opened channel (tests, tools).
  void attach(std::unique_ptr<DeviceChannel> channel);
  // Reads the identification byte and the device descriptor; succeeds when the
  // vendor and product ids are this scanner's and product_id_argument is too.
  // Stores port type, device release and product id.
  bool identify(uint16_t product_id_argument);
  // Releases the channel; harmless when nothing is open.
  void close();
  // The open channel's identity of the device (DeviceChannel::identity); empty
  // when nothing is open.
  std::string identity();

  State state() const { return state_; }
  bool is_open() const { return state_ == State::kOpen; }
  // True once a request or transfer has failed in the channel since it was opened
  // (or since clear_channel_failure): the scanner may have gone.
  bool channel_failed() const { return channel_failed_.load(); }
  void clear_channel_failure() { channel_failed_.store(false); }

  bool control_read(uint8_t request, uint16_t index, uint8_t length, uint8_t* buffer);
  bool control_write(uint8_t request, uint16_t index, uint8_t length, const uint8_t* data);
  // Bulk transfer announced by the header (address, count).
  bool bulk_read(uint32_t address, uint8_t* buffer, uint32_t count);
  bool bulk_write(uint32_t address, const uint8_t* data, uint32_t count);

  // Port type 1 or 2 from bit 3 of the identification byte (0 before identify).
  uint32_t port_type() const { return port_type_; }
  uint32_t device_release() const { return device_release_; }
  uint32_t product_id() const { return product_id_; }

 private:
  bool control_write_locked(uint8_t request, uint16_t index, uint8_t length,
                            const uint8_t* data);
  // The header, then the pieces; move(done, piece, moved) moves one piece.
  template <typename Move>
  bool bulk_transfer(uint32_t address, uint32_t count, uint16_t direction, Move move);

  std::mutex transaction_;
  std::unique_ptr<DeviceChannel> channel_;
  State state_ = State::kClosed;
  std::atomic<bool> channel_failed_{false};
  uint32_t port_type_ = 0;
  uint32_t device_release_ = 0;
  uint32_t product_id_ = 0;
};

}  // namespace qrx::transport
