// Memory round trips, word-wise reads, the shared 0x10000000 address, malformed bulk
// transfers, every injected fault and the request trace.
#include <gtest/gtest.h>

#include "emulator/geometry.h"
#include "scanner_fixture.h"

namespace qrx::emu::test {
namespace {

class MemoryTest : public ScannerFixture<> {
 protected:
  void SetUp() override { make(); }
  static std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + seed + (i >> 8));
    return v;
  }
  void run_short_pass() {
    PassSetup s;
    s.motor = false;
    s.lines = 2;
    ASSERT_TRUE(program_pass(*usb_, *scanner_, s));
    ASSERT_TRUE(usb_->start());
    clock_.sleep_ms(2000);
  }
};

TEST_F(MemoryTest, BulkRoundTripInPiecesAndShortReads) {
  const auto data = pattern(150000, 3);
  ASSERT_TRUE(usb_->write_memory(0x10100000, data));
  std::vector<uint8_t> back;
  ASSERT_TRUE(usb_->read_bulk(0x10100000, 150000, back));
  EXPECT_EQ(back, data);
  scanner_->set_bulk_in_limit(1000);
  ASSERT_TRUE(usb_->read_bulk(0x10100000, 150000, back));
  EXPECT_EQ(back, data);
  const auto reads = scanner_->trace(RequestFilter{RequestKind::BulkIn});
  ASSERT_FALSE(reads.empty());
  EXPECT_EQ(reads.back().transferred, 1000u);
  // The pieces asked by the driver's loop: 61440, 61440, 27120.
  scanner_->set_bulk_in_limit(0);
  scanner_->clear_trace();
  ASSERT_TRUE(usb_->read_bulk(0x10100000, 150000, back));
  const auto pieces = scanner_->trace(RequestFilter{RequestKind::BulkIn});
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[2].transferred, 27120u);
}

TEST_F(MemoryTest, GammaMemoryReadsWordByWord) {
  std::vector<uint8_t> curve(512);
  for (int i = 0; i < 256; ++i) {
    curve[2 * i] = static_cast<uint8_t>(i * 3);
    curve[2 * i + 1] = static_cast<uint8_t>(255 - i);
  }
  ASSERT_TRUE(usb_->write_memory(0x01000200, curve));
  for (int i : {0, 1, 128, 255}) {
    const auto w = usb_->read_word(0x01000200 + 2 * i);
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(*w, static_cast<uint16_t>((255 - i) << 8 | ((i * 3) & 0xFF))) << i;
  }
  // Channel 0 still holds the identity curve of power-up; beyond the three curves fails.
  EXPECT_EQ(usb_->read_word(0x01000000 + 2 * 7).value_or(0), 7 * 256);
  EXPECT_FALSE(usb_->read_word(0x01000600).has_value());
  uint8_t w[4];
  EXPECT_FALSE(scanner_->control_in(0x8A, 4, w, 4));
}

TEST_F(MemoryTest, RangesHeadersAndNullBuffersAreChecked) {
  uint32_t moved = 0;
  uint8_t buffer[16] = {};
  EXPECT_FALSE(scanner_->bulk_in(buffer, 16, moved));   // no header
  EXPECT_FALSE(scanner_->bulk_out(buffer, 16, moved));
  EXPECT_FALSE(usb_->header(0x10000000 + kRamBytes - 8, 16, true));  // past the RAM
  EXPECT_FALSE(usb_->header(0x20000000, 4, false));
  EXPECT_FALSE(usb_->header(0xFFFFFFF0, 0x20, false));
  const uint8_t h[8] = {0, 0, 0, 0x10, 4, 0, 0, 0};
  EXPECT_FALSE(scanner_->control_out(0x82, 2, h, 8));  // direction index
  EXPECT_FALSE(scanner_->control_out(0x82, 0, h, 7));
  ASSERT_TRUE(usb_->header(0x10100000, 16, false));
  EXPECT_FALSE(scanner_->bulk_out(buffer, 16, moved));  // wrong direction
  EXPECT_FALSE(scanner_->bulk_in(nullptr, 16, moved));
  ASSERT_TRUE(scanner_->bulk_in(buffer, 64, moved));   // more than announced: short
  EXPECT_EQ(moved, 16u);
  EXPECT_FALSE(scanner_->bulk_in(buffer, 16, moved));  // transfer complete
}

TEST_F(MemoryTest, SelfTestPatternAtImageAddressReadsMemoryOnceThePassIsOver) {
  run_short_pass();
  ASSERT_GT(scanner_->buffered_bytes(), 0u);  // a pass left data behind
  const std::vector<uint8_t> block = [] {
    std::vector<uint8_t> b(16384);
    for (size_t i = 0; i < b.size(); ++i) b[i] = (i % 4) < 2 ? 0x55 : 0xAA;
    return b;
  }();
  for (uint32_t a = 0x10000000; a < 0x10200000; a += 16384) {
    ASSERT_TRUE(usb_->write_memory(a, block));
    std::vector<uint8_t> back;
    ASSERT_TRUE(usb_->read_bulk(a, 16384, back));
    ASSERT_EQ(back, block) << std::hex << a;
  }
  EXPECT_EQ(scanner_->buffered_bytes(), 0u);
}

