// The emulator link end to end inside one process: a listener thread serves a
// scripted port, and the "sim:<path>" channel (or a raw stream) talks to it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "emulator/usb_port.h"
#include "emulator/wire_protocol.h"
#include "platform/local_socket.h"
#include "transport/backends/emulator_channel.h"

namespace qrx {
namespace {

namespace fs = std::filesystem;
namespace wire = emu::wire;
using platform::LocalListener;
using platform::LocalStream;
using Clock = std::chrono::steady_clock;

// A fresh directory for the test's sockets, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    std::random_device seed;
    for (;;) {
      path_ = fs::temp_directory_path() / ("qrx-link-" + std::to_string(seed() % 100000000));
      if (fs::create_directory(path_)) break;
    }
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// A scripted device: control reads answer bytes derived from the request, writes
// and bulk data are recorded, and every call can be made to fail.
class ScriptedPort final : public emu::UsbPort {
 public:
  struct Control {
    uint8_t request;
    uint16_t index;
    uint32_t length;
    std::vector<uint8_t> data;
  };

  static uint8_t answer_byte(uint8_t request, uint16_t index, uint32_t i) {
    return static_cast<uint8_t>(request ^ index ^ (index >> 8) ^ (i * 31));
  }

  bool control_in(uint8_t request, uint16_t index, uint8_t* data, uint32_t length) override {
    std::lock_guard<std::mutex> lock(mutex);
    reads.push_back({request, index, length, {}});
    for (uint32_t i = 0; i < length; ++i) data[i] = answer_byte(request, index, i);
    return !fail;
  }
  bool control_out(uint8_t request, uint16_t index, const uint8_t* data, uint32_t length) override {
    std::lock_guard<std::mutex> lock(mutex);
    writes.push_back({request, index, length, std::vector<uint8_t>(data, data + length)});
    return !fail;
  }
  bool descriptor(uint16_t& vendor_id, uint16_t& product_id, uint16_t& release) override {
    vendor_id = 0x1209;
    product_id = 0x7730;
    release = 0x0203;
    return !fail;
  }
  bool bulk_in(uint8_t* data, uint32_t length, uint32_t& transferred) override {
    std::unique_lock<std::mutex> lock(mutex);
    bulk_in_lengths.push_back(length);
    if (on_bulk_in) {
      auto hook = on_bulk_in;
      lock.unlock();
      hook();
      lock.lock();
    }
    transferred = 0;
    if (!pending.empty()) {
      std::vector<uint8_t>& chunk = pending.front();
      transferred = std::min<uint32_t>(length, static_cast<uint32_t>(chunk.size()));
      std::copy(chunk.begin(), chunk.begin() + transferred, data);
      chunk.erase(chunk.begin(), chunk.begin() + transferred);
      if (chunk.empty()) pending.pop_front();
    }
    return !fail;
  }
  bool bulk_out(const uint8_t* data, uint32_t length, uint32_t& transferred) override {
    std::lock_guard<std::mutex> lock(mutex);
    transferred = std::min(length, bulk_out_take.load());
    received.insert(received.end(), data, data + transferred);
    return !fail;
  }

  std::mutex mutex;
  std::atomic<bool> fail{false};
  std::vector<Control> reads, writes;
  std::deque<std::vector<uint8_t>> pending;  // bulk-in data, one chunk per transfer at most
  std::vector<uint32_t> bulk_in_lengths;
  std::function<void()> on_bulk_in;
  std::atomic<uint32_t> bulk_out_take{0xFFFFFFFF};  // bytes the device takes per bulk-out transfer
  std::vector<uint8_t> received;
};

// Serves the scripted port at a socket path, one thread per client, and keeps how
// each connection ended.
class LinkServer {
 public:
  LinkServer(const std::string& path, emu::UsbPort& port) : port_(port) {
    std::string error;
    listener_ = LocalListener::listen(path, error);
    EXPECT_NE(listener_, nullptr) << error;
    if (listener_ != nullptr) acceptor_ = std::thread([this] { accept_clients(); });
  }
  ~LinkServer() {
    if (listener_ != nullptr) listener_->shut_down();
    if (acceptor_.joinable()) acceptor_.join();
    std::list<std::thread> threads;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto& stream : streams_) stream->shut_down();
      threads.swap(threads_);
    }
    for (auto& thread : threads) thread.join();
  }

