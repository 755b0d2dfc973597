// The channel primitives: open, identify, control requests, bulk transfers, close.
#include "transport/device_link.h"

#include <algorithm>
#include <array>

#include "qrx7730.h"

namespace qrx::transport {
namespace {

void put_le32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value >> 16);
  out[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace

DeviceLink::~DeviceLink() { close(); }

bool DeviceLink::open(const std::string& device_path) {
  std::unique_ptr<DeviceChannel> channel = open_device_channel(device_path);
  std::lock_guard<std::mutex> lock(transaction_);
  channel_ = std::move(channel);
  state_ = channel_ ? State::kOpen : State::kOpenFailed;
  channel_failed_.store(false);
  return channel_ != nullptr;
}

void DeviceLink::attach(std::unique_ptr<DeviceChannel> channel) {
  std::lock_guard<std::mutex> lock(transaction_);
  channel_ = std::move(channel);
  state_ = channel_ ? State::kOpen : State::kOpenFailed;
  channel_failed_.store(false);
}

bool DeviceLink::identify(uint16_t product_id_argument) {
  uint8_t status = 0;
  if (!control_read(request::kReadStatus, 0, 1, &status)) return false;
  DeviceDescriptor descriptor;
  {
    std::lock_guard<std::mutex> lock(transaction_);
    if (!channel_) return false;
    // The driver's own result is not decisive: the descriptor fields are.
    channel_->device_descriptor(descriptor);
  }
  if (descriptor.vendor_id != QRX7730_USB_VENDOR_ID ||
      descriptor.product_id != QRX7730_USB_PRODUCT_ID ||
      product_id_argument != QRX7730_USB_PRODUCT_ID) {
    return false;
  }
  port_type_ = (status & 0x08) != 0 ? 1 : 2;
  device_release_ = descriptor.release;
  product_id_ = descriptor.product_id;
  return true;
}

void DeviceLink::close() {
  std::unique_ptr<DeviceChannel> released;
  {
    std::lock_guard<std::mutex> lock(transaction_);
    released = std::move(channel_);
    state_ = State::kClosed;
  }
  // The channel is released outside the lock; no request can reach it any more.
}

std::string DeviceLink::identity() {
  std::lock_guard<std::mutex> lock(transaction_);
  if (!channel_) return {};
  try {
    return channel_->identity();
  } catch (...) {
    return {};  // no room for the text: the device is not told apart
  }
}

bool DeviceLink::control_read(uint8_t request, uint16_t index, uint8_t length, uint8_t* buffer) {
  if (buffer == nullptr && length != 0) return false;
  std::lock_guard<std::mutex> lock(transaction_);
  if (!channel_) return false;
  const bool done = channel_->control_read(request, index, buffer, length);
  if (!done) channel_failed_.store(true);
  return done;
}

bool DeviceLink::control_write(uint8_t request, uint16_t index, uint8_t length,
                               const uint8_t* data) {
  std::lock_guard<std::mutex> lock(transaction_);
  return control_write_locked(request, index, length, data);
}

bool DeviceLink::control_write_locked(uint8_t request, uint16_t index, uint8_t length,
                                      const uint8_t* data) {
  if (data == nullptr && length != 0) return false;
  if (!channel_) return false;
  const bool done = channel_->control_write(request, index, data, length);
  if (!done) channel_failed_.store(true);
  return done;
}

bool DeviceLink::bulk_read(uint32_t address, uint8_t* buffer, uint32_t count) {
  if (buffer == nullptr && count != 0) return false;
  std::lock_guard<std::mutex> lock(transaction_);
  return bulk_transfer(address, count, 0, [&](uint32_t done, uint32_t piece, uint32_t& moved) {
    return channel_->bulk_read(buffer + done, piece, moved);
  });
}

bool DeviceLink::bulk_write(uint32_t address, const uint8_t* data, uint32_t count) {
  if (data == nullptr && count != 0) return false;
  std::lock_guard<std::mutex> lock(transaction_);
  return bulk_transfer(address, count, 1, [&](uint32_t done, uint32_t piece, uint32_t& moved) {
    return channel_->bulk_write(data + done, piece, moved);
  });
}

template <typename Move>
bool DeviceLink::bulk_transfer(uint32_t address, uint32_t count, uint16_t direction, Move move) {
  std::array<uint8_t, 8> header{};
  put_le32(header.data(), address);
  put_le32(header.data() + 4, count);
  if (!control_write_locked(request::kBulkHeader, direction, 8, header.data())) return false;
  // Pieces of at most 61440 bytes; a transfer that moves nothing five times in a
  // row has failed, one that moves anything starts the count again.
  uint32_t done = 0;
  int tries = kEmptyTransferTries;
  while (done < count) {
    const uint32_t piece = std::min(count - done, kBulkPieceBytes);
    uint32_t moved = 0;
    if (!move(done, piece, moved)) {
      channel_failed_.store(true);
      return false;
    }
    moved = std::min(moved, piece);  // never trust a backend to stay inside the piece
    if (moved == 0) {
      if (--tries == 0) return false;
      continue;
    }
    tries = kEmptyTransferTries;
    done += moved;
  }
  return true;
}

}  // namespace qrx::transport
