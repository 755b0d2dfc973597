// The running scan: raw lines reaching the ring where the window lies on the
// glass, and its two ends (at once, after draining) before the first line, in
// the middle with every buffer full, and after the last line.
#include <gtest/gtest.h>

#include <algorithm>

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

TEST_F(ScanStopTest, RawLinesArriveWhereTheWindowLiesOnTheGlass) {
  // 48-bit colour at 300 dpi over the chart's black patch (x 12000.., y 6600..).
  const uint32_t x = 11000, y = 6000, width = 2400, length = 1600;
  ASSERT_EQ(set_scan(300, 48, x, y, width, length), QRX_TRUE);
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  ASSERT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
  auto& context = lib().context;
  // The window and the 128 units the sensor reads left of it, 6 bytes a pixel.
  const uint32_t pixels = (width + 128) * 300 / 2400;
  ASSERT_EQ(context.read_line_bytes, pixels * 6);
  const uint32_t lines = length * 300 / 2400;
  wait_for_reader_end();
  EXPECT_GE(context.image_ring->used(), lines * context.read_line_bytes);
  EXPECT_LT(context.image_ring->used(), (lines + 1) * context.read_line_bytes);
  const std::vector<uint8_t> data = take_lines(lines);

  // Green samples, planar: R block, G block, B block of `pixels` each.
  const auto green = [&](uint32_t line, uint32_t p) {
    const uint8_t* at =
        data.data() + static_cast<size_t>(line) * context.read_line_bytes + 2 * (pixels + p);
    return at[0] | at[1] << 8;
  };
  const auto dark_truth = [&](uint32_t line, uint32_t p) {
    const double gx = x - 128.0 + 8.0 * p + 4.0, gy = y + 8.0 * line + 4.0;
    return scanner->document_reflectance(gx, gy).green < 0.4;
  };
  const auto first_dark = [](auto&& dark, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
      if (dark(i)) return static_cast<int>(i);
    }
    return -1;
  };
  const int white = green(0, 10);
  ASSERT_GT(white, 20000);
  const auto dark_scan = [&](uint32_t line, uint32_t p) { return green(line, p) < white / 2; };
  // Top edge, down a column inside the patch; left edge, along a row inside it.
  const uint32_t column = 200, row = 150;
  const int top = first_dark([&](uint32_t l) { return dark_scan(l, column); }, lines);
  const int top_truth = first_dark([&](uint32_t l) { return dark_truth(l, column); }, lines);
  const int left = first_dark([&](uint32_t p) { return dark_scan(row, p); }, pixels);
  const int left_truth = first_dark([&](uint32_t p) { return dark_truth(row, p); }, pixels);
  ASSERT_GT(top_truth, 0);
  ASSERT_GT(left_truth, 0);
  EXPECT_NEAR(top, top_truth, 1);
  EXPECT_NEAR(left, left_truth, 1);
  EXPECT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE);
}

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

TEST_F(ScanStopTest, AfterAScanToTheBottomOfTheGlassTheCarriageStillComesHome) {
  // The window reaches the bottom of the flatbed (y + length = 28064 units): the
  // pass ends farther out than one return home travels.
  start(24, 128, 28064);
  wait_for_reader_end();
  take_lines(lib().context.scan_line_count);
  lib().scan_values.line_count = 0;
  EXPECT_GT(scanner->carriage_steps(), double{engine::kReturnHomeSteps});
  ASSERT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
  // A calibration straight after it homes with a wait, and so does a self-test.
  EXPECT_EQ(DoCalibration(nullptr, 0, 0, 600), QRX_TRUE) << std::hex << last_error();
  start(24, 128, 28064);
  wait_for_reader_end();
  take_lines(lib().context.scan_line_count);
  lib().scan_values.line_count = 0;
  ASSERT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(TestScanner(nullptr, 4, 0, 0), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(TestScanner(nullptr, 5, 0, 0), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(scanner->carriage_steps(), 0.0);
}

}  // namespace
}  // namespace qrx::test