  // Cuts every open connection, as a daemon that dies would.
  void cut_connections() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& stream : streams_) stream->shut_down();
  }

  // Waits for the count-th connection to end and reports how it ended.
  std::optional<wire::ServeEnd> ending(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!ended_.wait_for(lock, std::chrono::seconds(10), [&] { return ends_.size() >= count; })) {
      return std::nullopt;
    }
    return ends_[count - 1];
  }

 private:
  void accept_clients() {
    while (auto stream = listener_->accept()) {
      std::lock_guard<std::mutex> lock(mutex_);
      LocalStream& served = *streams_.emplace_back(std::move(stream));
      threads_.emplace_back([this, &served] {
        const wire::ServeEnd end = wire::serve_client(served, port_);
        served.shut_down();
        std::lock_guard<std::mutex> guard(mutex_);
        ends_.push_back(end);
        ended_.notify_all();
      });
    }
  }

  emu::UsbPort& port_;
  std::unique_ptr<LocalListener> listener_;
  std::thread acceptor_;
  std::mutex mutex_;
  std::condition_variable ended_;
  std::list<std::unique_ptr<LocalStream>> streams_;
  std::list<std::thread> threads_;
  std::vector<wire::ServeEnd> ends_;
};

// A client speaking the protocol by hand, for what the channel never sends.
std::unique_ptr<LocalStream> raw_client(const std::string& path, bool hello = true) {
  auto stream = LocalStream::connect(path);
  if (stream == nullptr || !hello) return stream;
  wire::Request request;
  request.call = wire::Call::kHello;
  request.length = wire::kVersion;
  std::vector<uint8_t> body;
  wire::Reply reply;
  if (!wire::send_frame(*stream, wire::encode_request(request)) ||
      wire::receive_frame(*stream, body) != wire::Received::kFrame ||
      !wire::decode_reply(body, request, reply) || !reply.ok) {
    return nullptr;
  }
  return stream;
}

class SocketLink : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir.file("link.sock");
  ScriptedPort port;
};

TEST_F(SocketLink, EveryCallCrossesWithItsArgumentsAndAnswer) {
  LinkServer server(path, port);
  auto channel = transport::open_emulator_channel(path);
  ASSERT_NE(channel, nullptr);

  uint8_t answer[2] = {};
  ASSERT_TRUE(channel->control_read(0x8E, 0x4122, answer, 2));
  EXPECT_EQ(answer[0], ScriptedPort::answer_byte(0x8E, 0x4122, 0));
  EXPECT_EQ(answer[1], ScriptedPort::answer_byte(0x8E, 0x4122, 1));

  const uint8_t header[8] = {0, 0, 0, 0x10, 0x00, 0xF0, 0, 0};
  ASSERT_TRUE(channel->control_write(0x82, 1, header, 8));

  transport::DeviceDescriptor descriptor;
  ASSERT_TRUE(channel->device_descriptor(descriptor));
  EXPECT_EQ(descriptor.vendor_id, 0x1209);
  EXPECT_EQ(descriptor.product_id, 0x7730);
  EXPECT_EQ(descriptor.release, 0x0203);

  std::vector<uint8_t> image(5000);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
  {
    std::lock_guard<std::mutex> lock(port.mutex);
    port.pending.emplace_back(image.begin(), image.begin() + 3000);
    port.pending.emplace_back(image.begin() + 3000, image.end());
  }
  std::vector<uint8_t> got(61440);
  uint32_t moved = 0;
  ASSERT_TRUE(channel->bulk_read(got.data(), 61440, moved));
  EXPECT_EQ(moved, 3000u);  // a short read stays short
  ASSERT_TRUE(channel->bulk_read(got.data() + 3000, 1000, moved));
  EXPECT_EQ(moved, 1000u);
  ASSERT_TRUE(channel->bulk_read(got.data() + 4000, 61440, moved));
  EXPECT_EQ(moved, 1000u);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin()));
  ASSERT_TRUE(channel->bulk_read(got.data(), 61440, moved));
  EXPECT_EQ(moved, 0u);  // nothing ready is an empty read, not a failure

  port.bulk_out_take = 100;
  ASSERT_TRUE(channel->bulk_write(image.data(), 4096, moved));
  EXPECT_EQ(moved, 100u);

  std::lock_guard<std::mutex> lock(port.mutex);
  ASSERT_EQ(port.reads.size(), 1u);
  EXPECT_EQ(port.reads[0].request, 0x8E);
  EXPECT_EQ(port.reads[0].index, 0x4122);
  EXPECT_EQ(port.reads[0].length, 2u);
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0].request, 0x82);
  EXPECT_EQ(port.writes[0].index, 1);
  EXPECT_EQ(port.writes[0].data, std::vector<uint8_t>(header, header + 8));
  EXPECT_EQ(port.bulk_in_lengths, (std::vector<uint32_t>{61440, 1000, 61440, 61440}));
  EXPECT_EQ(port.received, std::vector<uint8_t>(image.begin(), image.begin() + 100));
}

