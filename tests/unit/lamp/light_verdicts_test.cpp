// The verdicts of the lamp warm-up on given brightness readings, with the default
// tuning values (targets 50/80/80, lower ratio 0.70, ready ratio 0.85, change ratio
// 0.02, decision range 1, level 5).
#include <gtest/gtest.h>

#include <vector>

#include "lamp/lamp.h"
#include "qrx7730.h"
#include "settings/scanner_setting.h"

namespace qrx::test {
namespace {

using lamp::Brightness;
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
  EXPECT_TRUE(lamp::brightness_ready(s, Brightness{101, 152, 153}, h));    // 3/153 < 0.02
  EXPECT_FALSE(lamp::brightness_ready(s, Brightness{101, 152, 155}, h));   // 5/155 >= 0.02
  EXPECT_FALSE(lamp::brightness_stable(s, Brightness{101, 152, 156}, h));  // 6 > level 5
  EXPECT_TRUE(lamp::brightness_stable(s, Brightness{95, 155, 145}, h));
  // Ready levels trunc(50 x 0.85) = 42 and trunc(80 x 0.85) = 68 must be exceeded.
  EXPECT_TRUE(lamp::brightness_ready(s, Brightness{43, 69, 69}, history(43, 69, 69)));
  EXPECT_FALSE(lamp::brightness_ready(s, Brightness{42, 69, 69}, history(42, 69, 69)));
  EXPECT_FALSE(lamp::brightness_ready(s, Brightness{43, 68, 69}, history(43, 68, 69)));
  // A dark light never counts as ready, nor divides by zero.
  EXPECT_FALSE(lamp::brightness_ready(s, Brightness{0, 0, 0}, history(0, 0, 0)));
}

TEST(WarmUpDecision, TheDecisionRangeSetsHowManyEarlierPollsMustAgree) {
  settings::ScannerSetting s;
  History h = history(100, 150, 150);
  h[0][1] = 94;  // two polls back, red was 7 lower
  EXPECT_TRUE(lamp::brightness_ready(s, Brightness{101, 150, 150}, h));
  s.mutable_values().WARM_UP_DECISION_RANGE = 2;
  EXPECT_FALSE(lamp::brightness_stable(s, Brightness{101, 150, 150}, h));
  s.mutable_values().WARM_UP_DECISION_RANGE = 0;
  EXPECT_TRUE(lamp::brightness_stable(s, Brightness{10, 10, 10}, h));
}

TEST(WarmUpDecision, WeakOnlyBelowEveryLowerLimit) {
  settings::ScannerSetting s;  // lower limits trunc(50 x 0.7) = 35, trunc(80 x 0.7) = 56
  EXPECT_TRUE(lamp::brightness_weak(s, Brightness{34, 55, 55}));
  EXPECT_FALSE(lamp::brightness_weak(s, Brightness{35, 55, 55}));
  EXPECT_FALSE(lamp::brightness_weak(s, Brightness{34, 55, 56}));
}

}  // namespace
}  // namespace qrx::test
