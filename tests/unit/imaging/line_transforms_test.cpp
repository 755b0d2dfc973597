// The line transforms on small lines worked out by hand: segment order at 1200,
// 2400 and 4800 dpi, the crop lead-in, the fourth channel and the film black
// offset, the sample tables, box reduction (2 x 2 and the 4 x 4 mean) and the
// half-resolution widening.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imaging/line_transforms.h"

namespace qrx::imaging {
namespace {

std::vector<uint8_t> bytes16(const std::vector<uint16_t>& samples) {
  std::vector<uint8_t> out(samples.size() * 2);
  std::memcpy(out.data(), samples.data(), out.size());
  return out;
}
std::vector<uint16_t> samples16(const std::vector<uint8_t>& bytes) {
  std::vector<uint16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

// The whole of each block, nothing done to the samples.
bool deliver_all(const std::vector<uint8_t>& line, uint32_t channels, uint32_t sample_bytes,
                 uint32_t k, std::vector<uint8_t>& out, const Delivery& delivery = {}) {
  const uint32_t n = static_cast<uint32_t>(line.size()) / sample_bytes / channels;
  const RawLine raw{line.data(), static_cast<uint32_t>(line.size()), channels, sample_bytes, k};
  return deliver_window(raw, CropSpan{0, n}, delivery, out.data());
}

TEST(LineTransformsTest, SegmentsComeBackInPixelOrder) {
  // 2400 dpi, k = 4: a block delivered as 0 4 8 12 | 2 6 10 14 | 1 5 9 13 | 3 7 11 15.
  const std::vector<uint8_t> k4 = {0, 4, 8, 12, 2, 6, 10, 14, 1, 5, 9, 13, 3, 7, 11, 15};
  std::vector<uint8_t> out(16, 0xEE);
  ASSERT_TRUE(deliver_all(k4, 1, 1, 4, out));
  for (uint8_t i = 0; i < 16; ++i) EXPECT_EQ(out[i], i);

  // 1200 dpi, k = 2: a block delivered as 0 2 4 6 | 1 3 5 7.
  std::vector<uint8_t> out2(8);
  ASSERT_TRUE(deliver_all({0, 2, 4, 6, 1, 3, 5, 7}, 1, 1, 2, out2));
  EXPECT_EQ(out2, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7}));

  // 4800 dpi, k = 8: sub-block b holds the pixels of phase 0 4 1 5 2 6 3 7; a window
  // from pixel 5 (inside a group) over 22 pixels.
  const uint32_t phase[8] = {0, 4, 1, 5, 2, 6, 3, 7};
  std::vector<uint8_t> k8(32);
  for (uint32_t b = 0; b < 8; ++b) {
    for (uint32_t q = 0; q < 4; ++q) k8[b * 4 + q] = static_cast<uint8_t>(q * 8 + phase[b]);
  }
  std::vector<uint8_t> out8(22);
  ASSERT_TRUE(deliver_window(RawLine{k8.data(), 32, 1, 1, 8}, CropSpan{5, 22}, {}, out8.data()));
  for (uint8_t i = 0; i < 22; ++i) EXPECT_EQ(out8[i], 5 + i);

