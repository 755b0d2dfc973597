// The verdicts of the light self-tests on given lines: the uniformity of the means
// after the dark level, and the light and dark limits.
#include <gtest/gtest.h>

#include <vector>

#include "calibration/channel_lines.h"
#include "qrx7730.h"
#include "self_test/self_test_light.h"

namespace qrx::test {
namespace {

// Planar 8-bit lines: every sample `level`, then the listed exceptions.
struct Sample {
  uint32_t line, colour, position;
  uint8_t value;
};
std::vector<uint8_t> lines(uint32_t count, uint32_t pixels, uint8_t level,
                           std::initializer_list<Sample> exceptions) {
  std::vector<uint8_t> data(static_cast<size_t>(count) * 3 * pixels, level);
  for (const Sample& e : exceptions) data[(e.line * 3 + e.colour) * pixels + e.position] = e.value;
  return data;
}

TEST(SelfTestVerdict, UniformityOfTheMeansAfterTheDarkLevel) {
  calibration::ChannelLines dark;
  for (auto& line : dark) line.assign(100, 0);
  // Red's extremes 200 and 30: (200 - 30) / (200 + 30) = 0.739 > 0.7.
  EXPECT_EQ(self_test::judge_uniformity(
                lines(3, 100, 200, {{0, 0, 50, 30}, {1, 0, 50, 30}, {2, 0, 50, 30}}), 3, 1, dark),
            QRX_E_SELFTEST_UNIFORMITY);
  // Exactly at the limit passes: (170 - 30) / (170 + 30) = 0.7.
  EXPECT_EQ(self_test::judge_uniformity(
                lines(3, 100, 170, {{0, 0, 50, 30}, {1, 0, 50, 30}, {2, 0, 50, 30}}), 3, 1, dark),
            QRX_OK);
  // 36: 164 / 236 = 0.695 passes; the mean of 30, 36, 42 is 36.
  EXPECT_EQ(self_test::judge_uniformity(
                lines(3, 100, 200, {{0, 2, 50, 30}, {1, 2, 50, 36}, {2, 2, 50, 42}}), 3, 1, dark),
            QRX_OK);
  // 40 over a dark level of 10 x 256 is 30 of light.
  dark[1][50] = 10 * 256 + 255;
  EXPECT_EQ(self_test::judge_uniformity(
                lines(3, 100, 200, {{0, 1, 50, 40}, {1, 1, 50, 40}, {2, 1, 50, 40}}), 3, 1, dark),
            QRX_E_SELFTEST_UNIFORMITY);
  // The first 32 samples of each segment are not judged.
  dark[1][50] = 0;
  EXPECT_EQ(
      self_test::judge_uniformity(lines(3, 100, 200, {{0, 0, 31, 0}, {1, 0, 81, 0}}), 3, 2, dark),
      QRX_OK);
  EXPECT_EQ(self_test::judge_uniformity(lines(3, 100, 0, {}), 3, 1, dark),
            QRX_E_SELFTEST_UNIFORMITY)
      << "no light at all";
}

TEST(SelfTestVerdict, LightAndDarkLimits) {
  // Smallest at least 23 % of the largest: 200 x 23 / 100 = 46.
  EXPECT_EQ(self_test::judge_light(lines(3, 400, 200, {{2, 1, 399, 46}}), 3, 4), QRX_OK);
  EXPECT_EQ(self_test::judge_light(lines(3, 400, 200, {{2, 1, 399, 45}}), 3, 4),
            QRX_TEST_LIGHT_UNEVEN);
  EXPECT_EQ(self_test::judge_light(lines(3, 400, 200, {{0, 0, 100 + 31, 0}}), 3, 4), QRX_OK)
      << "skipped at the start of the second segment";
  EXPECT_EQ(self_test::judge_dark(lines(3, 400, 20, {{1, 2, 250, 80}}), 3, 4), QRX_OK);
  EXPECT_EQ(self_test::judge_dark(lines(3, 400, 20, {{1, 2, 250, 81}}), 3, 4),
            QRX_TEST_DARK_TOO_BRIGHT);
}

}  // namespace
}  // namespace qrx::test
