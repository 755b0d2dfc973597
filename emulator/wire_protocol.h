// The emulator link: the messages that carry UsbPort calls between a library
// process and the qrx7730-sim daemon over a local stream, and the daemon's side
// of one connection.
//
// Every message is a frame: a 32-bit little-endian body size, then the body. A
// client opens with a hello, then sends one request at a time and reads its reply
// before the next. All integers are little-endian.
//
//   request body                                        reply body
//   hello        01 | magic u32 | version u16           81 | ok u8 | server version u32
//   control in   02 | request u8 | index u16 | len u32  82 | ok u8 | len u32 | len bytes (if ok)
//   control out  03 | request u8 | index u16 | bytes    83 | ok u8 | 0 u32
//   descriptor   04                                     84 | ok u8 | 6 u32 | vendor, product,
//                                                                             release u16 (if ok)
//   bulk in      05 | len u32                           85 | ok u8 | n u32 | n bytes, n <= len
//   bulk out     06 | bytes                             86 | ok u8 | bytes taken u32
//   press        07 | button u8 | hold ms u32           87 | ok u8 | seen u32 (0 or 1)
//
// A press is no USB call: it is the daemon's front panel, pressed from outside
// (qrx7730-sim press). The button (1 to 4) goes down, stays down for at least the
// hold time and until a host has read the button lines while it is down (or the
// daemon gives up waiting for one), and comes up again; the reply comes then, seen
// 1 when a host read it down. A daemon without a panel, or a button out of range, answers ok 0.
//
// A failed call is answered with ok 0, value 0 and no bytes; a refused hello still
// carries the server's version.
//
// Sizes are bounded on both sides (a control transfer carries at most 65535 bytes,
// as on USB; a bulk transfer at most 1 MiB), so a peer can never make the other
// allocate more than one bounded frame. A body that does not parse ends the
// connection; a well-formed request with an out-of-range length gets a failure.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qrx::platform {
class LocalStream;
}

namespace qrx::emu {

class UsbPort;

namespace wire {

inline constexpr uint32_t kMagic = 0x37585251;  // "QRX7" in the byte order it is sent
inline constexpr uint16_t kVersion = 1;
inline constexpr uint32_t kMaxControlLength = 0xFFFF;
inline constexpr uint32_t kMaxBulkLength = 1u << 20;
// The largest body either side sends: a bulk reply or request and its fields.
inline constexpr uint32_t kMaxBodySize = kMaxBulkLength + 16;
inline constexpr uint32_t kFramePrefixSize = 4;
inline constexpr uint32_t kReplyHeaderSize = 6;  // call, ok, value

enum class Call : uint8_t {
  kHello = 0x01,
  kControlIn = 0x02,
  kControlOut = 0x03,
  kDescriptor = 0x04,
  kBulkIn = 0x05,
  kBulkOut = 0x06,
  kPress = 0x07,
};
inline constexpr uint8_t kReplyFlag = 0x80;

struct Request {
  Call call = Call::kHello;
  uint8_t request = 0;        // control calls; press: the button
  uint16_t index = 0;         // control calls
  uint32_t length = 0;        // in calls: bytes asked for; hello: protocol version; press: hold ms
  std::vector<uint8_t> data;  // out calls: the bytes sent
};

struct Reply {
  Call call = Call::kHello;
  bool ok = false;
  // Bytes moved (control in, descriptor, bulk in: the size of data; bulk out: the
  // bytes the device took); hello: the server's protocol version.
  uint32_t value = 0;
  std::vector<uint8_t> data;
};

// Whole frames, size prefix included, ready to send. A request whose fields break
// the size limits is still encoded as asked (tests send such frames); the client
// channel checks limits before it encodes.
std::vector<uint8_t> encode_request(const Request& request);
std::vector<uint8_t> encode_reply(const Reply& reply);

// Reads the size prefix of a frame; false when the body would be empty or larger
// than kMaxBodySize.
bool decode_frame_size(std::span<const uint8_t, kFramePrefixSize> prefix, uint32_t& body_size);

// Parses a request body (without its prefix). False when the body is not exactly
// one of the request layouts. Lengths beyond the limits parse; the server answers
// them with a failure.
bool decode_request(std::span<const uint8_t> body, Request& request);

// Parses the reply body to asked: false unless it answers that call and its data
// is consistent with it (exact sizes for control in and the descriptor, no more
// than asked for bulk in, no more taken than sent for bulk out).
bool decode_reply(std::span<const uint8_t> body, const Request& asked, Reply& reply);

// True when a request's lengths are within the limits of its call.
bool within_limits(const Request& request);

// Frame transfer over a local stream. receive_frame reads one body into body
// (reusing its storage); on a size prefix out of range it reads nothing further.
enum class Received { kFrame, kEnded, kBadSize };
bool send_frame(platform::LocalStream& stream, std::span<const uint8_t> frame);
Received receive_frame(platform::LocalStream& stream, std::vector<uint8_t>& body);

// The front panel a daemon offers to press calls (see press above).
class FrontPanel {
 public:
  virtual ~FrontPanel() = default;
  // Presses button (1 to 4) as described above and returns once it is up again;
  // false (nothing pressed) for a button the scanner does not have.
  virtual bool press(uint8_t button, uint32_t hold_ms, bool& seen) = 0;
};

// Why serve_client returned.
enum class ServeEnd {
  kClientLeft,    // end of stream or the stream was shut down
  kRefusedHello,  // the first message was not a hello of this protocol version
  kMalformed,     // a size prefix out of range or a body that does not parse
};

// Serves one client connection: answers the hello, then passes each request to
// port (a press to panel, when there is one) and sends its reply, until the client
// leaves or misbehaves. Never throws; a call that throws is answered with a failure.
ServeEnd serve_client(platform::LocalStream& stream, UsbPort& port, FrontPanel* panel = nullptr);

}  // namespace wire
}  // namespace qrx::emu
