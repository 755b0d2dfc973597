// The verdicts of the lamp warm-up and of the light self-tests on given numbers,
// with the default tuning values (targets 50/80/80, lower ratio 0.70, ready ratio
// 0.85, change ratio 0.02, decision range 1, level 5).
#include <gtest/gtest.h>

#include <vector>

#include "engine/lamp.h"
#include "engine/self_test_light.h"
#include "qrx7730.h"
#include "settings/scanner_setting.h"

namespace qrx::test {
namespace {

using engine::Brightness;
using History = std::array<std::array<uint16_t, 9>, 3>;

History history(uint16_t r, uint16_t g, uint16_t b) {
  History h{};
  h[0][0] = r;
  h[1][0] = g;
  h[2][0] = b;
  return h;
}

TEST(WarmUpDecision, ReadyWhenSteadyBrightAndBarelyChanged) {
  settings::ScannerSetting s;
  const History h = history(100, 150, 150);
  EXPECT_TRUE(engine::brightness_ready(s, Brightness{101, 152, 153}, h));    // 3/153 < 0.02
  EXPECT_FALSE(engine::brightness_ready(s, Brightness{101, 152, 155}, h));   // 5/155 >= 0.02
  EXPECT_FALSE(engine::brightness_stable(s, Brightness{101, 152, 156}, h));  // 6 > level 5
  EXPECT_TRUE(engine::brightness_stable(s, Brightness{95, 155, 145}, h));
  // Ready levels trunc(50 x 0.85) = 42 and trunc(80 x 0.85) = 68 must be exceeded.
  EXPECT_TRUE(engine::brightness_ready(s, Brightness{43, 69, 69}, history(43, 69, 69)));
  EXPECT_FALSE(engine::brightness_ready(s, Brightness{42, 69, 69}, history(42, 69, 69)));
  EXPECT_FALSE(engine::brightness_ready(s, Brightness{43, 68, 69}, history(43, 68, 69)));
  // A dark light never counts as ready, nor divides by zero.
  EXPECT_FALSE(engine::brightness_ready(s, Brightness{0, 0, 0}, history(0, 0, 0)));
}

TEST(WarmUpDecision, TheDecisionRangeSetsHowManyEarlierPollsMustAgree) {
  settings::ScannerSetting s;
  History h = history(100, 150, 150);
  h[0][1] = 94;  // two polls back, red was 7 lower
  EXPECT_TRUE(engine::brightness_ready(s, Brightness{101, 150, 150}, h));
  s.mutable_values().WARM_UP_DECISION_RANGE = 2;
  EXPECT_FALSE(engine::brightness_stable(s, Brightness{101, 150, 150}, h));
  s.mutable_values().WARM_UP_DECISION_RANGE = 0;
  EXPECT_TRUE(engine::brightness_stable(s, Brightness{10, 10, 10}, h));
}

TEST(WarmUpDecision, WeakOnlyBelowEveryLowerLimit) {
  settings::ScannerSetting s;  // lower limits trunc(50 x 0.7) = 35, trunc(80 x 0.7) = 56
  EXPECT_TRUE(engine::brightness_weak(s, Brightness{34, 55, 55}));
  EXPECT_FALSE(engine::brightness_weak(s, Brightness{35, 55, 55}));
  EXPECT_FALSE(engine::brightness_weak(s, Brightness{34, 55, 56}));
}

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
  EXPECT_EQ(engine::judge_uniformity(
                lines(3, 100, 200, {{0, 0, 50, 30}, {1, 0, 50, 30}, {2, 0, 50, 30}}), 3, 1, dark),
            QRX_E_SELFTEST_UNIFORMITY);
  // Exactly at the limit passes: (170 - 30) / (170 + 30) = 0.7.
  EXPECT_EQ(engine::judge_uniformity(
                lines(3, 100, 170, {{0, 0, 50, 30}, {1, 0, 50, 30}, {2, 0, 50, 30}}), 3, 1, dark),
            QRX_OK);
  // 36: 164 / 236 = 0.695 passes; the mean of 30, 36, 42 is 36.
  EXPECT_EQ(engine::judge_uniformity(
                lines(3, 100, 200, {{0, 2, 50, 30}, {1, 2, 50, 36}, {2, 2, 50, 42}}), 3, 1, dark),
            QRX_OK);
  // 40 over a dark level of 10 x 256 is 30 of light.
  dark[1][50] = 10 * 256 + 255;
  EXPECT_EQ(engine::judge_uniformity(
                lines(3, 100, 200, {{0, 1, 50, 40}, {1, 1, 50, 40}, {2, 1, 50, 40}}), 3, 1, dark),
            QRX_E_SELFTEST_UNIFORMITY);
  // The first 32 samples of each segment are not judged.
  dark[1][50] = 0;
  EXPECT_EQ(
      engine::judge_uniformity(lines(3, 100, 200, {{0, 0, 31, 0}, {1, 0, 81, 0}}), 3, 2, dark),
      QRX_OK);
  EXPECT_EQ(engine::judge_uniformity(lines(3, 100, 0, {}), 3, 1, dark), QRX_E_SELFTEST_UNIFORMITY)
      << "no light at all";
}

TEST(SelfTestVerdict, LightAndDarkLimits) {
  // Smallest at least 23 % of the largest: 200 x 23 / 100 = 46.
  EXPECT_EQ(engine::judge_light(lines(3, 400, 200, {{2, 1, 399, 46}}), 3, 4), QRX_OK);
  EXPECT_EQ(engine::judge_light(lines(3, 400, 200, {{2, 1, 399, 45}}), 3, 4),
            QRX_TEST_LIGHT_UNEVEN);
  EXPECT_EQ(engine::judge_light(lines(3, 400, 200, {{0, 0, 100 + 31, 0}}), 3, 4), QRX_OK)
      << "skipped at the start of the second segment";
  EXPECT_EQ(engine::judge_dark(lines(3, 400, 20, {{1, 2, 250, 80}}), 3, 4), QRX_OK);
  EXPECT_EQ(engine::judge_dark(lines(3, 400, 20, {{1, 2, 250, 81}}), 3, 4),
            QRX_TEST_DARK_TOO_BRIGHT);
}

}  // namespace
}  // namespace qrx::test
