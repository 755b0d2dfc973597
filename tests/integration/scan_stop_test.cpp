// The running scan: raw lines reaching the ring where the window lies on the
// glass, also when the host reads slower than the scanner delivers, and its two
// ends (at once, after draining) before the first line, in the middle with every
// buffer full, and after the last line, with the row the carriage goes home at.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "integration/scan_test_fixture.h"
#include "pass/carriage.h"

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
  // Edges of the dark on raw 48-bit colour lines of a 300 dpi scan of the window
  // at (x, y), green samples (planar: R, G, B blocks of `pixels` samples each),
  // against the same on the glass: the first and last dark line down `column`
  // and the first and last dark pixel along every line, each within a line or a
  // pixel of the glass. The read lead-in of 128 units lies left of the window.
  void expect_dark_where_on_the_glass(const std::vector<uint8_t>& data, uint32_t x, uint32_t y,
                                      uint32_t pixels, uint32_t lines, uint32_t column) {
    const uint32_t line_bytes = lib().context.read_line_bytes;
    const auto green = [&](uint32_t line, uint32_t p) {
      const uint8_t* at = data.data() + static_cast<size_t>(line) * line_bytes + 2 * (pixels + p);
      return at[0] | at[1] << 8;
    };
    const int white = green(0, 10);
    ASSERT_GT(white, 20000);
    const auto dark_scan = [&](uint32_t line, uint32_t p) { return green(line, p) < white / 2; };
    const auto dark_glass = [&](uint32_t line, uint32_t p) {
      const double gx = x - 128.0 + 8.0 * p + 4.0, gy = y + 8.0 * line + 4.0;
      return scanner->document_reflectance(gx, gy).green < 0.4;
    };
    // First and last i below n where dark(i); -1 when none.
    const auto dark_span = [](auto&& dark, uint32_t n) {
      std::pair<int, int> span{-1, -1};
      for (uint32_t i = 0; i < n; ++i) {
        if (!dark(i)) continue;
        if (span.first < 0) span.first = static_cast<int>(i);
        span.second = static_cast<int>(i);
      }
      return span;
    };
    const auto down_scan = dark_span([&](uint32_t l) { return dark_scan(l, column); }, lines);
    const auto down_glass = dark_span([&](uint32_t l) { return dark_glass(l, column); }, lines);
    ASSERT_GT(down_glass.first, 0) << "the column crosses the dark";
    EXPECT_NEAR(down_scan.first, down_glass.first, 1) << "top edge";
    EXPECT_NEAR(down_scan.second, down_glass.second, 1) << "bottom edge";
    int lines_off = 0;
    for (uint32_t l = 0; l < lines; ++l) {
      const auto along_scan = dark_span([&](uint32_t p) { return dark_scan(l, p); }, pixels);
      const auto along_glass = dark_span([&](uint32_t p) { return dark_glass(l, p); }, pixels);
      if (along_glass.first < 0) continue;
      if (std::abs(along_scan.first - along_glass.first) > 1 ||
          std::abs(along_scan.second - along_glass.second) > 1) {
        if (lines_off++ < 3) {
          ADD_FAILURE() << "line " << l << ": dark from " << along_scan.first << " to "
                        << along_scan.second << ", on the glass " << along_glass.first << " to "
                        << along_glass.second;
        }
      }
    }
    EXPECT_EQ(lines_off, 0) << "lines whose dark lies elsewhere than on the glass";
  }
  // What every finished stop leaves.
  void expect_stopped() {
    auto& context = lib().context;
    EXPECT_EQ(context.reader_thread, nullptr);
    EXPECT_EQ(context.image_ring, nullptr);
    EXPECT_EQ(context.scan_line_count, 0u);
    EXPECT_EQ(lib().status_block.busy(), 0u);
    EXPECT_EQ(scanner->peek_register(0x6C) & 0x02, 0x02) << "output line 10 back on";
    EXPECT_EQ(pass::wait_for_stop(context), QRX_OK);
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
  // The patch's top edge down a column inside it, its left edge along every line.
  expect_dark_where_on_the_glass(data, x, y, pixels, lines, 200);
  EXPECT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE);
}

