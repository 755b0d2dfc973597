// The line assembly through a real ring: synthetic raw lines in, the caller's
// pixels out, for the layouts that need different handling (window placed by the
// scanner, segmented full-width lines with 48-bit gamma, the 2 x 2 and 4 x 4
// reductions, grey taken from colour at 8 and 16 bits), and the
// ways a line cannot be had: reader failed, reader done without the line, a silent
// scanner, no work memory.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "imaging/direct_read.h"
#include "imaging/line_assembly.h"
#include "qrx7730.h"
#include "read_path_fixture.h"

namespace qrx::test {
namespace {

using imaging::direct_read;
using imaging::ReadOutcome;

uint32_t out_sample(const std::vector<uint8_t>& out, size_t index, uint32_t sample_bytes) {
  return sample_at(out, static_cast<uint32_t>(index), sample_bytes);
}

TEST_F(ReadPathTest, ColourBelow1200CutsTheLeadInAndInterleaves) {
  // 600 dpi, window 1200 units wide: 300 pixels; the read is 1328 units, 332 pixels,
  // the first 32 of them lead-in.
  scan(600, 600, 24, 3, 400, 1200, 332, 900, 3);
  push_lines(0, 3);
  ended_reader(1);
  std::vector<uint8_t> out(2 * 900);
  const ReadOutcome two = direct_read(context, values, out.data(), 1800);
  ASSERT_EQ(two.status, QRX_OK);
  for (uint32_t l = 0; l < 2; ++l) {
    for (uint32_t j = 0; j < 300; ++j) {
      for (uint32_t c = 0; c < 3; ++c) {
        ASSERT_EQ(out[l * 900 + 3 * j + c], raw_sample(c, l, 32 + j, 1)) << l << " " << j;
      }
    }
  }
  EXPECT_EQ(context.lines_to_read.load(), 1u);
  EXPECT_EQ(values.line_count, 1u);
  EXPECT_EQ(direct_read(context, values, out.data(), 1800).status, QRX_E_READ_PAST_END);
  EXPECT_EQ(ring->used(), context.read_line_bytes) << "a refused read takes nothing";
  EXPECT_EQ(direct_read(context, values, out.data(), 900).status, QRX_OK);
  EXPECT_EQ(values.line_count, 0u);
}

TEST_F(ReadPathTest, SegmentedLinesComeOutInPixelOrderThroughTheGammaTables) {
  for (uint32_t c = 0; c < 3; ++c) {
    for (uint32_t i = 0; i < 65536; ++i) {
      context.gamma_table[c][i] = static_cast<uint16_t>(i * 3 + c * 1000 + 17);
    }
  }
  struct Case {
    uint16_t resolution;
    uint8_t variant;
    uint32_t lead;  // pixels of lead-in at this resolution and board variant
  };
  for (const Case k : {Case{1200, 0, 64}, Case{2400, 1, 112}}) {
    SCOPED_TRACE(k.resolution);
    const uint32_t unit = 2400 / k.resolution;
    context.board_variant = k.variant;
    // Window from x = 2400 units, 800 units wide; the read is the whole sensor.
    const uint32_t pixels = 800 / unit;
    scan(k.resolution, k.resolution, 48, 3, 2400, 800, 20544 / unit, pixels * 6, 2);
    push_lines(0, 2);
    ended_reader(1);
    std::vector<uint8_t> out(2 * pixels * 6);
    ASSERT_EQ(direct_read(context, values, out.data(), 2 * pixels * 6).status, QRX_OK);
    for (uint32_t l = 0; l < 2; ++l) {
      for (uint32_t j = 0; j < pixels; ++j) {
        for (uint32_t c = 0; c < 3; ++c) {
          const uint32_t raw = raw_sample(c, l, 2400 / unit + k.lead + j, 2);
          ASSERT_EQ(out_sample(out, (l * pixels + j) * 3 + c, 2), (raw * 3 + c * 1000 + 17) % 65536)
              << l << " " << j << " " << c;
        }
      }
    }
    EXPECT_EQ(ring->used(), 0u);
  }
}

TEST_F(ReadPathTest, ReducedLinesAreMeansOfTwoByTwoOrFourByFourRawSamples) {
  // 75 dpi read at 150: the read line holds twice the 75 dpi pixels of the 768-unit
  // read (2 x 24), every output line takes two raw lines, lead-in 4 pixels at 75.
  scan(150, 75, 24, 3, 0, 640, 48, 60, 4);
  push_lines(0, 4);
  ended_reader(1);
  std::vector<uint8_t> out(120);
  ASSERT_EQ(direct_read(context, values, out.data(), 120).status, QRX_OK);
  EXPECT_EQ(context.lines_to_read.load(), 0u);
  for (uint32_t l = 0; l < 2; ++l) {
    for (uint32_t j = 0; j < 20; ++j) {
      for (uint32_t c = 0; c < 3; ++c) {
        const uint32_t p = 2 * (4 + j);
        const uint32_t sum = raw_sample(c, 2 * l, p, 1) + raw_sample(c, 2 * l, p + 1, 1) +
                             raw_sample(c, 2 * l + 1, p, 1) + raw_sample(c, 2 * l + 1, p + 1, 1);
        ASSERT_EQ(out[l * 60 + 3 * j + c], sum / 4) << l << " " << j << " " << c;
      }
    }
  }

  // 75 dpi from an oversampled 300 dpi read, 48-bit: 96 raw pixels per block make 24,
  // four raw lines per output line.
  context.low_res_oversample = 1;
  scan(300, 75, 48, 3, 0, 640, 96, 120, 4);
  push_lines(10, 4);
  std::vector<uint8_t> out48(120);
  ASSERT_EQ(direct_read(context, values, out48.data(), 120).status, QRX_OK);
  for (uint32_t j = 0; j < 20; ++j) {
    for (uint32_t c = 0; c < 3; ++c) {
      uint32_t sum = 0;
      for (uint32_t l = 10; l < 14; ++l) {
        for (uint32_t p = 4 * (4 + j); p < 4 * (5 + j); ++p) sum += raw_sample(c, l, p, 2);
      }
      ASSERT_EQ(out_sample(out48, 3 * j + c, 2), sum / 16) << j << " " << c;
    }
  }
  EXPECT_EQ(context.lines_to_read.load(), 0u);
}

TEST_F(ReadPathTest, EachDirectionIsReducedOnItsOwnFromTheWindowsFirstPixel) {
  // Board variant 1 reads 112 units of lead-in: 7 pixels at 150 dpi, three and a
  // half at 75, 14 at 300.
  context.board_variant = 1;
  // 75 dpi across read at 150, 150 down as asked: one raw line an output line, its
  // pixels the means of raw pixels 7 + 2j and 8 + 2j (640 + 112 units: 47 pixels,
  // widened to 48 for the read).
  scan(150, 75, 24, 3, 0, 640, 48, 60, 2);
  context.scan_y_res = context.output_y_res = 150;
  push_lines(0, 2);
  ended_reader(1);
  std::vector<uint8_t> out(120);
  ASSERT_EQ(direct_read(context, values, out.data(), 120).status, QRX_OK);
  EXPECT_EQ(context.lines_to_read.load(), 0u);
  for (uint32_t l = 0; l < 2; ++l) {
    for (uint32_t j = 0; j < 20; ++j) {
      for (uint32_t c = 0; c < 3; ++c) {
        const uint32_t sum = raw_sample(c, l, 7 + 2 * j, 1) + raw_sample(c, l, 8 + 2 * j, 1);
        ASSERT_EQ(out[l * 60 + 3 * j + c], sum / 2) << l << " " << j << " " << c;
      }
    }
  }
  // 300 dpi across as asked, 75 down read at 150: two raw lines an output line,
  // each pixel the mean of the same pixel in both, from raw pixel 14 on.
  scan(300, 300, 24, 3, 0, 640, 94, 240, 4);
  context.scan_y_res = 150;
  context.output_y_res = 75;
  push_lines(20, 4);
  std::vector<uint8_t> down(480);
  ASSERT_EQ(direct_read(context, values, down.data(), 480).status, QRX_OK);
  EXPECT_EQ(context.lines_to_read.load(), 0u);
  for (uint32_t l = 0; l < 2; ++l) {
    for (uint32_t j = 0; j < 80; ++j) {
      for (uint32_t c = 0; c < 3; ++c) {
        const uint32_t sum =
            raw_sample(c, 20 + 2 * l, 14 + j, 1) + raw_sample(c, 21 + 2 * l, 14 + j, 1);
        ASSERT_EQ(down[l * 240 + 3 * j + c], sum / 2) << l << " " << j << " " << c;
      }
    }
  }
  EXPECT_EQ(direct_read(context, values, down.data(), 240).status, QRX_E_READ_PAST_END)
      << "a third line would need two more raw lines";
}

TEST_F(ReadPathTest, GreyReadAsColourDeliversTheGreenChannel) {
  for (uint32_t i = 0; i < 256; ++i)
    context.expand_table[1][i] = static_cast<uint16_t>(i * 251 + 3);
  for (uint32_t i = 0; i < 65536; ++i) context.gamma_table[1][i] = static_cast<uint16_t>(~i);
  // 8-bit grey at 150 dpi read as 24-bit colour, delivered with 16-bit samples:
  // 40 pixels of the green block widened through the green expansion curve.
  context.gray_from_color = 1;
  values.wide_samples = 1;
  scan(150, 150, 24, 3, 0, 640, 48, 80, 1);
  push_lines(0, 1);
  ended_reader(1);
  std::vector<uint8_t> out(80);
  ASSERT_EQ(direct_read(context, values, out.data(), 80).status, QRX_OK);
  for (uint32_t j = 0; j < 40; ++j) {
    ASSERT_EQ(out_sample(out, j, 2), raw_sample(1, 0, 8 + j, 1) * 251 + 3) << j;
  }

  // 16-bit grey read as 48-bit colour: two bytes per pixel, through the green table.
  values.wide_samples = 0;
  scan(300, 300, 48, 3, 0, 640, 96, 160, 1);
  push_lines(5, 1);
  std::vector<uint8_t> out16(160);
  ASSERT_EQ(direct_read(context, values, out16.data(), 160).status, QRX_OK);
  for (uint32_t j = 0; j < 80; ++j) {
    ASSERT_EQ(out_sample(out16, j, 2), 65535 - raw_sample(1, 5, 16 + j, 2)) << j;
  }
}

TEST_F(ReadPathTest, AFailedReaderOrOneThatEndedWithoutTheLineFailsAtOnce) {
  for (const uint32_t code : {0u, 1u}) {
    SCOPED_TRACE(code);
    scan(600, 600, 8, 1, 0, 64, 48, 16, 2);
    push_lines(0, 1);
    ended_reader(code);
    std::vector<uint8_t> out(32);
    const uint64_t sleeps = clock.sleeps();
    const ReadOutcome outcome = direct_read(context, values, out.data(), 32);
    EXPECT_EQ(outcome.status, QRX_E_LINE_ASSEMBLY);
    EXPECT_TRUE(outcome.cancel_scan);
    EXPECT_EQ(clock.sleeps(), sleeps) << "no polling for data that cannot come";
    EXPECT_EQ(values.line_count, 2u);
    // The first line was delivered before the second failed.
    for (uint32_t j = 0; j < 16; ++j) ASSERT_EQ(out[j], raw_sample(0, 0, 32 + j, 1));
  }
}

TEST_F(ReadPathTest, ASilentScannerIsGivenUpAfterThirtySecondsWithoutProgress) {
  scan(600, 600, 8, 1, 0, 64, 48, 16, 2);
  running_reader();
  std::vector<uint8_t> out(16);
  const uint64_t start = clock.now_us();
  const ReadOutcome outcome = direct_read(context, values, out.data(), 16);
  EXPECT_EQ(outcome.status, QRX_E_LINE_ASSEMBLY);
  EXPECT_TRUE(outcome.cancel_scan);
  const uint64_t waited_ms = (clock.now_us() - start) / 1000;
  EXPECT_GE(waited_ms, imaging::kDataSilenceMs);
  EXPECT_LT(waited_ms, imaging::kDataSilenceMs + 1000);
}

// A clock on which the scanner delivers one byte of the line every 20 s: each sleep
// moves time on and, when another 20 s have passed, adds the next byte to the ring.
class TricklingClock final : public platform::Clock {
 public:
  TricklingClock(imaging::ImageRing& ring, std::vector<uint8_t> line)
      : ring_(ring), line_(std::move(line)) {}
  uint64_t now_us() override { return now_us_; }
  void sleep_ms(uint32_t ms) override {
    now_us_ += uint64_t{ms} * 1000;
    if (now_us_ - last_us_ >= 20'000'000 && written_ < line_.size()) {
      ASSERT_TRUE(ring_.write(&line_[written_++], 1));
      last_us_ = now_us_;
    }
  }