TEST_F(SocketLink, FailedAndOutOfRangeRequestsFailWithoutBreakingTheConnection) {
  LinkServer server(path, port);
  auto channel = transport::open_emulator_channel(path);
  ASSERT_NE(channel, nullptr);
  uint8_t byte = 0;
  uint32_t moved = 7;
  port.fail = true;
  EXPECT_FALSE(channel->control_read(0x8E, 0, &byte, 1));
  EXPECT_FALSE(channel->control_write(0x83, 0, &byte, 1));
  EXPECT_FALSE(channel->bulk_read(&byte, 1, moved));
  EXPECT_EQ(moved, 0u);
  transport::DeviceDescriptor descriptor;
  EXPECT_FALSE(channel->device_descriptor(descriptor));
  port.fail = false;

  // A control transfer longer than USB allows never leaves the client.
  std::vector<uint8_t> big(wire::kMaxControlLength + 1);
  EXPECT_FALSE(channel->control_read(0x8E, 0, big.data(), static_cast<uint32_t>(big.size())));
  // A bulk transfer longer than one message moves its first part only.
  std::vector<uint8_t> huge(wire::kMaxBulkLength + 4096, 0x5A);
  ASSERT_TRUE(channel->bulk_write(huge.data(), static_cast<uint32_t>(huge.size()), moved));
  EXPECT_EQ(moved, wire::kMaxBulkLength);
  ASSERT_TRUE(channel->bulk_read(huge.data(), static_cast<uint32_t>(huge.size()), moved));
  EXPECT_EQ(port.bulk_in_lengths.back(), wire::kMaxBulkLength);

  EXPECT_TRUE(channel->control_read(0x8E, 0, &byte, 1));
  EXPECT_EQ(byte, ScriptedPort::answer_byte(0x8E, 0, 0));

  // The same limit on the daemon's side, for a client that does not check.
  auto raw = raw_client(path);
  ASSERT_NE(raw, nullptr);
  wire::Request request;
  request.call = wire::Call::kControlIn;
  request.length = wire::kMaxControlLength + 1;
  std::vector<uint8_t> body;
  wire::Reply reply;
  ASSERT_TRUE(wire::send_frame(*raw, wire::encode_request(request)));
  ASSERT_EQ(wire::receive_frame(*raw, body), wire::Received::kFrame);
  ASSERT_TRUE(wire::decode_reply(body, request, reply));
  EXPECT_FALSE(reply.ok);
  request.length = 1;
  ASSERT_TRUE(wire::send_frame(*raw, wire::encode_request(request)));
  ASSERT_EQ(wire::receive_frame(*raw, body), wire::Received::kFrame);
  ASSERT_TRUE(wire::decode_reply(body, request, reply));
  EXPECT_TRUE(reply.ok);
}

