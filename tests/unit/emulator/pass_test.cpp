// Hand-programmed passes: raw line layout (planar blocks, lead-in, segment order),
// content against the ground truth, carriage travel and home sensor, the line buffer
// holding the carriage when full, and the buffered-data counter.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "emulator/geometry.h"
#include "scanner_fixture.h"

namespace qrx::emu::test {
namespace {

class PassTest : public ScannerFixture<> {
 protected:
  // Reads every line of the running pass the way the image reader does.
  std::vector<uint8_t> read_all(uint32_t total) { return read_pass(total, 100000); }
  void wait_idle() {
    for (int i = 0; i < 100000 && scanner_->motor_running(); ++i) clock_.sleep_ms(10);
  }
  static uint16_t sample16(const std::vector<uint8_t>& line, size_t i) {
    return static_cast<uint16_t>(line[2 * i] | (line[2 * i + 1] << 8));
  }
};

TEST_F(PassTest, LeadInPutsWindowEdgeAfter128UnitsAt300Dpi) {
  make();
  // Park inside the reference mark's rows; window starts at the mark's right edge.
  scanner_->set_carriage_steps(kMarkTopSteps + 40);
  PassSetup s;
  s.motor = false;
  s.x = kMarkRightUnits;
  s.width = 800 + 128;  // image width plus the lead-in, as the driver reads below 1200 dpi
  s.lines = 2;
  ASSERT_TRUE(program_pass(*usb_, *scanner_, s));
  ASSERT_TRUE(usb_->start());
  const uint32_t pixels = 300 * s.width / 2400;
  const uint32_t line = pixels * 3 * 2;
  const auto data = read_all(2 * line);
  ASSERT_EQ(data.size(), 2u * line);
  const uint32_t lead = 128 / 8;
  for (int c = 0; c < 3; ++c) {
    for (uint32_t p = 0; p < pixels; ++p) {
      const uint16_t v = sample16(data, c * pixels + p);
      // Lead-in pixels see the black mark left of the window's x, the rest white glass.
      if (p < lead) EXPECT_LT(v, 9000) << "channel " << c << " pixel " << p;
      else EXPECT_GT(v, 25000) << "channel " << c << " pixel " << p;
    }
  }
}

TEST_F(PassTest, SegmentOrderAt1200DpiCoversFullWidth) {
  make();
  scanner_->set_carriage_steps(kMarkTopSteps + 40);
  PassSetup s;
  s.resolution = 1200;
  s.motor = false;
  s.x = 0;
  s.width = kSensorElements;
  s.lines = 1;
  s.depth = 8;  // one channel, 8-bit
  ASSERT_TRUE(program_pass(*usb_, *scanner_, s));
  ASSERT_TRUE(usb_->start());
  const uint32_t n = 1200 * kSensorElements / 2400;
  const auto raw = read_all(n);
  ASSERT_EQ(raw.size(), n);
  // The read path's de-interleave: sub-block s(p) holds phase p.
  std::vector<uint8_t> pixel(n);
  for (uint32_t j = 0; j < n / 2; ++j)
    for (uint32_t p = 0; p < 2; ++p) pixel[2 * j + p] = raw[j + p * (n / 2)];
  // Pixel i sees glass x = 2i - 128: the mark spans x 8000..9499.
  const uint32_t first_dark = (kMarkLeftUnits + 128) / 2, first_white = (kMarkRightUnits + 128) / 2;
  for (uint32_t i = first_dark - 20; i < first_white + 20; ++i) {
    const bool dark = i >= first_dark && i < first_white;
    if (dark) {
      EXPECT_LT(pixel[i], 35) << i;
    } else {
      EXPECT_GT(pixel[i], 100) << i;
    }
  }
  // Without the de-interleave the edge would sit elsewhere: sub-block 1 starts at n / 2.
  EXPECT_GT(raw[first_dark], 100);
}

TEST_F(PassTest, ContentFollowsGroundTruthAfterFlatFielding) {
  Options o;
  o.sensor_noise = false;
  make(o);
  const auto one_line = [&](double steps, bool leds) {
    scanner_->set_carriage_steps(steps);
    PassSetup s;
    s.motor = false;
    s.x = 1200;
    s.width = 18000;
    s.lines = 1;
    s.leds = leds;
    EXPECT_TRUE(program_pass(*usb_, *scanner_, s));
    EXPECT_TRUE(usb_->start());
    auto line = read_all(300 * s.width / 2400 * 6);
    wait_idle();
    return line;
  };
  // The grey ramp of the test chart lies at document y 1200..2400.
  const double ramp_steps = kScanOriginSteps + 900;
  const auto ramp = one_line(ramp_steps, true);
  const auto white = one_line(500, true);
  const auto dark = one_line(500, false);
  const uint32_t pixels = 300 * 18000 / 2400;
  int checked = 0;
  for (uint32_t p = 8; p < pixels; p += 37) {
    const double glass_x = 1200 - 128 + p * 8.0 + 4;  // pixel centre
    const Reflectance truth = scanner_->reflectance(glass_x, 2 * ramp_steps);
    const Reflectance lid = scanner_->reflectance(glass_x, 1000);
    const double edge_left = scanner_->reflectance(glass_x - 8, 2 * ramp_steps).green;
    const double edge_right = scanner_->reflectance(glass_x + 8, 2 * ramp_steps).green;
    if (edge_left != truth.green || edge_right != truth.green) continue;  // skip step edges
    for (int c = 0; c < 3; ++c) {
      const size_t i = c * pixels + p;
      const double measured = (sample16(ramp, i) - sample16(dark, i)) /
                              double(sample16(white, i) - sample16(dark, i));
      const double expected = (c == 0 ? truth.red : c == 1 ? truth.green : truth.blue) /
                              (c == 0 ? lid.red : c == 1 ? lid.green : lid.blue);
      EXPECT_NEAR(measured, expected, 0.01) << "pixel " << p << " channel " << c;
      ++checked;
    }
  }
  EXPECT_GT(checked, 100);
}

TEST_F(PassTest, CarriageTravelsAccelerationFeedLinesRunOutAndDeceleration) {
  make();
  PassSetup s;
  s.lines = 10;
  s.feed_steps = 100;
  s.accel_steps = 16;
  s.decel_steps = 8;
  s.width = 1200;
  ASSERT_TRUE(program_pass(*usb_, *scanner_, s));
  const double start = scanner_->carriage_steps();
  EXPECT_EQ(start, 0.0);
  ASSERT_TRUE(usb_->start());
  EXPECT_TRUE(scanner_->motor_running());
  EXPECT_EQ(usb_->must_read(0x41) & 0x41, 0x01);  // running, lines not finished
  read_all(s.lines * 150 * 6);
  for (int i = 0; i < 1000 && scanner_->motor_running(); ++i) clock_.sleep_ms(10);
  EXPECT_FALSE(scanner_->motor_running());
  EXPECT_EQ(usb_->must_read(0x41) & 0x41, 0x40);
  // First line after acceleration plus feed; 4 steps per line at 300 dpi.
  const auto rows = scanner_->pass_line_rows();
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_EQ(rows[0], 2 * (16 + 100));
  for (size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i] - rows[i - 1], 8);
  // Ten lines and the two run-out lines (six exposures) at 4 steps, then deceleration.
  EXPECT_DOUBLE_EQ(scanner_->carriage_steps(), 16 + 100 + 12 * 4 + 8);
  EXPECT_EQ(usb_->must_read(0x41) & 0x08, 0);  // not at home
}

TEST_F(PassTest, FastFeedDeceleratesOverTheFastFeedTable) {
  make();
  PassSetup s;
  s.lines = 10;
  s.feed_steps = 100;
  s.accel_steps = 16;
  s.decel_steps = 8;
  s.width = 1200;
  ASSERT_TRUE(program_pass(*usb_, *scanner_, s));
  std::vector<uint8_t> slope(2 * 256);
  ASSERT_TRUE(scanner_->peek_memory(0x10008000, slope.data(), 512));
  ASSERT_TRUE(usb_->write_memory(0x10010000, slope));  // slot 4: the same step time
  ASSERT_TRUE(usb_->write(0x5F, 3));                   // 24 steps
  ASSERT_TRUE(usb_->set_bits(0x02, 6, 6, 1));
  ASSERT_TRUE(usb_->start());
  read_all(s.lines * 150 * 6);
  wait_idle();
  // Acceleration, feed, ten lines and the run-out at 4 steps each, then slot 4.
  EXPECT_DOUBLE_EQ(scanner_->carriage_steps(), 16 + 100 + 12 * 4 + 24);
}

TEST_F(PassTest, AMotorPhaseOffTheLineClockIsReported) {
  make();
  PassSetup s;  // 16 + 10 steps of 15000 ticks (line period 20000, 4 steps a line)
  s.lines = 2;
  s.width = 1200;
  struct Case {
    uint32_t phase;
    int64_t error;
  };
  // The last feed step starts 25 x 15000 ticks after the strobe: 15000 into the
  // line clock's period of 3 x 20000.
  for (const Case c : {Case{15000, 0}, Case{15100, -100}, Case{14000, 1000}, Case{45000, 30000}}) {
    ASSERT_TRUE(program_pass(*usb_, *scanner_, s));
    ASSERT_TRUE(usb_->write24(0x63, c.phase));
    ASSERT_TRUE(usb_->start());
    read_all(s.lines * 150 * 6);
    wait_idle();
    ASSERT_TRUE(scanner_->motor_phase_error().has_value()) << c.phase;
    EXPECT_EQ(*scanner_->motor_phase_error(), c.error) << c.phase;
    ASSERT_TRUE(usb_->set_bits(0x01, 0, 0, 0));
  }
  // Phase 0 gives the chip nothing to check, nor does a pass without its motor.
  ASSERT_TRUE(program_pass(*usb_, *scanner_, s));
  ASSERT_TRUE(usb_->write24(0x63, 0));
  ASSERT_TRUE(usb_->start());
  read_all(s.lines * 150 * 6);
  wait_idle();
  EXPECT_FALSE(scanner_->motor_phase_error().has_value());
}

TEST_F(PassTest, MoveTowardsHomeStopsAtTheHomeSensor) {
  make();
  scanner_->set_carriage_steps(500);
  PassSetup s;
  s.toward_home = true;
  s.feed_steps = 5000;
  s.lines = 2;
  ASSERT_TRUE(program_pass(*usb_, *scanner_, s));
  ASSERT_TRUE(usb_->start());
  clock_.sleep_ms(1);
  const double early = scanner_->carriage_steps();
  EXPECT_GT(early, 0.0);
  EXPECT_EQ(usb_->must_read(0x41) & 0x09, 0x01);
  // 20000 * 3 ticks per step; 5000 steps would take 80 s, the 500 to home about 8 s.
  clock_.sleep_ms(9000);
  EXPECT_EQ(scanner_->carriage_steps(), 0.0);
  EXPECT_EQ(usb_->must_read(0x41) & 0x49, 0x48);  // home, stopped, finished
  EXPECT_EQ(scanner_->pass_lines(), 0u);
}

TEST_F(PassTest, FullBufferHoldsTheCarriageAndLosesNoLine) {
  Options o;
  o.buffer_bytes = 64 * 1024;
  make(o);
  PassSetup s;
  s.width = 7200;          // 900 pixels * 3 channels * 2 bytes = 5400 bytes a line
  s.lines = 40;
  ASSERT_TRUE(program_pass(*usb_, *scanner_, s));
  ASSERT_TRUE(usb_->start());
  clock_.sleep_ms(60000);
  EXPECT_TRUE(scanner_->carriage_paused());
  EXPECT_EQ(scanner_->pass_lines(), 12u);  // 64 KiB holds 12 lines of 5400 bytes
  const double held = scanner_->carriage_steps();
  clock_.sleep_ms(60000);
  EXPECT_EQ(scanner_->carriage_steps(), held);
  const auto data = read_all(40 * 5400);
  EXPECT_EQ(data.size(), 40u * 5400);
  EXPECT_EQ(scanner_->pass_lines(), 40u);
  const auto rows = scanner_->pass_line_rows();
  ASSERT_EQ(rows.size(), 40u);
  for (size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i] - rows[i - 1], 8) << i;
}

