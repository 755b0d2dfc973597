// A client process of the qrx7730-sim daemon for the multi-process tests. It opens
// "sim:<socket>" through the emulator channel, identifies the scanner, and works
// on registers or controller memory as its mode says:
//
//   daemon_client SOCKET identify                 prints "port-type N"
//   daemon_client SOCKET write REG VALUE
//   daemon_client SOCKET read REG                 prints the value in decimal
//   daemon_client SOCKET registers FIRST TOKEN PEER PEER_TOKEN [STOP_FILE]
//       writes TOKEN to FIRST, then rewrites FIRST+1..FIRST+7 and reads them back
//       round after round; ends when the register PEER holds PEER_TOKEN and, if
//       STOP_FILE is given, that file exists
//   daemon_client SOCKET memory ADDRESS SIZE ROUNDS
//       writes a pattern to controller memory and reads it back (0 rounds: forever)
//   daemon_client SOCKET stall
//       sends half a bulk message and then waits forever
//   daemon_client SOCKET vanish
//       asks for 1 MiB of controller memory and leaves without reading the answer
//
// Numbers may be decimal or 0x-prefixed hexadecimal. "running" is printed once the
// first round has passed. Exit status: 0 done, 1 bad arguments, 2 a request
// failed, 3 a value read back differs from the one written, 4 the peer's token
// never appeared.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulator/wire_protocol.h"
#include "platform/local_socket.h"
#include "qrx7730.h"
#include "transport/backends/emulator_channel.h"
#include "transport/device_link.h"