  std::vector<uint8_t> untouched(16, 0xEE);
  EXPECT_FALSE(deliver_all(k4, 1, 1, 3, untouched));
  EXPECT_EQ(untouched, std::vector<uint8_t>(16, 0xEE));
}

TEST(LineTransformsTest, TheCropSkipsTheLeadInOfEveryChannelBlock) {
  // 75 dpi: unit 32, lead-in 4 pixels (3 with board variant 1).
  const CropSpan span = crop_span(0, 320, 75, 0);
  EXPECT_EQ(span.first, 4u);
  EXPECT_EQ(span.count, 10u);
  EXPECT_EQ(crop_span(0, 320, 75, 1).first, 3u);
  // 2400 dpi from window x 1000: 1000 + 128 (or 112).
  EXPECT_EQ(crop_span(1000, 64, 2400, 0).first, 1128u);
  EXPECT_EQ(crop_span(1000, 64, 2400, 1).first, 1112u);
  EXPECT_EQ(crop_span(0, 64, 4800, 0).count, 0u) << "no rule above the sensor's resolution";

  // Three blocks of 40 samples, sample value = 50 * channel + position: 32 pixels
  // (two groups of 16 and the rest one by one) from each block, interleaved.
  std::vector<uint8_t> line(120);
  for (uint32_t i = 0; i < 120; ++i) line[i] = static_cast<uint8_t>(50 * (i / 40) + i % 40);
  std::vector<uint8_t> out(3 * 35);
  const RawLine raw{line.data(), 120, 3, 1, 1};
  ASSERT_TRUE(deliver_window(raw, CropSpan{4, 35}, {}, out.data()));
  for (uint32_t j = 0; j < 35; ++j) {
    for (uint32_t c = 0; c < 3; ++c) ASSERT_EQ(out[3 * j + c], 50 * c + 4 + j) << j;
  }
  // A window reaching past the blocks is refused, not read beyond the line.
  EXPECT_FALSE(deliver_window(raw, CropSpan{7, 34}, {}, out.data()));
  // Grey from colour: the green block alone.
  std::vector<uint8_t> green(10);
  Delivery from_colour;
  from_colour.green_only = true;
  ASSERT_TRUE(deliver_window(raw, CropSpan{4, 10}, from_colour, green.data()));
  for (uint32_t j = 0; j < 10; ++j) EXPECT_EQ(green[j], 54 + j);
}

TEST(LineTransformsTest, AFourthChannelIsDroppedAndFilmLosesItsBlackLevel) {
  const std::vector<uint8_t> planar = {1, 2, 11, 12, 21, 22, 31, 32};
  std::vector<uint8_t> out(6);
  ASSERT_TRUE(deliver_all(planar, 4, 1, 1, out));
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 11, 21, 2, 12, 22}));

  const std::vector<uint16_t> film = {0, 512, 640, 641, 513, 65535};
  std::vector<uint8_t> film_out(12);
  Delivery d;
  d.level = SampleLevel{true, 0};
  ASSERT_TRUE(deliver_all(bytes16(film), 1, 2, 1, film_out, d));
  EXPECT_EQ(samples16(film_out), (std::vector<uint16_t>{128, 128, 128, 129, 128, 65023}));
  d.level = SampleLevel{true, 3};
  ASSERT_TRUE(deliver_all(bytes16(film), 1, 2, 1, film_out, d));
  EXPECT_EQ(samples16(film_out), (std::vector<uint16_t>{256, 256, 128, 129, 1, 65023}));
  d.level = SampleLevel{false, 3};
  ASSERT_TRUE(deliver_all(bytes16(film), 1, 2, 1, film_out, d));
  EXPECT_EQ(samples16(film_out), film) << "the flatbed light passes samples unchanged";
}