// Several library threads share one channel; each must get its own answers.
TEST_F(SocketLink, ThreadsSharingAChannelGetTheirOwnAnswers) {
  LinkServer server(path, port);
  auto channel = transport::open_emulator_channel(path);
  ASSERT_NE(channel, nullptr);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        const auto index = static_cast<uint16_t>(t * 0x1000 + i);
        const uint32_t length = 1 + (i + t) % 7;
        uint8_t answer[8] = {};
        if (!channel->control_read(0x8E, index, answer, length)) ++wrong;
        for (uint32_t k = 0; k < length; ++k) {
          if (answer[k] != ScriptedPort::answer_byte(0x8E, index, k)) ++wrong;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(SocketLink, ADaemonGoneMidTransferFailsRequestsAtOnce) {
  LinkServer server(path, port);
  auto channel = transport::open_emulator_channel(path);
  ASSERT_NE(channel, nullptr);
  // The connection is cut while the device works on a bulk read.
  {
    std::lock_guard<std::mutex> lock(port.mutex);
    port.on_bulk_in = [&] { server.cut_connections(); };
  }
  const auto start = Clock::now();
  std::vector<uint8_t> buffer(61440);
  uint32_t moved = 0;
  EXPECT_FALSE(channel->bulk_read(buffer.data(), 61440, moved));
  EXPECT_EQ(moved, 0u);
  // The channel stays broken; later requests fail without reaching anyone.
  uint8_t byte = 0;
  EXPECT_FALSE(channel->control_read(0x8E, 0, &byte, 1));
  EXPECT_FALSE(channel->control_write(0x83, 0, &byte, 1));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  std::lock_guard<std::mutex> lock(port.mutex);
  EXPECT_TRUE(port.reads.empty());
  EXPECT_TRUE(port.writes.empty());
}

TEST_F(SocketLink, AClientGoneMidMessageLeavesTheServerServingOthers) {
  LinkServer server(path, port);
  {
    auto raw = raw_client(path);
    ASSERT_NE(raw, nullptr);
    // A bulk write of 61440 bytes announced, 100 of them sent, then the client dies.
    wire::Request request;
    request.call = wire::Call::kBulkOut;
    request.data.assign(61440, 0x11);
    const std::vector<uint8_t> frame = wire::encode_request(request);
    ASSERT_TRUE(raw->send_all(frame.data(), 100));
  }
  EXPECT_EQ(server.ending(1), wire::ServeEnd::kClientLeft);
  auto channel = transport::open_emulator_channel(path);
  ASSERT_NE(channel, nullptr);
  uint32_t moved = 0;
  const uint8_t data[3] = {1, 2, 3};
  EXPECT_TRUE(channel->bulk_write(data, 3, moved));
  std::lock_guard<std::mutex> lock(port.mutex);
  EXPECT_EQ(port.received, std::vector<uint8_t>(data, data + 3));  // the torn write never arrived
}

TEST_F(SocketLink, MalformedClientsAreCutOff) {
  LinkServer server(path, port);
  const auto expect_closed = [](LocalStream& stream) {
    uint8_t byte = 0;
    EXPECT_FALSE(stream.receive_all(&byte, 1));
  };
  size_t connections = 0;
  {  // an unknown call after the hello
    auto raw = raw_client(path);
    ASSERT_NE(raw, nullptr);
    const uint8_t frame[] = {1, 0, 0, 0, 0x42};
    ASSERT_TRUE(raw->send_all(frame, sizeof frame));
    expect_closed(*raw);
    EXPECT_EQ(server.ending(++connections), wire::ServeEnd::kMalformed);
  }
  {  // a size prefix far beyond any message: refused before anything is allocated
    auto raw = raw_client(path);
    ASSERT_NE(raw, nullptr);
    const uint8_t frame[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x05};
    ASSERT_TRUE(raw->send_all(frame, sizeof frame));
    expect_closed(*raw);
    EXPECT_EQ(server.ending(++connections), wire::ServeEnd::kMalformed);
  }
  {  // a request before the hello
    auto raw = raw_client(path, false);
    ASSERT_NE(raw, nullptr);
    wire::Request request;
    request.call = wire::Call::kDescriptor;
    ASSERT_TRUE(wire::send_frame(*raw, wire::encode_request(request)));
    expect_closed(*raw);
    EXPECT_EQ(server.ending(++connections), wire::ServeEnd::kMalformed);
  }
  {  // another protocol version: refused with the server's version
    auto raw = raw_client(path, false);
    ASSERT_NE(raw, nullptr);
    wire::Request hello;
    hello.call = wire::Call::kHello;
    hello.length = wire::kVersion + 1;
    std::vector<uint8_t> body;
    wire::Reply reply;
    ASSERT_TRUE(wire::send_frame(*raw, wire::encode_request(hello)));
    ASSERT_EQ(wire::receive_frame(*raw, body), wire::Received::kFrame);
    ASSERT_TRUE(wire::decode_reply(body, hello, reply));
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.value, wire::kVersion);
    expect_closed(*raw);
    EXPECT_EQ(server.ending(++connections), wire::ServeEnd::kRefusedHello);
  }
  auto channel = transport::open_emulator_channel(path);
  ASSERT_NE(channel, nullptr);
  uint8_t byte = 0;
  EXPECT_TRUE(channel->control_read(0x8E, 0, &byte, 1));
}

TEST_F(SocketLink, AChannelToAServerThatIsNotADaemonFailsToOpen) {
  EXPECT_EQ(transport::open_emulator_channel(dir.file("nobody.sock")), nullptr);
  // A server that accepts and hangs up at once: the hello fails.
  std::string error;
  auto listener = LocalListener::listen(path, error);
  ASSERT_NE(listener, nullptr) << error;
  std::thread rude([&] {
    auto stream = listener->accept();
    if (stream != nullptr) stream->shut_down();
  });
  EXPECT_EQ(transport::open_emulator_channel(path), nullptr);
  rude.join();
}

TEST_F(SocketLink, ListenRefusesTakenPathsAndReplacesStaleSockets) {
  std::string error;
  // A file that is not a socket is never replaced.
  const std::string plain = dir.file("plain");
  std::ofstream(plain) << "keep me";
  EXPECT_EQ(LocalListener::listen(plain, error), nullptr);
  EXPECT_NE(error.find(plain), std::string::npos);
  EXPECT_TRUE(fs::is_regular_file(plain));

  // A socket somebody listens on is taken.
  auto first = LocalListener::listen(path, error);
  ASSERT_NE(first, nullptr) << error;
  error.clear();
  EXPECT_EQ(LocalListener::listen(path, error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_NE(LocalStream::connect(path), nullptr);  // the first listener is untouched

  // Move the live socket aside and put a new one in its place: the old listener,
  // shut down, must leave the new socket alone, and the moved file is now stale.
  const std::string aside = dir.file("aside.sock");
  fs::rename(path, aside);
  auto second = LocalListener::listen(path, error);
  ASSERT_NE(second, nullptr) << error;
  first.reset();
  EXPECT_TRUE(fs::is_socket(path));
  EXPECT_TRUE(fs::is_socket(aside));
  EXPECT_EQ(LocalStream::connect(aside), nullptr);
  auto third = LocalListener::listen(aside, error);
  ASSERT_NE(third, nullptr) << error;
  EXPECT_NE(LocalStream::connect(aside), nullptr);

  // shut_down removes the socket file and wakes accept.
  std::thread waiting([&] { EXPECT_EQ(second->accept(), nullptr); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  second->shut_down();
  waiting.join();
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(SocketLink, PathsThatDoNotFitASocketAddressAreRefused) {
  std::string error;
  const std::string long_path = dir.file(std::string(120, 'x') + ".sock");
  EXPECT_EQ(LocalListener::listen(long_path, error), nullptr);
  EXPECT_NE(error.find("longer"), std::string::npos);
  EXPECT_EQ(LocalListener::listen("", error), nullptr);
  EXPECT_EQ(LocalStream::connect(long_path), nullptr);
  EXPECT_EQ(LocalStream::connect(std::string("a\0b", 3)), nullptr);
  EXPECT_EQ(transport::open_emulator_channel(long_path), nullptr);
}

}  // namespace
}  // namespace qrx
