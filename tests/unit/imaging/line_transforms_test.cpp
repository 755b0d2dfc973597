// The line transforms on small lines worked out by hand: segment order at 1200,
// 2400 and 4800 dpi, the crop lead-in, the film black offset, box reduction (2 x 2
// and the 4 x 4 mean), both widenings, and 16-bit table mapping in place.
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

TEST(LineTransformsTest, SegmentsComeBackInPixelOrder) {
  // 2400 dpi, k = 4: a block delivered as 0 4 8 12 | 2 6 10 14 | 1 5 9 13 | 3 7 11 15.
  const std::vector<uint8_t> k4 = {0, 4, 8, 12, 2, 6, 10, 14, 1, 5, 9, 13, 3, 7, 11, 15};
  std::vector<uint8_t> out(16, 0xEE);
  ASSERT_TRUE(deinterleave_segments(k4.data(), 16, 4, 1, 1, out.data()));
  for (uint8_t i = 0; i < 16; ++i) EXPECT_EQ(out[i], i);

  // 1200 dpi, k = 2, 16-bit, two channel blocks (the second offset by 100).
  const std::vector<uint16_t> k2 = {0, 2, 4, 6, 1, 3, 5, 7, 100, 102, 104, 106, 101, 103, 105, 107};
  std::vector<uint8_t> out2(32);
  ASSERT_TRUE(deinterleave_segments(bytes16(k2).data(), 32, 2, 2, 2, out2.data()));
  const std::vector<uint16_t> got = samples16(out2);
  for (uint16_t i = 0; i < 8; ++i) {
    EXPECT_EQ(got[i], i);
    EXPECT_EQ(got[8 + i], 100 + i);
  }

  // 4800 dpi, k = 8: sub-block b holds the pixels of phase 0 4 1 5 2 6 3 7.
  const uint32_t phase[8] = {0, 4, 1, 5, 2, 6, 3, 7};
  std::vector<uint8_t> k8(32);
  for (uint32_t b = 0; b < 8; ++b) {
    for (uint32_t q = 0; q < 4; ++q) k8[b * 4 + q] = static_cast<uint8_t>(q * 8 + phase[b]);
  }
  std::vector<uint8_t> out8(32);
  ASSERT_TRUE(deinterleave_segments(k8.data(), 32, 8, 1, 1, out8.data()));
  for (uint8_t i = 0; i < 32; ++i) EXPECT_EQ(out8[i], i);

  std::vector<uint8_t> untouched(16, 0xEE);
  EXPECT_FALSE(deinterleave_segments(k4.data(), 16, 3, 1, 1, untouched.data()));
  EXPECT_EQ(untouched, std::vector<uint8_t>(16, 0xEE));
}

TEST(LineTransformsTest, TheCropSkipsTheLeadInOfEveryChannelBlock) {
  // 75 dpi: unit 32, lead-in 4 pixels (3 with board variant 1).
  CropSpan span = crop_span(0, 320, 75, 0);
  EXPECT_EQ(span.first, 4u);
  EXPECT_EQ(span.count, 10u);
  EXPECT_EQ(crop_span(0, 320, 75, 1).first, 3u);
  // 2400 dpi from window x 1000: 1000 + 128 (or 112).
  EXPECT_EQ(crop_span(1000, 64, 2400, 0).first, 1128u);
  EXPECT_EQ(crop_span(1000, 64, 2400, 1).first, 1112u);
  EXPECT_EQ(crop_span(0, 64, 4800, 0).count, 0u) << "no rule above the sensor's resolution";

  // Three blocks of 16 samples, sample value = 50 * channel + position.
  std::vector<uint8_t> line(48);
  for (uint32_t i = 0; i < 48; ++i) line[i] = static_cast<uint8_t>(50 * (i / 16) + i % 16);
  std::vector<uint8_t> out(30);
  ASSERT_TRUE(crop_window(line.data(), 48, span, 3, 1, out.data()));
  for (uint32_t c = 0; c < 3; ++c) {
    for (uint32_t j = 0; j < 10; ++j) EXPECT_EQ(out[c * 10 + j], 50 * c + 4 + j);
  }
  // A window reaching past the blocks is refused, not read beyond the line.
  EXPECT_FALSE(crop_window(line.data(), 48, CropSpan{7, 10}, 3, 1, out.data()));
}