TEST_F(PassTest, CounterCoversEveryByteForBothReadersIncludingThePartialUnit) {
  make();
  PassSetup s;
  s.depth = 8;            // grey, 8-bit
  s.width = 2408;         // 301 pixels: widened to an even 302 by the driver; here 301
  s.lines = 5;
  s.motor = false;
  ASSERT_TRUE(program_pass(*usb_, *scanner_, s));
  ASSERT_TRUE(usb_->start());
  clock_.sleep_ms(5000);
  const uint32_t total = 5 * 301;
  EXPECT_EQ(usb_->buffered(), (total + 3) / 4 * 4);  // the last partial unit padded
  // The calibration reader takes counter * 2 at a time, up to what it needs.
  std::vector<uint8_t> all;
  while (all.size() < total) {
    const uint32_t units = usb_->read_be(0x42, 4);
    const uint32_t chunk = std::min<uint32_t>(units * 2, total - uint32_t(all.size()));
    ASSERT_GT(chunk, 0u);
    std::vector<uint8_t> part;
    ASSERT_TRUE(usb_->read_bulk(0x10000000, chunk, part));
    all.insert(all.end(), part.begin(), part.end());
  }
  EXPECT_EQ(all.size(), total);
  // What is left is the fill of the last unit, which was read in part: the unit
  // stays counted until all of it is read.
  EXPECT_EQ(usb_->read_be(0x42, 4), 1u);
  EXPECT_EQ(scanner_->buffered_bytes(), 3u);
  std::vector<uint8_t> fill;
  ASSERT_TRUE(usb_->read_bulk(0x10000000, 3, fill));
  EXPECT_EQ(fill, std::vector<uint8_t>(3, 0));
}