TEST_F(MemoryTest, ImageReadsGiveNothingWhileNoLineIsReady) {
  PassSetup s;
  s.motor = false;
  s.lines = 1;
  ASSERT_TRUE(program_pass(*usb_, *scanner_, s));
  ASSERT_TRUE(usb_->start());
  ASSERT_TRUE(usb_->header(0x10000000, 100, false));
  uint8_t buffer[100];
  uint32_t moved = 1;
  EXPECT_TRUE(scanner_->bulk_in(buffer, 100, moved));
  EXPECT_EQ(moved, 0u);  // the line is still being exposed
  clock_.sleep_ms(100);
  EXPECT_TRUE(scanner_->bulk_in(buffer, 100, moved));
  EXPECT_EQ(moved, 100u);
}

TEST_F(MemoryTest, InjectedRequestFailuresCountMatchingRequests) {
  scanner_->fail_request(RequestFilter{RequestKind::ControlOut, 0x83, 0x2C}, 2);
  EXPECT_TRUE(usb_->write(0x2D, 1));   // other register: not counted
  EXPECT_TRUE(usb_->write(0x2C, 1));   // first match
  EXPECT_FALSE(usb_->write(0x2C, 2));  // second match fails
  EXPECT_TRUE(usb_->write(0x2C, 3));
  EXPECT_EQ(usb_->must_read(0x2C), 3);
  scanner_->fail_request(RequestFilter{RequestKind::ControlIn}, 1, 2);
  EXPECT_FALSE(usb_->read(0x2C).has_value());
  EXPECT_FALSE(usb_->read(0x2C).has_value());
  EXPECT_TRUE(usb_->read(0x2C).has_value());
  scanner_->fail_request(RequestFilter{RequestKind::BulkOut}, 1);
  EXPECT_FALSE(usb_->write_memory(0x10100000, pattern(10, 1)));
  EXPECT_TRUE(usb_->write_memory(0x10100000, pattern(10, 1)));
  scanner_->fail_request(RequestFilter{RequestKind::BulkIn}, 1);
  std::vector<uint8_t> back;
  EXPECT_FALSE(usb_->read_bulk(0x10100000, 10, back));
  scanner_->fail_request(RequestFilter{RequestKind::Descriptor}, 1);
  uint16_t v, p, r;
  EXPECT_FALSE(scanner_->descriptor(v, p, r));
  EXPECT_TRUE(scanner_->descriptor(v, p, r));
}

TEST_F(MemoryTest, MissingMarkerDisconnectStallAndJam) {
  ASSERT_TRUE(usb_->write(0x19, 0xFF));
  scanner_->omit_marker(1, 0x19);
  uint8_t answer[2];
  ASSERT_TRUE(scanner_->control_in(0x8E, 0x19 * 256 + 0x22, answer, 2));
  EXPECT_EQ(answer[0], 0xFF);
  EXPECT_NE(answer[1], 0x55);
  EXPECT_EQ(usb_->read(0x19), std::optional<uint8_t>(0xFF));

  scanner_->stall_image_data(true);
  run_short_pass();
  EXPECT_FALSE(scanner_->pass_active());
  EXPECT_EQ(usb_->buffered(), 0u);
  scanner_->stall_image_data(false);

  scanner_->jam_motor(true);
  run_short_pass();
  EXPECT_TRUE(scanner_->motor_running());
  EXPECT_EQ(usb_->must_read(0x41) & 0x41, 0x41);  // lines done, motor still turning
  clock_.sleep_ms(120000);
  EXPECT_TRUE(scanner_->motor_running());
  ASSERT_TRUE(usb_->write(0x0E, 1));  // the reset pulse stops it
  ASSERT_TRUE(usb_->write(0x0E, 0));
  EXPECT_FALSE(scanner_->motor_running());

  scanner_->disconnect();
  EXPECT_FALSE(usb_->read(0x19).has_value());
  EXPECT_FALSE(usb_->write(0x19, 1));
  uint16_t v, p, r;
  EXPECT_FALSE(scanner_->descriptor(v, p, r));
  scanner_->reconnect();
  EXPECT_EQ(usb_->read(0x19), std::optional<uint8_t>(0));  // a fresh power-up
}

TEST_F(MemoryTest, TraceRecordsServedRequestsAndFilters) {
  clock_.sleep_ms(5);
  scanner_->clear_trace();
  ASSERT_TRUE(usb_->write(0x2C, 0x09));
  clock_.sleep_ms(3);
  ASSERT_TRUE(usb_->read(0x2C).has_value());
  const auto all = scanner_->trace();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].kind, RequestKind::ControlOut);
  EXPECT_EQ(all[0].request, 0x83);
  EXPECT_EQ(all[0].reg, 0x2C);
  ASSERT_EQ(all[0].data_size, 2);
  EXPECT_EQ(all[0].data[1], 0x09);
  EXPECT_EQ(all[1].kind, RequestKind::ControlIn);
  EXPECT_EQ(all[1].index, 0x2C * 256 + 0x22);
  EXPECT_EQ(all[1].data[0], 0x09);
  EXPECT_EQ(all[1].data[1], 0x55);
  EXPECT_EQ(all[1].time_us - all[0].time_us, 3000u);
  EXPECT_EQ(scanner_->trace(RequestFilter{RequestKind::ControlIn, 0x8E, 0x2C}).size(), 1u);
  EXPECT_TRUE(scanner_->trace(RequestFilter{RequestKind::ControlIn, 0x8E, 0x2D}).empty());
  scanner_->set_trace_capacity(1);
  EXPECT_EQ(scanner_->trace().size(), 1u);
  scanner_->clear_trace();
  EXPECT_TRUE(scanner_->trace().empty());
}

}  // namespace
}  // namespace qrx::emu::test