namespace {

using qrx::transport::DeviceLink;

constexpr int kBadArguments = 1;
constexpr int kRequestFailed = 2;
constexpr int kMismatch = 3;
constexpr int kPeerNotSeen = 4;

uint32_t number(const char* text) {
  return static_cast<uint32_t>(std::strtoul(text, nullptr, 0));
}

bool write_register(DeviceLink& link, uint8_t reg, uint8_t value) {
  const uint8_t data[2] = {reg, value};
  return link.control_write(0x83, 0, 2, data);
}

bool read_register(DeviceLink& link, uint8_t reg, uint8_t& value) {
  uint8_t answer[2] = {};
  if (!link.control_read(0x8E, static_cast<uint16_t>(reg * 256 + 0x22), 2, answer) ||
      answer[1] != 0x55) {
    return false;
  }
  value = answer[0];
  return true;
}

void announce_running(bool& announced) {
  if (!announced) std::cout << "running" << std::endl;
  announced = true;
}

int registers(DeviceLink& link, uint8_t first, uint8_t token, uint8_t peer, uint8_t peer_token,
              const std::string& stop_file) {
  if (!write_register(link, first, token)) return kRequestFailed;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool announced = false;
  bool peer_seen = false;
  for (uint32_t round = 0;; ++round) {
    for (uint8_t i = 1; i < 8; ++i) {
      if (!write_register(link, static_cast<uint8_t>(first + i),
                          static_cast<uint8_t>(round * 7 + i * 31 + token))) {
        return kRequestFailed;
      }
    }
    for (uint8_t i = 1; i < 8; ++i) {
      uint8_t value = 0;
      if (!read_register(link, static_cast<uint8_t>(first + i), value)) return kRequestFailed;
      if (value != static_cast<uint8_t>(round * 7 + i * 31 + token)) {
        std::cerr << "register " << int(first + i) << " reads " << int(value) << " in round "
                  << round << "\n";
        return kMismatch;
      }
    }
    uint8_t seen = 0;
    if (!read_register(link, peer, seen)) return kRequestFailed;
    peer_seen = peer_seen || seen == peer_token;
    announce_running(announced);
    const bool stop = stop_file.empty() || std::filesystem::exists(stop_file);
    if (peer_seen && stop) {
      std::cout << "rounds " << round + 1 << std::endl;
      return 0;
    }
    if (std::chrono::steady_clock::now() > deadline) return kPeerNotSeen;
  }
}

int memory(DeviceLink& link, uint32_t address, uint32_t size, uint32_t rounds) {
  std::vector<uint8_t> pattern(size), back(size);
  bool announced = false;
  for (uint32_t round = 0; rounds == 0 || round < rounds; ++round) {
    for (uint32_t i = 0; i < size; ++i) pattern[i] = static_cast<uint8_t>(i * 13 + round);
    if (!link.bulk_write(address, pattern.data(), size)) return kRequestFailed;
    if (!link.bulk_read(address, back.data(), size)) return kRequestFailed;
    if (back != pattern) return kMismatch;
    announce_running(announced);
  }
  return 0;
}

// A connection spoken by hand, for what a well-behaved channel never does.
std::unique_ptr<qrx::platform::LocalStream> raw_connection(const std::string& socket) {
  namespace wire = qrx::emu::wire;
  auto stream = qrx::platform::LocalStream::connect(socket);
  if (stream == nullptr) return nullptr;
  wire::Request hello;
  hello.call = wire::Call::kHello;
  hello.length = wire::kVersion;
  std::vector<uint8_t> body;
  if (!wire::send_frame(*stream, wire::encode_request(hello)) ||
      wire::receive_frame(*stream, body) != wire::Received::kFrame) {
    return nullptr;
  }
  return stream;
}

// Half a bulk write of 61440 bytes, and then silence.
int stall(const std::string& socket) {
  namespace wire = qrx::emu::wire;
  auto stream = raw_connection(socket);
  if (stream == nullptr) return kRequestFailed;
  wire::Request write;
  write.call = wire::Call::kBulkOut;
  write.data.assign(61440, 0xEE);
  const std::vector<uint8_t> frame = wire::encode_request(write);
  if (!stream->send_all(frame.data(), frame.size() / 2)) return kRequestFailed;
  std::cout << "running" << std::endl;
  std::this_thread::sleep_for(std::chrono::hours(1));
  return 0;
}

// A 1 MiB memory read asked for, and the process gone before the answer, which is
// larger than a socket buffer: the daemon is still sending when the peer vanishes.
int vanish(const std::string& socket) {
  namespace wire = qrx::emu::wire;
  auto stream = raw_connection(socket);
  if (stream == nullptr) return kRequestFailed;
  wire::Request header;
  header.call = wire::Call::kControlOut;
  header.request = 0x82;
  header.index = 0;
  header.data = {0x00, 0x00, 0x20, 0x10, 0x00, 0x00, 0x10, 0x00};  // 0x10200000, 1 MiB
  std::vector<uint8_t> body;
  wire::Reply reply;
  if (!wire::send_frame(*stream, wire::encode_request(header)) ||
      wire::receive_frame(*stream, body) != wire::Received::kFrame ||
      !wire::decode_reply(body, header, reply) || !reply.ok) {
    return kRequestFailed;
  }
  wire::Request read;
  read.call = wire::Call::kBulkIn;
  read.length = wire::kMaxBulkLength;
  return wire::send_frame(*stream, wire::encode_request(read)) ? 0 : kRequestFailed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return kBadArguments;
  const std::string socket = argv[1];
  const std::string mode = argv[2];
  const std::vector<const char*> args(argv + 3, argv + argc);
  if (mode == "stall") return stall(socket);
  if (mode == "vanish") return vanish(socket);

  DeviceLink link;
  auto channel = qrx::transport::open_emulator_channel(socket);
  if (channel == nullptr) {
    std::cerr << "cannot reach the daemon at " << socket << "\n";
    return kRequestFailed;
  }
  link.attach(std::move(channel));
  if (!link.identify(QRX7730_USB_PRODUCT_ID)) return kRequestFailed;

  if (mode == "identify") {
    std::cout << "port-type " << link.port_type() << std::endl;
    return 0;
  }
  if (mode == "write" && args.size() == 2) {
    return write_register(link, static_cast<uint8_t>(number(args[0])),
                          static_cast<uint8_t>(number(args[1])))
               ? 0
               : kRequestFailed;
  }
  if (mode == "read" && args.size() == 1) {
    uint8_t value = 0;
    if (!read_register(link, static_cast<uint8_t>(number(args[0])), value)) return kRequestFailed;
    std::cout << int(value) << std::endl;
    return 0;
  }
  if (mode == "registers" && (args.size() == 4 || args.size() == 5)) {
    return registers(link, static_cast<uint8_t>(number(args[0])),
                     static_cast<uint8_t>(number(args[1])), static_cast<uint8_t>(number(args[2])),
                     static_cast<uint8_t>(number(args[3])), args.size() == 5 ? args[4] : "");
  }
  if (mode == "memory" && args.size() == 3) {
    return memory(link, number(args[0]), number(args[1]), number(args[2]));
  }
  return kBadArguments;
}