TEST(LineTransformsTest, InterleaveKeepsThreeChannelsAndTakesFilmBlackOff) {
  // Four planar blocks of two 8-bit pixels: R G B interleaved, infrared dropped.
  const std::vector<uint8_t> planar = {1, 2, 11, 12, 21, 22, 31, 32};
  std::vector<uint8_t> out(6);
  interleave_channels(planar.data(), 2, 4, 1, SampleLevel{}, out.data());
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 11, 21, 2, 12, 22}));

  const std::vector<uint16_t> film = {0, 512, 640, 641, 513, 65535};
  std::vector<uint8_t> film_out(12);
  interleave_channels(bytes16(film).data(), 6, 1, 2, SampleLevel{true, 0}, film_out.data());
  EXPECT_EQ(samples16(film_out), (std::vector<uint16_t>{128, 128, 128, 129, 128, 65023}));
  interleave_channels(bytes16(film).data(), 6, 1, 2, SampleLevel{true, 3}, film_out.data());
  EXPECT_EQ(samples16(film_out), (std::vector<uint16_t>{256, 256, 128, 129, 1, 65023}));
  interleave_channels(bytes16(film).data(), 6, 1, 2, SampleLevel{false, 3}, film_out.data());
  EXPECT_EQ(samples16(film_out), film) << "the flatbed light passes samples unchanged";
}

TEST(LineTransformsTest, BoxReductionTakesTheTwoByTwoAndFourByFourMeans) {
  // Two lines 1 2 3 4 and 5 6 7 8: (1 + 2 + 5 + 6) / 4 = 3, (3 + 4 + 7 + 8) / 4 = 5.
  const std::vector<uint8_t> two = {1, 2, 3, 4, 5, 6, 7, 8};
  std::vector<uint8_t> out(2);
  EXPECT_EQ(box_reduce(two.data(), 4, 2, 1, 1, out.data()), 2u);
  EXPECT_EQ(out, (std::vector<uint8_t>{3, 5}));

  // Factor 4, 16-bit, two channel blocks of 6 samples in each of four lines: each
  // block gives one sample (its last two are dropped), the mean of 16 samples.
  std::vector<uint16_t> lines(4 * 12);
  for (uint32_t l = 0; l < 4; ++l) {
    for (uint32_t i = 0; i < 12; ++i) lines[l * 12 + i] = static_cast<uint16_t>(1000 * l + 10 * i);
  }
  // Channel 0: samples 0..3 of lines 0..3 sum to 4 * (0+10+20+30) + 4 * 1000 * (0+1+2+3)
  // = 24240, mean 1515. Channel 1 starts at sample 6: 24240 + 16 * 60 = 25200, mean 1575.
  std::vector<uint8_t> reduced(4, 0xEE);
  EXPECT_EQ(box_reduce(bytes16(lines).data(), 24, 4, 2, 2, reduced.data()), 4u);
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

TEST(LineTransformsTest, TableStagesMapEachChannelThroughItsOwnTableInPlace) {
  std::vector<uint16_t> t16[3];
  std::vector<uint16_t> t8[3];
  for (uint32_t c = 0; c < 3; ++c) {
    t16[c].resize(65536);
    for (uint32_t i = 0; i < 65536; ++i) t16[c][i] = static_cast<uint16_t>(65535 - i + c);
    t8[c].resize(256);
    for (uint32_t i = 0; i < 256; ++i) t8[c][i] = static_cast<uint16_t>(i * 256 + c);
  }
  const ChannelTables tables16 = {t16[0].data(), t16[1].data(), t16[2].data()};
  const ChannelTables tables8 = {t8[0].data(), t8[1].data(), t8[2].data()};

  std::vector<uint8_t> colour = bytes16({10, 20, 30, 40, 50, 60});
  map_gamma16(colour.data(), 2, 3, tables16);
  EXPECT_EQ(samples16(colour), (std::vector<uint16_t>{65525, 65516, 65507, 65495, 65486, 65477}));
  std::vector<uint8_t> grey = bytes16({10, 20});
  map_gamma16(grey.data(), 2, 1, tables16);
  EXPECT_EQ(samples16(grey), (std::vector<uint16_t>{65526, 65516})) << "grey uses the green table";

  // Widening in place: the line grows to twice its size without eating its input.
  std::vector<uint8_t> line(12, 0);
  const uint8_t rgb[6] = {1, 2, 3, 250, 251, 252};
  std::memcpy(line.data(), rgb, 6);
  widen_samples(line.data(), 2, 3, tables8);
  EXPECT_EQ(samples16(line), (std::vector<uint16_t>{256, 513, 770, 64000, 64257, 64514}));
  std::vector<uint8_t> grey8 = {7, 9, 0, 0};
  widen_samples(grey8.data(), 2, 1, tables8);
  EXPECT_EQ(samples16(grey8), (std::vector<uint16_t>{1793, 2305}));
}

}  // namespace
}  // namespace qrx::imaging