// A pass of 2 mod 4 bytes whose end comes when the host has read 0, 1, 2 or 3
// bytes of a word: the counter announces every byte, whichever reader takes the
// rest (the calibration reader takes the counter * 2 bytes, the image reader
// the counter * 4, each up to what it needs), and the fill ends the stream on a
// whole word.
TEST_F(PassTest, ThePassEndIsAnnouncedWhateverPartOfAWordTheHostHasRead) {
  const uint32_t total = 6 * 301;  // 1806 bytes: 2 mod 4
  for (const uint32_t units_read : {2u, 4u}) {
    for (uint32_t phase = 0; phase < 4; ++phase) {
      SCOPED_TRACE("units of " + std::to_string(units_read) + " bytes, " + std::to_string(phase) +
                   " bytes of a word read when the pass ends");
      make();
      PassSetup s;
      s.depth = 8;
      s.width = 2408;  // 301 pixels
      s.lines = 6;
      s.motor = false;
      ASSERT_TRUE(program_pass(*usb_, *scanner_, s));
      ASSERT_TRUE(usb_->start());
      // The first line in, a part of it read, then the pass to its end.
      for (int i = 0; i < 1000 && scanner_->pass_lines() == 0; ++i) clock_.sleep_ms(1);
      ASSERT_EQ(scanner_->pass_lines(), 1u);
      std::vector<uint8_t> first;
      const uint32_t early = 100 + phase;
      ASSERT_TRUE(usb_->read_bulk(0x10000000, early, first));
      clock_.sleep_ms(5000);
      ASSERT_EQ(scanner_->pass_lines(), 6u);
      uint32_t got = early;
      for (int polls = 0; got < total && polls < 100; ++polls) {
        const uint32_t units = usb_->read_be(0x42, 4);
        const uint32_t chunk = std::min<uint32_t>(units * units_read, total - got);
        if (chunk == 0) break;  // the counter announces nothing more
        std::vector<uint8_t> part;
        ASSERT_TRUE(usb_->read_bulk(0x10000000, chunk, part));
        got += chunk;
      }
      EXPECT_EQ(got, total);
      // What is left is the fill, which ends the stream on a whole word.
      EXPECT_LT(scanner_->buffered_bytes(), 4u);
      EXPECT_EQ((got + scanner_->buffered_bytes()) % 4, 0u);
    }
  }
}

TEST_F(PassTest, ClearingScanEnableStopsLinesAndTheMotor) {
  make();
  PassSetup s;
  s.lines = 1000;
  s.feed_steps = 4;
  ASSERT_TRUE(program_pass(*usb_, *scanner_, s));
  ASSERT_TRUE(usb_->start());
  clock_.sleep_ms(2000);
  ASSERT_TRUE(usb_->set_bits(0x01, 0, 0, 0));
  const uint32_t taken = scanner_->pass_lines();
  clock_.sleep_ms(10000);
  EXPECT_EQ(scanner_->pass_lines(), taken);
  EXPECT_FALSE(scanner_->motor_running());
  EXPECT_EQ(usb_->must_read(0x41) & 0x40, 0x40);
  EXPECT_EQ(usb_->buffered(), scanner_->buffered_bytes());
}

}  // namespace
}  // namespace qrx::emu::test
