// The two ends of a running scan (at once, after draining): before the first
// line, in the middle with every buffer full, and after the last line.
#include <gtest/gtest.h>

#include "engine/carriage.h"
#include "integration/scan_test_fixture.h"

namespace qrx::test {
namespace {

constexpr uint32_t kInch = 2400;

class ScanStopTest : public ScanTest {
 protected:
  void SetUp() override {
    ScanTest::SetUp();
    ASSERT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_TRUE) << std::hex << last_error();
  }
  void start(uint8_t depth, uint32_t width, uint32_t length) {
    ASSERT_EQ(set_scan(300, depth, 0, 0, width, length), QRX_TRUE);
    ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
    ASSERT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
  }
  // A scan longer than the ring and the controller's buffer together hold: the
  // carriage stands still mid-scan until somebody reads.
  void start_held_mid_scan() {
    emu::Options options;
    options.buffer_bytes = 65536;
    reset_scanner(options);
    TerminateScanner(nullptr);
    ASSERT_TRUE(open_scanner());
    start(48, 4 * kInch, kInch * 4 / 3);
    auto& context = lib().context;
    const auto held = [&] {
      return scanner->carriage_paused() &&
             context.image_ring->free_space() < context.read_line_bytes;
    };
    for (const auto since = std::chrono::steady_clock::now(); !held() && still_waiting(since);) {
      gate.sleep_ms(10);
    }
    ASSERT_TRUE(held());
    take_lines(10);
  }
  // What every finished stop leaves.
  void expect_stopped() {
    auto& context = lib().context;
    EXPECT_EQ(context.reader_thread, nullptr);
    EXPECT_EQ(context.image_ring, nullptr);
    EXPECT_EQ(context.scan_line_count, 0u);
    EXPECT_EQ(lib().status_block.busy(), 0u);
    EXPECT_EQ(scanner->peek_register(0x6C) & 0x02, 0x02) << "output line 10 back on";
    EXPECT_EQ(engine::wait_for_stop(context), QRX_OK);
    EXPECT_EQ(scanner->carriage_steps(), 0.0) << "sent home";
    EXPECT_EQ(scanner->peek_register(0x01) & 1, 0) << "scan enable clear";
  }
};

TEST_F(ScanStopTest, StopsBeforeTheFirstLine) {
  // No time passes until the reader's first wait, where it is held: no line has
  // been taken. From then on the scanner sends nothing, and the stop waits a
  // bounded time for a first line.
  gate.close();
  start(24, kInch, kInch);
  ASSERT_TRUE(gate.wait_until_held());
  EXPECT_EQ(scanner->pass_lines(), 0u);
  scanner->stall_image_data(true);
  gate.open();
  const uint64_t before = gate.now_us();
  ASSERT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
  EXPECT_GE(gate.now_us() - before, engine::kFirstLineWaitMs * 1000ull);
  expect_stopped();

  scanner->stall_image_data(false);
  gate.close();
  start(24, kInch, kInch);
  ASSERT_TRUE(gate.wait_until_held());
  EXPECT_EQ(scanner->pass_lines(), 0u);
  gate.open();
  ASSERT_EQ(engine::stop_now(lib().context, lib().setting), QRX_OK);
  expect_stopped();
}

TEST_F(ScanStopTest, StopsAfterDrainingMidScan) {
  start_held_mid_scan();
  ASSERT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(scanner->buffered_bytes(), 0u) << "what the controller held was drained";
  expect_stopped();
}

TEST_F(ScanStopTest, StopsAtOnceMidScan) {
  // How the read path abandons a scan it cannot finish: the held pass must end
  // at once, not after a minute of waiting for a motor that waits for room.
  start_held_mid_scan();
  ASSERT_EQ(engine::stop_now(lib().context, lib().setting), QRX_OK);
  expect_stopped();
}

TEST_F(ScanStopTest, StopsAfterTheLastLine) {
  // Every line read (the read path counts LineCount down to 0) and the pass over:
  // StopScanEx stops at once.
  start(24, kInch, kInch / 4);
  wait_for_reader_end();
  take_lines(lib().context.scan_line_count);
  lib().scan_values.line_count = 0;
  scanner->clear_trace();
  ASSERT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
  EXPECT_TRUE(scanner->trace({emu::RequestKind::BulkIn}).empty()) << "nothing drained";
  expect_stopped();

  // Lines still owed to the host: after draining, even though nothing more comes.
  start(8, kInch, kInch / 4);
  wait_for_reader_end();
  ASSERT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(scanner->buffered_bytes(), 0u) << "the extra line of an 8-bit scan drained";
  expect_stopped();
}

TEST_F(ScanStopTest, ScanEnableLeftOnAfterDrainingIsAFailedStop) {
  start(24, kInch, kInch / 4);
  wait_for_reader_end();
  // The writes of register 0x01 while stopping after draining: clear, three waits
  // for the motor, and the final clear.
  scanner->fail_request({emu::RequestKind::ControlOut, 0x83, 0x01}, 5);
  lib().context.warm_up_attempts = 5;
  EXPECT_EQ(StopScanEx(nullptr, nullptr), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_STOP_DRAIN);
  EXPECT_EQ(lib().status_block.busy(), 0u);
  EXPECT_EQ(lib().context.warm_up_attempts, 5) << "a failed stop leaves a warm-up going";
  // Stopping again finishes the job, and a warm-up starts afresh.
  ASSERT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(lib().context.warm_up_attempts, 0);
  expect_stopped();
}

}  // namespace
}  // namespace qrx::test
