// Encoding, validation and serving of the emulator link messages (see wire_protocol.h).
#include "emulator/wire_protocol.h"

#include <algorithm>
#include <array>
#include <exception>

#include "emulator/usb_port.h"
#include "platform/local_socket.h"

namespace qrx::emu::wire {
namespace {

// Appends little-endian fields to a frame under construction.
class FrameWriter {
 public:
  explicit FrameWriter(size_t body_reserve) {
    bytes_.reserve(kFramePrefixSize + body_reserve);
    bytes_.resize(kFramePrefixSize);
  }
  void u8(uint8_t v) { bytes_.push_back(v); }
  void u16(uint16_t v) {
    u8(static_cast<uint8_t>(v));
    u8(static_cast<uint8_t>(v >> 8));
  }
  void u32(uint32_t v) {
    u16(static_cast<uint16_t>(v));
    u16(static_cast<uint16_t>(v >> 16));
  }
  void bytes(const std::vector<uint8_t>& v) { bytes_.insert(bytes_.end(), v.begin(), v.end()); }
  // Writes the body size into the prefix and hands the frame over.
  std::vector<uint8_t> finish() {
    const auto size = static_cast<uint32_t>(bytes_.size() - kFramePrefixSize);
    for (uint32_t i = 0; i < kFramePrefixSize; ++i) {
      bytes_[i] = static_cast<uint8_t>(size >> (8 * i));
    }
    return std::move(bytes_);
  }

 private:
  std::vector<uint8_t> bytes_;
};

// Reads little-endian fields from a body; every read checks the bytes left.
class BodyReader {
 public:
  explicit BodyReader(std::span<const uint8_t> body) : body_(body) {}
  bool u8(uint8_t& v) {
    if (body_.size() - pos_ < 1) return false;
    v = body_[pos_++];
    return true;
  }
  bool u16(uint16_t& v) {
    uint8_t lo = 0, hi = 0;
    if (body_.size() - pos_ < 2 || !u8(lo) || !u8(hi)) return false;
    v = static_cast<uint16_t>(lo | (hi << 8));
    return true;
  }
  bool u32(uint32_t& v) {
    uint16_t lo = 0, hi = 0;
    if (body_.size() - pos_ < 4 || !u16(lo) || !u16(hi)) return false;
    v = static_cast<uint32_t>(lo) | (static_cast<uint32_t>(hi) << 16);
    return true;
  }
  size_t left() const { return body_.size() - pos_; }
  void rest(std::vector<uint8_t>& out) {
    out.assign(body_.begin() + static_cast<std::ptrdiff_t>(pos_), body_.end());
    pos_ = body_.size();
  }

