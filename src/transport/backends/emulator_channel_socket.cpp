// The "sim:<socket path>" backend: a DeviceChannel that forwards every request to
// a qrx7730-sim daemon over a local stream and waits for its answer.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "emulator/wire_protocol.h"
#include "platform/local_socket.h"
#include "platform/paths.h"
#include "transport/device_channel.h"

namespace qrx::transport::detail {
namespace {

namespace wire = emu::wire;

class EmulatorSocketChannel final : public DeviceChannel {
 public:
  EmulatorSocketChannel(std::unique_ptr<platform::LocalStream> stream, std::string identity)
      : stream_(std::move(stream)), identity_(std::move(identity)) {}

  // Introduces this client; false when the daemon refuses or does not answer.
  bool hello() {
    wire::Request request;
    request.call = wire::Call::kHello;
    request.length = wire::kVersion;
    wire::Reply reply;
    return round_trip(request, reply) && reply.ok && reply.value == wire::kVersion;
  }

  bool control_read(uint8_t request_code, uint16_t index, uint8_t* buffer,
                    uint32_t length) override {
    if (length > wire::kMaxControlLength || (buffer == nullptr && length > 0)) return false;
    wire::Request request;
    request.call = wire::Call::kControlIn;
    request.request = request_code;
    request.index = index;
    request.length = length;
    wire::Reply reply;
    if (!round_trip(request, reply) || !reply.ok) return false;
    if (length > 0) std::memcpy(buffer, reply.data.data(), length);
    return true;
  }

  bool control_write(uint8_t request_code, uint16_t index, const uint8_t* data,
                     uint32_t length) override {
    if (length > wire::kMaxControlLength || (data == nullptr && length > 0)) return false;
    wire::Request request;
    request.call = wire::Call::kControlOut;
    request.request = request_code;
    request.index = index;
    request.length = length;
    if (!assign(request.data, data, length)) return false;
    wire::Reply reply;
    return round_trip(request, reply) && reply.ok;
  }

  bool device_descriptor(DeviceDescriptor& descriptor) override {
    wire::Request request;
    request.call = wire::Call::kDescriptor;
    wire::Reply reply;
    if (!round_trip(request, reply) || !reply.ok) return false;
    const auto field = [&](size_t at) {
      return static_cast<uint16_t>(reply.data[at] | (reply.data[at + 1] << 8));
    };
    descriptor.vendor_id = field(0);
    descriptor.product_id = field(2);
    descriptor.release = field(4);
    descriptor.language_id = 0;
    return true;
  }

  // Longer transfers than one message carries move their first part only, as a
  // short transfer; the transport above asks for the rest.
  bool bulk_read(uint8_t* buffer, uint32_t length, uint32_t& transferred) override {
    transferred = 0;
    if (buffer == nullptr && length > 0) return false;
    wire::Request request;
    request.call = wire::Call::kBulkIn;
    request.length = std::min(length, wire::kMaxBulkLength);
    wire::Reply reply;
    if (!round_trip(request, reply) || !reply.ok) return false;
    if (reply.value > 0) std::memcpy(buffer, reply.data.data(), reply.value);
    transferred = reply.value;
    return true;
  }

  bool bulk_write(const uint8_t* data, uint32_t length, uint32_t& transferred) override {
    transferred = 0;
    if (data == nullptr && length > 0) return false;
    wire::Request request;
    request.call = wire::Call::kBulkOut;
    request.length = std::min(length, wire::kMaxBulkLength);
    if (!assign(request.data, data, request.length)) return false;
    wire::Reply reply;
    if (!round_trip(request, reply) || !reply.ok) return false;
    transferred = reply.value;
    return true;
  }

  // The daemon's scanner is the one behind its socket, whichever way the socket's
  // path was written.
  std::string identity() override { return identity_; }

 private:
  static bool assign(std::vector<uint8_t>& to, const uint8_t* data, uint32_t length) {
    try {
      to.assign(data, data + length);
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

  // Sends one request and reads its reply. The library's threads share a channel,
  // so each exchange holds the lock from request to reply. Any failure here (the
  // daemon gone, a reply that does not fit the request) leaves the stream out of
  // step, so the channel breaks for good and every later request fails at once.
  bool round_trip(const wire::Request& request, wire::Reply& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (broken_) return false;
    try {
      if (wire::send_frame(*stream_, wire::encode_request(request)) &&
          wire::receive_frame(*stream_, body_) == wire::Received::kFrame &&
          wire::decode_reply(body_, request, reply)) {
        return true;
      }
    } catch (const std::bad_alloc&) {
    }
    broken_ = true;
    stream_->shut_down();
    return false;
  }

  std::unique_ptr<platform::LocalStream> stream_;
  const std::string identity_;
  std::mutex mutex_;
  bool broken_ = false;
  std::vector<uint8_t> body_;  // the last reply body; reused to avoid an allocation per request
};

}  // namespace

std::unique_ptr<DeviceChannel> open_emulator_socket_channel(const std::string& path) {
  try {
    auto stream = platform::LocalStream::connect(path);
    if (stream == nullptr) return nullptr;
    auto channel = std::make_unique<EmulatorSocketChannel>(
        std::move(stream), "sim-daemon-" + platform::canonical_path(path));
    if (!channel->hello()) return nullptr;
    return channel;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace qrx::transport::detail