TEST_F(ScanStopTest, AHostSlowerThanTheScannerGetsEveryLineOfAScanLongerThanTheRing) {
  // 48-bit colour at 300 dpi over the whole black patch (x 12000..16800, y
  // 6600..11400): 750 lines of 816 pixels, 3.7 MB for a ring of 2 MiB.
  const uint32_t x = 11000, y = 6000, width = 6400, length = 6000;
  ASSERT_EQ(set_scan(300, 48, x, y, width, length), QRX_TRUE);
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  ASSERT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
  auto& context = lib().context;
  const uint32_t pixels = (width + 128) * 300 / 2400, lines = length * 300 / 2400;
  const uint32_t line_bytes = context.read_line_bytes;
  ASSERT_EQ(line_bytes, pixels * 6);
  ASSERT_GT(uint64_t{lines} * line_bytes, imaging::kScanRingBytes);
  imaging::ImageRing& ring = *context.image_ring;
  const auto reader_running = [&] {
    return context.reader_thread->exit_code() == platform::Thread::kStillActive;
  };

  // The host reads nothing until the ring is full and the scanner holds more than
  // two lines beyond the room left: from then on each transfer that falls due
  // meets a ring with less room than the scanner has data.
  const auto crowded = [&] {
    return ring.free_space() < line_bytes &&
           scanner->buffered_bytes() > ring.free_space() + 2 * line_bytes;
  };
  for (const auto since = std::chrono::steady_clock::now();
       !crowded() && reader_running() && still_waiting(since);) {
    gate.sleep_ms(10);
  }
  ASSERT_TRUE(reader_running()) << "the reader ended with " << context.reader_thread->exit_code()
                                << " holding " << ring.used() << " bytes, "
                                << scanner->buffered_bytes() << " waiting in the scanner";
  ASSERT_TRUE(crowded());

  // Then one line at a time, 10 ms apart, while the scanner goes on delivering.
  std::vector<uint8_t> data(static_cast<size_t>(lines) * line_bytes);
  for (uint32_t i = 0; i < lines; ++i) {
    uint8_t* line = data.data() + static_cast<size_t>(i) * line_bytes;
    for (const auto since = std::chrono::steady_clock::now();;) {
      if (ring.read(line, line_bytes)) break;
      // Once the reader has ended, what it left in the ring is all there is.
      const bool ended = !reader_running();
      if (ended && ring.read(line, line_bytes)) break;
      ASSERT_FALSE(ended) << "line " << i << " of " << lines
                          << " never came: the reader ended with "
                          << context.reader_thread->exit_code();
      ASSERT_TRUE(still_waiting(since)) << "line " << i << " never came";
      gate.sleep_ms(10);
    }
    context.lines_to_read.fetch_sub(1);
    gate.sleep_ms(10);
  }
  wait_for_reader_end();
  EXPECT_LT(ring.used(), line_bytes) << "nothing beyond the window's lines";
  // Nothing lost, doubled or shifted on the way: the patch's edges lie where
  // they lie on the glass in every line.
  expect_dark_where_on_the_glass(data, x, y, pixels, lines, 400);
  lib().scan_values.line_count = 0;  // every line read, as the read path leaves it
  EXPECT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
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
  EXPECT_GE(gate.now_us() - before, scan::kFirstLineWaitMs * 1000ull);
  expect_stopped();

  scanner->stall_image_data(false);
  gate.close();
  start(24, kInch, kInch);
  ASSERT_TRUE(gate.wait_until_held());
  EXPECT_EQ(scanner->pass_lines(), 0u);
  gate.open();
  ASSERT_EQ(scan::stop_now(lib().context, lib().setting), QRX_OK);
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
  ASSERT_EQ(scan::stop_now(lib().context, lib().setting), QRX_OK);
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
  EXPECT_GT(scanner->carriage_steps(), double{pass::kReturnHomeSteps});
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

TEST_F(ScanStopTest, TheCarriageGoesHomeFastOnlyFromAWindowEndingBefore1000Units) {
  // The move the stop starts home is programmed with its row of the move
  // settings. The fast row (600 dpi: 64 steps up and 8 down at 2 micro-steps a
  // step, line period 5728) for a window ending at 999 units (2400 dpi); the
  // 75 dpi row (256 up and 64 down at 1, line period 18432) from 1000 on.
  // Registers: 0x21 and 0x5F the up and down ramps in blocks of 8 micro-steps;
  // 0x38/0x39 the line period over the step divider, which the start-speed rule
  // raises to 4 for either row's first ramp.
  struct Case {
    uint32_t length;
    uint8_t up_blocks, down_blocks;
    uint16_t period;
  };
  for (const Case& c : {Case{499, 16, 2, 5728 / 4}, Case{500, 32, 8, 18432 / 4}}) {
    SCOPED_TRACE(testing::Message() << "window from 500 to " << 500 + c.length);
    ASSERT_EQ(set_scan(300, 24, 0, 500, kInch, c.length), QRX_TRUE);
    ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
    ASSERT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
    ASSERT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
    EXPECT_EQ(scanner->peek_register(0x21), c.up_blocks);
    EXPECT_EQ(scanner->peek_register(0x5F), c.down_blocks);
    EXPECT_EQ(scanner->peek_register(0x38) << 8 | scanner->peek_register(0x39), c.period);
    EXPECT_EQ(scanner->peek_register(0x02) & 0x04, 0x04) << "towards home";
    expect_stopped();
  }
}

}  // namespace
}  // namespace qrx::test