 private:
  std::span<const uint8_t> body_;
  size_t pos_ = 0;
};

bool known_call(uint8_t code) {
  return code >= static_cast<uint8_t>(Call::kHello) && code <= static_cast<uint8_t>(Call::kPress);
}

}  // namespace

std::vector<uint8_t> encode_request(const Request& request) {
  FrameWriter w(8 + request.data.size());
  w.u8(static_cast<uint8_t>(request.call));
  switch (request.call) {
    case Call::kHello:
      w.u32(kMagic);
      w.u16(static_cast<uint16_t>(request.length));
      break;
    case Call::kControlIn:
      w.u8(request.request);
      w.u16(request.index);
      w.u32(request.length);
      break;
    case Call::kControlOut:
      w.u8(request.request);
      w.u16(request.index);
      w.bytes(request.data);
      break;
    case Call::kDescriptor:
      break;
    case Call::kBulkIn:
      w.u32(request.length);
      break;
    case Call::kBulkOut:
      w.bytes(request.data);
      break;
    case Call::kPress:
      w.u8(request.request);
      w.u32(request.length);
      break;
  }
  return w.finish();
}

std::vector<uint8_t> encode_reply(const Reply& reply) {
  FrameWriter w(kReplyHeaderSize + reply.data.size());
  w.u8(static_cast<uint8_t>(static_cast<uint8_t>(reply.call) | kReplyFlag));
  w.u8(reply.ok ? 1 : 0);
  w.u32(reply.value);
  w.bytes(reply.data);
  return w.finish();
}

bool decode_frame_size(std::span<const uint8_t, kFramePrefixSize> prefix, uint32_t& body_size) {
  body_size = static_cast<uint32_t>(prefix[0]) | (static_cast<uint32_t>(prefix[1]) << 8) |
              (static_cast<uint32_t>(prefix[2]) << 16) | (static_cast<uint32_t>(prefix[3]) << 24);
  return body_size > 0 && body_size <= kMaxBodySize;
}

bool decode_request(std::span<const uint8_t> body, Request& request) {
  BodyReader r(body);
  uint8_t code = 0;
  if (body.size() > kMaxBodySize || !r.u8(code) || !known_call(code)) return false;
  Request out;
  out.call = static_cast<Call>(code);
  switch (out.call) {
    case Call::kHello: {
      uint32_t magic = 0;
      uint16_t version = 0;
      if (!r.u32(magic) || !r.u16(version) || magic != kMagic || r.left() != 0) return false;
      out.length = version;
      break;
    }
    case Call::kControlIn:
      if (!r.u8(out.request) || !r.u16(out.index) || !r.u32(out.length) || r.left() != 0) {
        return false;
      }
      break;
    case Call::kControlOut:
      if (!r.u8(out.request) || !r.u16(out.index)) return false;
      r.rest(out.data);
      out.length = static_cast<uint32_t>(out.data.size());
      break;
    case Call::kDescriptor:
      if (r.left() != 0) return false;
      break;
    case Call::kBulkIn:
      if (!r.u32(out.length) || r.left() != 0) return false;
      break;
    case Call::kBulkOut:
      r.rest(out.data);
      out.length = static_cast<uint32_t>(out.data.size());
      break;
    case Call::kPress:
      if (!r.u8(out.request) || !r.u32(out.length) || r.left() != 0) return false;
      break;
  }
  request = std::move(out);
  return true;
}

bool decode_reply(std::span<const uint8_t> body, const Request& asked, Reply& reply) {
  BodyReader r(body);
  uint8_t code = 0, ok = 0;
  uint32_t value = 0;
  if (body.size() > kMaxBodySize || !r.u8(code) || !r.u8(ok) || !r.u32(value)) return false;
  if (code != (static_cast<uint8_t>(asked.call) | kReplyFlag) || ok > 1) return false;
  const size_t data_size = r.left();
  if (ok == 0 && asked.call != Call::kHello && (value != 0 || data_size != 0)) return false;
  if (ok == 1) {
    switch (asked.call) {
      case Call::kHello:
      case Call::kControlOut:
        if (data_size != 0) return false;
        break;
      case Call::kControlIn:
        if (value != asked.length || data_size != asked.length) return false;
        break;
      case Call::kDescriptor:
        if (value != 6 || data_size != 6) return false;
        break;
      case Call::kBulkIn:
        if (value != data_size || value > asked.length) return false;
        break;
      case Call::kBulkOut:
        if (data_size != 0 || value > asked.data.size()) return false;
        break;
      case Call::kPress:
        if (data_size != 0 || value > 1) return false;
        break;
    }
  } else if (data_size != 0) {
    return false;
  }
  Reply out;
  out.call = asked.call;
  out.ok = ok == 1;
  out.value = value;
  r.rest(out.data);
  reply = std::move(out);
  return true;
}

bool within_limits(const Request& request) {
  switch (request.call) {
    case Call::kControlIn:
      return request.length <= kMaxControlLength;
    case Call::kControlOut:
      return request.data.size() <= kMaxControlLength;
    case Call::kBulkIn:
      return request.length <= kMaxBulkLength;
    case Call::kBulkOut:
      return request.data.size() <= kMaxBulkLength;
    case Call::kHello:
    case Call::kDescriptor:
    case Call::kPress:
      return true;
  }
  return false;
}

bool send_frame(platform::LocalStream& stream, std::span<const uint8_t> frame) {
  return stream.send_all(frame.data(), frame.size());
}

Received receive_frame(platform::LocalStream& stream, std::vector<uint8_t>& body) {
  std::array<uint8_t, kFramePrefixSize> prefix{};
  uint32_t size = 0;
  if (!stream.receive_all(prefix.data(), prefix.size())) return Received::kEnded;
  if (!decode_frame_size(prefix, size)) return Received::kBadSize;
  body.resize(size);
  return stream.receive_all(body.data(), size) ? Received::kFrame : Received::kEnded;
}

namespace {

// Runs one well-formed request against the port and builds its reply.
Reply answer(UsbPort& port, FrontPanel* panel, const Request& request,
             std::vector<uint8_t>& scratch) {
  Reply reply;
  reply.call = request.call;
  if (!within_limits(request)) return reply;
  try {
    switch (request.call) {
      case Call::kHello:
        break;  // only the first message may be a hello; the caller ends the connection
      case Call::kControlIn:
        reply.data.assign(request.length, 0);
        reply.ok =
            port.control_in(request.request, request.index, reply.data.data(), request.length);
        reply.value = request.length;
        break;
      case Call::kControlOut:
        reply.ok = port.control_out(request.request, request.index, request.data.data(),
                                    static_cast<uint32_t>(request.data.size()));
        break;
      case Call::kDescriptor: {
        uint16_t vendor = 0, product = 0, release = 0;
        reply.ok = port.descriptor(vendor, product, release);
        reply.value = 6;
        for (uint16_t field : {vendor, product, release}) {
          reply.data.push_back(static_cast<uint8_t>(field));
          reply.data.push_back(static_cast<uint8_t>(field >> 8));
        }
        break;
      }
      case Call::kBulkIn: {
        uint32_t moved = 0;
        scratch.resize(request.length);
        reply.ok = port.bulk_in(scratch.data(), request.length, moved) && moved <= request.length;
        if (reply.ok) {
          reply.value = moved;
          reply.data.assign(scratch.begin(), scratch.begin() + moved);
        }
        break;
      }
      case Call::kBulkOut: {
        uint32_t moved = 0;
        const auto size = static_cast<uint32_t>(request.data.size());
        reply.ok = port.bulk_out(request.data.data(), size, moved) && moved <= size;
        reply.value = moved;
        break;
      }
      case Call::kPress: {
        bool seen = false;
        reply.ok = panel != nullptr && panel->press(request.request, request.length, seen);
        reply.value = seen ? 1 : 0;
        break;
      }
    }
  } catch (const std::exception&) {
    reply.ok = false;
  }
  if (!reply.ok) {
    reply.value = 0;
    reply.data.clear();
  }
  return reply;
}

}  // namespace

ServeEnd serve_client(platform::LocalStream& stream, UsbPort& port, FrontPanel* panel) {
  try {
    std::vector<uint8_t> body;
    std::vector<uint8_t> scratch;
    Request request;
    Received received = receive_frame(stream, body);
    if (received != Received::kFrame) {
      return received == Received::kEnded ? ServeEnd::kClientLeft : ServeEnd::kMalformed;
    }
    if (!decode_request(body, request) || request.call != Call::kHello) {
      return ServeEnd::kMalformed;
    }
    const bool accepted = request.length == kVersion;
    send_frame(stream, encode_reply(Reply{Call::kHello, accepted, kVersion, {}}));
    if (!accepted) return ServeEnd::kRefusedHello;

    for (;;) {
      received = receive_frame(stream, body);
      if (received != Received::kFrame) {
        return received == Received::kEnded ? ServeEnd::kClientLeft : ServeEnd::kMalformed;
      }
      if (!decode_request(body, request) || request.call == Call::kHello) {
        return ServeEnd::kMalformed;
      }
      if (!send_frame(stream, encode_reply(answer(port, panel, request, scratch)))) {
        return ServeEnd::kClientLeft;
      }
    }
  } catch (const std::exception&) {
    return ServeEnd::kClientLeft;  // allocation failure: drop this connection only
  }
}

}  // namespace qrx::emu::wire