 private:
  imaging::ImageRing& ring_;
  std::vector<uint8_t> line_;
  size_t written_ = 0;
  uint64_t now_us_ = 1'000'000;
  uint64_t last_us_ = 1'000'000;
};

TEST_F(ReadPathTest, AScannerThatKeepsDeliveringIsWaitedForHoweverSlow) {
  // The 48-byte line takes 16 minutes, but never 30 s without progress.
  scan(600, 600, 8, 1, 0, 64, 48, 16, 1);
  running_reader();
  TricklingClock trickle(*ring, raw_line(layout, 0));
  platform::ScopedClock use_trickle(trickle);
  std::vector<uint8_t> out(16);
  ASSERT_EQ(direct_read(context, values, out.data(), 16).status, QRX_OK);
  EXPECT_EQ(trickle.now_us(), 1'000'000 + 48ull * 20'000'000);
  for (uint32_t j = 0; j < 16; ++j) ASSERT_EQ(out[j], raw_sample(0, 0, 32 + j, 1));
}

TEST_F(ReadPathTest, NoWorkMemoryFailsTheLineWithoutTouchingTheScan) {
  scan(150, 75, 24, 3, 0, 640, 48, 60, 2);
  push_lines(0, 2);
  ended_reader(1);
  std::vector<uint8_t> out(60);
  // The two work buffers of a reduced line, one after the other.
  for (long n = 0; n < 2; ++n) {
    std::vector<uint8_t>().swap(context.read_wrap);
    std::vector<uint8_t>().swap(context.read_reduced);
    platform::fail_allocation_after(n);
    const ReadOutcome outcome = direct_read(context, values, out.data(), 60);
    EXPECT_EQ(outcome.status, QRX_E_LINE_ASSEMBLY) << n;
    EXPECT_FALSE(outcome.cancel_scan) << "nothing was taken: the scan can go on";
    EXPECT_EQ(ring->used(), 2 * context.read_line_bytes);
    EXPECT_EQ(context.lines_to_read.load(), 2u);
  }
  platform::fail_allocation_after(-1);
  EXPECT_EQ(direct_read(context, values, out.data(), 60).status, QRX_OK);
}

}  // namespace
}  // namespace qrx::test