TEST(LineTransformsTest, BoxReductionTakesTheMeansOfEachDirectionsFactor) {
  // Two lines 1 2 3 4 and 5 6 7 8: (1 + 2 + 5 + 6) / 4 = 3, (3 + 4 + 7 + 8) / 4 = 5.
  const std::vector<uint8_t> two = {1, 2, 3, 4, 5, 6, 7, 8};
  std::vector<uint8_t> out(2);
  EXPECT_EQ(box_reduce({two.data(), 4, 1, 1}, {2, 2}, 0, out.data()), 2u);
  EXPECT_EQ(out, (std::vector<uint8_t>{3, 5}));
  // Only down: each sample with the one below, (1 + 5) / 2 = 3 ... (4 + 8) / 2 = 6.
  std::vector<uint8_t> down(4);
  EXPECT_EQ(box_reduce({two.data(), 4, 1, 1}, {1, 2}, 0, down.data()), 4u);
  EXPECT_EQ(down, (std::vector<uint8_t>{3, 4, 5, 6}));
  // Only across, from the first sample after a lead-in of 1 in each of two channel
  // blocks 10 11 12 13 14 and 20 21 22 23 24: (11 + 12) / 2, (13 + 14) / 2 and so on.
  const std::vector<uint8_t> blocks = {10, 11, 12, 13, 14, 20, 21, 22, 23, 24};
  std::vector<uint8_t> across(4);
  EXPECT_EQ(box_reduce({blocks.data(), 10, 2, 1}, {2, 1}, 1, across.data()), 4u);
  EXPECT_EQ(across, (std::vector<uint8_t>{11, 13, 21, 23}));
  EXPECT_EQ(box_reduce({blocks.data(), 10, 2, 1}, {3, 1}, 0, across.data()), 0u) << "no factor 3";

  // Factor 4, 16-bit, two channel blocks of 6 samples in each of four lines: each
  // block gives one sample (its last two are dropped), the mean of 16 samples.
  std::vector<uint16_t> lines(4 * 12);
  for (uint32_t l = 0; l < 4; ++l) {
    for (uint32_t i = 0; i < 12; ++i) lines[l * 12 + i] = static_cast<uint16_t>(1000 * l + 10 * i);
  }
  // Channel 0: samples 0..3 of lines 0..3 sum to 4 * (0+10+20+30) + 4 * 1000 * (0+1+2+3)
  // = 24240, mean 1515. Channel 1 starts at sample 6: 24240 + 16 * 60 = 25200, mean 1575.
  std::vector<uint8_t> reduced(4, 0xEE);
  EXPECT_EQ(box_reduce({bytes16(lines).data(), 24, 2, 2}, {4, 4}, 0, reduced.data()), 4u);
  EXPECT_EQ(samples16(reduced), (std::vector<uint16_t>{1515, 1575}));
}

TEST(LineTransformsTest, HalfResolutionWideningInterpolatesAndRepeatsTheLastPixel) {
  const std::vector<uint8_t> grey = {10, 20, 31};
  std::vector<uint8_t> out(6);
  ASSERT_TRUE(widen_half_resolution(grey.data(), 3, 8, out.data()));
  EXPECT_EQ(out, (std::vector<uint8_t>{10, 15, 20, 25, 31, 31}));

  // One 48-bit pixel is duplicated; two pixels get their per-sample mean between.
  const std::vector<uint16_t> one = {100, 200, 65535};
  std::vector<uint8_t> out48(12);
  ASSERT_TRUE(widen_half_resolution(bytes16(one).data(), 6, 48, out48.data()));
  EXPECT_EQ(samples16(out48), (std::vector<uint16_t>{100, 200, 65535, 100, 200, 65535}));
  const std::vector<uint16_t> two = {65535, 0, 7, 65533, 10, 8};
  std::vector<uint8_t> out2(24);
  ASSERT_TRUE(widen_half_resolution(bytes16(two).data(), 12, 48, out2.data()));
  EXPECT_EQ(samples16(out2),
            (std::vector<uint16_t>{65535, 0, 7, 65534, 5, 7, 65533, 10, 8, 65533, 10, 8}));
  EXPECT_FALSE(widen_half_resolution(grey.data(), 3, 32, out.data()));
}

TEST(LineTransformsTest, WideningTakesEachChannelsOwnCurveAndGreyTheGreenOne) {
  std::vector<uint16_t> t8[3];
  for (uint32_t c = 0; c < 3; ++c) {
    for (uint32_t i = 0; i < 256; ++i) t8[c].push_back(static_cast<uint16_t>(i * 256 + c));
  }
  const ChannelTables tables = {t8[0].data(), t8[1].data(), t8[2].data()};
  Delivery expand;
  expand.expand = &tables;
  std::vector<uint8_t> wide(12);
  ASSERT_TRUE(deliver_all({1, 250, 2, 251, 3, 252}, 3, 1, 1, wide, expand));
  EXPECT_EQ(samples16(wide), (std::vector<uint16_t>{256, 513, 770, 64000, 64257, 64514}));
  std::vector<uint8_t> grey(4);
  ASSERT_TRUE(deliver_all({7, 9}, 1, 1, 1, grey, expand));
  EXPECT_EQ(samples16(grey), (std::vector<uint16_t>{1793, 2305}));
}

}  // namespace
}  // namespace qrx::imaging
