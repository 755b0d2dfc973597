// Trimmed means, offsets and gains, and the derived low-resolution whites.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "calibration/shading_math.h"
#include "qrx7730.h"
#include "settings/scanner_setting.h"

namespace qrx::calibration {
namespace {

// Sort-based reference: mean of the values without the low smallest and high largest.
uint16_t sorted_mean(std::vector<uint16_t> v, uint32_t high, uint32_t low) {
  std::sort(v.begin(), v.end());
  const uint64_t sum = std::accumulate(v.begin() + low, v.end() - high, uint64_t{0});
  return static_cast<uint16_t>(sum / (v.size() - low - high));
}

TEST(TrimmedMean, SingleValuesTiesAndTruncation) {
  uint16_t one[] = {4711};
  EXPECT_EQ(trimmed_mean(one, 1, 0, 0), 4711);
  EXPECT_EQ(trimmed_mean(one, 1, 1, 1), 4711) << "one value is the mean whatever the cuts";

  uint16_t ties[] = {5, 9, 5, 1, 5};
  EXPECT_EQ(trimmed_mean(ties, 5, 1, 1), 5);
  uint16_t equal[48];
  std::fill(std::begin(equal), std::end(equal), 65535);
  EXPECT_EQ(trimmed_mean(equal, 48, 9, 9), 65535) << "30 x 65535 summed without overflow";

  uint16_t pair[] = {2, 1};
  EXPECT_EQ(trimmed_mean(pair, 2, 0, 0), 1) << "integer mean truncates";
  uint16_t spread[] = {100, 0, 7, 3, 65535, 4};
  EXPECT_EQ(trimmed_mean(spread, 6, 1, 2), (4 + 7 + 100) / 3);
  EXPECT_EQ(trimmed_mean(nullptr, 0, 0, 0), 0);
}

TEST(TrimmedMean, CutsThatWouldLeaveNothingKeepOneValue) {
  // The low cut is served first, the high cut gets what is left over.
  uint16_t v[] = {40, 10, 30, 20};
  EXPECT_EQ(trimmed_mean(v, 4, 3, 3), 40);
  uint16_t w[] = {40, 10, 30, 20};
  EXPECT_EQ(trimmed_mean(w, 4, 3, 1), 20);
  uint32_t high = 9, low = 9;
  limit_cuts(10, high, low);
  EXPECT_EQ(low, 9u);
  EXPECT_EQ(high, 0u);
  high = 2, low = 21;
  limit_cuts(48, high, low);
  EXPECT_EQ(high, 2u) << "the tuned cuts are left alone";
  EXPECT_EQ(low, 21u);
}

TEST(TrimmedMean, DefaultCutsOf48ValuesMatchASortedReference) {
  // The cuts of the dark (9 and 9 of 48) and white (2 high, 21 low) references.
  std::mt19937 random(20544);
  for (int trial = 0; trial < 2000; ++trial) {
    // Narrow ranges give many ties, wide ones extremes.
    const int range = trial % 3 == 0 ? 4 : trial % 3 == 1 ? 600 : 65536;
    std::vector<uint16_t> values(48);
    for (auto& v : values) v = static_cast<uint16_t>(random() % range);
    for (auto [high, low] : {std::pair{9u, 9u}, std::pair{2u, 21u}}) {
      std::vector<uint16_t> work = values;
      ASSERT_EQ(trimmed_mean(work.data(), 48, high, low), sorted_mean(values, high, low))
          << "trial " << trial << " cuts " << high << "/" << low;
      std::vector<uint16_t> a = work, b = values;
      std::sort(a.begin(), a.end());
      std::sort(b.begin(), b.end());
      ASSERT_EQ(a, b) << "values are only reordered";
    }
  }
}

// --- offsets and gains ----------------------------------------------------------

constexpr uint32_t kRedTarget = 63232, kGreenTarget = 61952, kBlueTarget = 59648;

struct Shading : ::testing::Test {
  settings::ScannerSetting setting;
  ChannelLines gain, offset;
  void SetUp() override {
    for (auto* lines : {&gain, &offset}) {
      for (auto& line : *lines) line.assign(16, 0xBEEF);
    }
  }
  // One pixel of every channel gets white w and dark d.
  void set(size_t x, uint16_t white, uint16_t dark) {
    for (size_t c = 0; c < 4; ++c) {
      gain[c][x] = white;
      offset[c][x] = dark;
    }
  }
  void compute(uint32_t pixels, uint8_t lamp = kLampFlatbed, uint32_t port_type = 1,
               uint32_t bits = 48, uint32_t resolution = 300) {
    compute_shading(setting,
                    {.pixel_count = pixels,
                     .lamp_mode = lamp,
                     .resolution = resolution,
                     .bits_per_pixel = bits,
                     .port_type = port_type},
                    gain, offset);
  }
};

TEST_F(Shading, WhiteNotAboveDarkGetsUnityGainAndKeepsTheDark) {
  set(0, 1000, 1000);  // d = 0
  set(1, 900, 1000);   // d < 0
  set(2, 0, 65535);    // most negative
  compute(3);
  for (size_t c = 0; c < 4; ++c) {
    EXPECT_EQ(gain[c][0], 8192);
    EXPECT_EQ(gain[c][1], 8192);
    EXPECT_EQ(gain[c][2], 8192);
    EXPECT_EQ(offset[c][0], 1000);
    EXPECT_EQ(offset[c][1], 1000);
    EXPECT_EQ(offset[c][2], 65535);
  }
}

TEST_F(Shading, DimAndTargetSizedDifferences) {
  set(0, 1001, 1000);                                     // d = 1: T x 8192 capped
  gain[0][1] = static_cast<uint16_t>(1000 + kRedTarget);  // red W - D = red target
  offset[0][1] = 1000;
  gain[1][1] = static_cast<uint16_t>(1000 + kGreenTarget);
  offset[1][1] = 1000;
  gain[2][1] = static_cast<uint16_t>(2000 + kBlueTarget / 2);  // half the target: gain 2.0
  offset[2][1] = 2000;
  compute(2);
  for (size_t c = 0; c < 3; ++c) EXPECT_EQ(gain[c][0], 65535) << "channel " << c;
  // The dark level maps to k = 768: offset = D - 768 d / T.
  EXPECT_EQ(offset[0][0], 999);  // 1000 - 768 / 63232, truncated
  EXPECT_EQ(gain[0][1], 8192);
  EXPECT_EQ(offset[0][1], 1000 - 768);
  EXPECT_EQ(gain[1][1], 8192);
  EXPECT_EQ(offset[1][1], 1000 - 768);
  EXPECT_EQ(gain[2][1], 16384);
  EXPECT_EQ(offset[2][1], 2000 - 384);
}

TEST_F(Shading, OffsetsTruncateAndNeverGoBelowZero) {
  set(0, 51000, 1000);  // d = 50000: 768 x 50000 / 63232 = 607.29
  set(1, 50100, 100);   // the dark below that level
  set(2, 50607, 607);   // just at it for red: 607 > 607.29 is false
  compute(3);
  EXPECT_EQ(offset[0][0], 392);  // 1000 - 607.29 truncated toward zero
  EXPECT_EQ(gain[0][0], 10359);  // 63232 x 8192 / 50000 = 10359.9
  EXPECT_EQ(offset[0][1], 0);
  EXPECT_EQ(offset[1][1], 0);
  EXPECT_EQ(offset[2][1], 0);
  EXPECT_EQ(offset[0][2], 0);
  EXPECT_EQ(offset[2][0], 356);  // 768 x 50000 / 59648 = 643.8: 1000 - 643.8
}

TEST_F(Shading, FlatbedInfraredGetsGainZeroAndKeepsItsDark) {
  set(0, 40000, 1000);
  set(1, 1000, 1000);
  set(2, 1002, 1000);  // d = 2: any target at all would give a gain
  compute(3);
  EXPECT_EQ(gain[3][0], 0) << "no infrared target on the flatbed";
  EXPECT_EQ(offset[3][0], 1000);
  EXPECT_EQ(gain[3][1], 8192);
  EXPECT_EQ(offset[3][1], 1000);
  EXPECT_EQ(gain[3][2], 0);
  EXPECT_EQ(offset[3][2], 1000);
}

TEST_F(Shading, FilmUsesTheFilmTargetsForAllFourChannels) {
  set(0, 1000 + 72960 / 2, 1000);
  compute(1, kLampFilm);
  for (size_t c = 0; c < 4; ++c) EXPECT_EQ(gain[c][0], 16384) << "channel " << c;
  EXPECT_EQ(offset[0][0], 1000 - 384);  // 768 x 36480 / 72960
  EXPECT_EQ(offset[3][0], 1000) << "the infrared offset is not computed";
}

TEST_F(Shading, CoefficientAndTrimAreLookedUpForTheScan) {
  // Port type 2, 48 bits, 600 dpi is cell [1][3][3].
  setting.mutable_values().BOOK_SHADING_R_COEFFICIENT[1][3][3] = 1500.0;
  setting.mutable_values().BOOK_SHADING_G_OFFSET = 1.0;  // one 8-bit step less dark subtracted
  set(0, 2000 + kRedTarget, 2000);
  gain[1][0] = 1000 + kGreenTarget;
  offset[1][0] = 1000;
  auto saved_gain = gain;
  auto saved_offset = offset;
  compute(1, kLampFlatbed, 2, 48, 600);
  EXPECT_EQ(offset[0][0], 2000 - 1500);
  EXPECT_EQ(offset[1][0], 1000 - 768 + 256);
  gain = saved_gain;
  offset = saved_offset;
  compute(1, kLampFlatbed, 1, 48, 600);  // port type 1: another cell
  EXPECT_EQ(offset[0][0], 2000 - 768);
  gain = saved_gain;
  offset = saved_offset;
  compute(1, kLampFlatbed, 2, 24, 600);  // 24 bits: another cell
  EXPECT_EQ(offset[0][0], 2000 - 768);
}

TEST_F(Shading, SpecialModeForcesUnityGainsOrZeroOffsets) {
  set(0, 40000, 1000);
  set(1, 500, 1000);
  setting.mutable_values().SPECIALMODE = 0x0400;
  compute(2);
  for (size_t c = 0; c < 4; ++c) {
    EXPECT_EQ(gain[c][0], 8192);
    EXPECT_EQ(gain[c][1], 8192);
    EXPECT_EQ(gain[c][2], 0xBEEF) << "beyond the pixel count nothing changes";
  }
  EXPECT_NE(offset[0][0], 0);

  set(0, 40000, 1000);
  setting.mutable_values().SPECIALMODE = 0x0800;
  compute(2);
  for (size_t c = 0; c < 4; ++c) {
    EXPECT_EQ(offset[c][0], 0);
    EXPECT_EQ(offset[c][1], 0);
    EXPECT_EQ(offset[c][2], 0xBEEF);
  }
  EXPECT_NE(gain[0][0], 8192);
}

TEST_F(Shading, StopsAtTheEndOfShortArrays) {
  for (auto& line : gain) line.assign(3, 40000);
  for (auto& line : offset) line.assign(2, 1000);
  compute(100);                  // the sanitizer build catches any access beyond
  EXPECT_EQ(gain[0][0], 13281);  // 63232 x 8192 / 39000 = 13281.96
  EXPECT_EQ(gain[0][2], 40000) << "no offset for this pixel: left alone";
}

// --- low-resolution whites ---------------------------------------------------------

ChannelLines ramp_lines() {
  ChannelLines lines;
  for (size_t c = 0; c < 4; ++c) {
    lines[c].resize(65536);
    for (size_t i = 0; i < lines[c].size(); ++i) {
      lines[c][i] = static_cast<uint16_t>((i * 7 + c * 1000) % 60000);
    }
  }
  return lines;
}

ChannelLines blank_lines() {
  ChannelLines lines;
  for (auto& line : lines) line.assign(65536, 0xBEEF);
  return lines;
}

TEST(LowResolutionWhite, PairwiseMeanFor150AndMeanOfFourFor75) {
  const ChannelLines source = ramp_lines();
  ChannelLines half = blank_lines(), quarter = blank_lines();
  ASSERT_EQ(low_resolution_white(kLampFlatbed, 300, source, 150, half), QRX_OK);
  ASSERT_EQ(low_resolution_white(kLampFlatbed, 300, source, 75, quarter), QRX_OK);
  for (size_t c = 0; c < 4; ++c) {
    for (size_t j = 0; j < 1284; ++j) {
      ASSERT_EQ(half[c][j], (source[c][2 * j] + source[c][2 * j + 1]) / 2) << c << " " << j;
    }
    for (size_t j = 0; j < 642; ++j) {
      ASSERT_EQ(quarter[c][j], (source[c][4 * j] + source[c][4 * j + 1] + source[c][4 * j + 2] +
                                source[c][4 * j + 3]) /
                                   4)
          << c << " " << j;
    }
    EXPECT_EQ(half[c][1284], 0xBEEF) << "2568 / 2 pixels written, no more";
    EXPECT_EQ(quarter[c][642], 0xBEEF);
  }
  ChannelLines same = blank_lines();
  ASSERT_EQ(low_resolution_white(kLampFlatbed, 150, source, 150, same), QRX_OK);
  EXPECT_TRUE(std::equal(same[2].begin(), same[2].begin() + 1284, source[2].begin()));
  EXPECT_EQ(same[2][1284], 0xBEEF);
}

TEST(LowResolutionWhite, RefusesSourcesOutsideTargetTo300) {
  const ChannelLines source = ramp_lines();
  ChannelLines target = blank_lines();
  EXPECT_EQ(low_resolution_white(kLampFlatbed, 600, source, 150, target), QRX_E_PARAMETER);
  EXPECT_EQ(low_resolution_white(kLampFlatbed, 75, source, 150, target), QRX_E_PARAMETER);
  EXPECT_EQ(low_resolution_white(kLampFlatbed, 300, source, 0, target), QRX_E_PARAMETER);
  EXPECT_EQ(QRX_E_PARAMETER, 0x9700);
  for (const auto& line : target) EXPECT_EQ(line[0], 0xBEEF);
}

TEST(LowResolutionWhite, ALastShortGroupAveragesOnlyTheLine) {
  // A sensor line at 140 dpi has 1198 pixels: the last of the groups of four holds
  // two of them.
  ChannelLines source = blank_lines();
  for (auto& line : source) {
    std::fill(line.begin(), line.begin() + 1198, 100);
    line[1196] = 10;
    line[1197] = 20;
  }
  ChannelLines target = blank_lines();
  ASSERT_EQ(low_resolution_white(kLampFilm, 140, source, 35, target), QRX_OK);
  EXPECT_EQ(target[0][298], 100);
  EXPECT_EQ(target[0][299], 15) << "the values past the line's end are not in the mean";
  EXPECT_EQ(target[0][300], 0xBEEF);
}

}  // namespace
}  // namespace qrx::calibration
