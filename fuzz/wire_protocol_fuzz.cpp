// Fuzz target: the emulator daemon's socket protocol (emulator/wire_protocol.h).
//
// Even first byte: the rest is what a client sends to the daemon's side of one
// connection, served by an emulated scanner; every reply the daemon sends must be
// a frame the client side accepts as the answer to the request it answers.
// Odd first byte: the rest is a request's fields and a reply body as a daemon
// might send it; a reply the client side accepts never carries more bytes than
// the request allows (the channel copies them into the caller's buffer).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "emulator/scanner.h"
#include "emulator/wire_protocol.h"
#include "fuzz_host.h"
#include "platform/clock.h"
#include "platform/local_socket.h"

namespace {

using namespace qrx;
namespace wire = emu::wire;

// A connection whose incoming bytes are the fuzzer's input and whose outgoing
// frames are checked as they are sent.
class InputStream final : public platform::LocalStream {
 public:
  InputStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool receive_all(void* destination, size_t size) override {
    if (size > size_ - at_) return false;
    std::memcpy(destination, data_ + at_, size);
    last_chunk_.assign(data_ + at_, data_ + at_ + size);
    at_ += size;
    return true;
  }

  bool send_all(const void* source, size_t size) override {
    const auto* frame = static_cast<const uint8_t*>(source);
    if (size < wire::kFramePrefixSize) fuzz::fail("a reply shorter than its prefix", size);
    uint32_t body_size = 0;
    if (!wire::decode_frame_size(std::span<const uint8_t, wire::kFramePrefixSize>(frame, 4),
                                 body_size) ||
        body_size != size - wire::kFramePrefixSize) {
      fuzz::fail("a reply frame whose prefix is wrong", body_size, size);
    }
    // The body just received is the request this frame answers.
    wire::Request request;
    if (!wire::decode_request(last_chunk_, request)) fuzz::fail("a reply to no request");
    wire::Reply reply;
    if (!wire::decode_reply(std::span<const uint8_t>(frame + 4, body_size), request, reply)) {
      fuzz::fail("the daemon sent a reply the client refuses", static_cast<unsigned>(request.call));
    }
    return true;
  }

  void shut_down() override {}

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  std::vector<uint8_t> last_chunk_;
};

void serve(const uint8_t* data, size_t size) {
  static platform::VirtualClock clock;
  static std::unique_ptr<emu::Scanner> scanner = [] {
    std::string error;
    auto made = emu::Scanner::create(emu::Options{}, error, &clock);
    if (made == nullptr) std::abort();
    made->set_trace_capacity(0);
    return made;
  }();
  // Every input meets the scanner as a fresh device would be after a re-plug.
  scanner->reconnect();
  clock.advance_us(1000);
  InputStream stream(data, size);
  wire::serve_client(stream, *scanner);
}

void check_reply(const uint8_t* data, size_t size) {
  fuzz::Bytes in(data, size);
  wire::Request asked;
  asked.call = static_cast<wire::Call>(1 + in.u8() % 7);
  asked.length = in.u32() % (wire::kMaxBulkLength + 1);
  asked.data.resize(in.u16() % 4096);
  const std::span<const uint8_t> body(in.rest(), in.left());
  wire::Reply reply;
  if (!wire::decode_reply(body, asked, reply)) return;
  if (reply.call != asked.call) fuzz::fail("a reply to another call");
  switch (asked.call) {
    case wire::Call::kControlIn:
      if (reply.ok && reply.data.size() != asked.length) fuzz::fail("control in size");
      break;
    case wire::Call::kDescriptor:
      if (reply.ok && reply.data.size() != 6) fuzz::fail("descriptor size");
      break;
    case wire::Call::kBulkIn:
      if (reply.data.size() > asked.length || reply.value != reply.data.size()) {
        fuzz::fail("bulk in size", reply.data.size(), asked.length);
      }
      break;
    case wire::Call::kBulkOut:
      if (reply.value > asked.data.size()) fuzz::fail("bulk out taken", reply.value);
      break;
    case wire::Call::kPress:
      if (reply.value > 1 || !reply.data.empty()) fuzz::fail("press answer", reply.value);
      break;
    default:
      break;
  }
  if (!reply.ok && !reply.data.empty()) fuzz::fail("a failed reply with data");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if ((data[0] & 1) == 0) {
    serve(data + 1, size - 1);
  } else {
    check_reply(data + 1, size - 1);
  }
  return 0;
}
