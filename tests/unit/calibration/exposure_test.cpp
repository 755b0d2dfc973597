// The exposure searches against the emulated sensor: both converge on the target,
// the proportional one from a seed in fewer tries, and a light too weak (or none
// at all) ends after 21 tries with the flatbed code.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "calibration/acquisition.h"
#include "calibration/channel_lines.h"
#include "calibration/exposure.h"
#include "engine/carriage.h"
#include "support/sim_fixture.h"

namespace qrx::test {
namespace {

class ExposureTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_TRUE(open_scanner());
    ASSERT_TRUE(calibration::allocate_lines(dark));
    ASSERT_EQ(engine::home_and_step_out(lib().context, lib().setting), QRX_OK);
  }
  // Two-line reads the search made (each one pass of the motor).
  size_t tries() {
    size_t n = 0;
    for (const auto& e : scanner->trace({emu::RequestKind::ControlOut, 0x83, 0x0F})) n += e.ok;
    return n;
  }
  // The 8-bit peak per colour of a fresh read with the given exposure.
  std::array<int, 3> peaks(uint16_t resolution, const transport::ExposureSet& exposure) {
    calibration::AcquisitionRequest r;
    r.port_type = lib().context.link.port_type();
    r.resolution = resolution;
    r.bits_per_pixel = 48;
    r.line_count = 2;
    r.width = 20416;
    r.exposure = exposure;
    std::vector<uint8_t> lines;
    EXPECT_EQ(calibration::calibration_lines(lib().context, lib().setting, r, lines), QRX_OK);
    const size_t line = lines.size() / 2, samples = line / 6;
    std::array<int, 3> result{};
    for (size_t c = 0; c < 3; ++c) {
      for (size_t i = 0; i < samples; ++i) {
        const uint8_t* s = lines.data() + line + 2 * (c * samples + i);
        result[c] = std::max(result[c], (s[0] | s[1] << 8) >> 8);
      }
    }
    return result;
  }
  calibration::ChannelLines dark;
  calibration::ExposureEnvironment environment;
};

TEST_F(ExposureTest, TheBracketingSearchBringsEveryColourToTheTarget) {
  transport::ExposureSet exposure;
  scanner->clear_trace();
  ASSERT_EQ(calibration::search_exposure(lib().context, lib().setting, environment,
                                         calibration::Search::kBracketing, 600, 1, dark, exposure),
            QRX_OK);
  EXPECT_LT(tries(), 21u);
  EXPECT_EQ(exposure.channel[0], 255);
  for (int peak : peaks(600, exposure)) EXPECT_NEAR(peak, 244, 10);
  // Green's LED is the strongest: it needs the shortest time.
  EXPECT_LT(exposure.exposure[1], exposure.exposure[0]);
  EXPECT_LT(exposure.exposure[1], exposure.exposure[2]);
}

TEST_F(ExposureTest, TheProportionalSearchStartsFromTheSeedAndNeedsFewerTries) {
  transport::ExposureSet found;
  ASSERT_EQ(calibration::search_exposure(lib().context, lib().setting, environment,
                                         calibration::Search::kBracketing, 300, 1, dark, found),
            QRX_OK);
  // At 600 dpi the seed is taken twice over a half: it starts at the 300 dpi
  // result, which this sensor needs at 600 dpi as well.
  transport::ExposureSet exposure = found;
  scanner->clear_trace();
  ASSERT_EQ(calibration::search_exposure(lib().context, lib().setting, environment,
                                         calibration::Search::kProportional, 600, 1, dark,
                                         exposure),
            QRX_OK);
  EXPECT_LE(tries(), 3u);
  for (int peak : peaks(600, exposure)) EXPECT_NEAR(peak, 244, 10);
}

TEST_F(ExposureTest, TheCacheSeedsTheNextResolutionOnlyWhenSwitchedOn) {
  auto& context = lib().context;
  transport::ExposureSet exposure;
  ASSERT_EQ(calibration::adjust_exposure(context, lib().setting, environment, 300, 1, dark, exposure),
            QRX_OK);
  EXPECT_EQ(context.exposure_cache[0][0], exposure.exposure[0]) << "300 dpi is cached";
  context.exposure_cache_enabled = 1;
  scanner->clear_trace();
  ASSERT_EQ(calibration::adjust_exposure(context, lib().setting, environment, 600, 1, dark, exposure),
            QRX_OK);
  const size_t seeded = tries();
  context.exposure_cache_enabled = 0;
  scanner->clear_trace();
  ASSERT_EQ(calibration::adjust_exposure(context, lib().setting, environment, 600, 1, dark, exposure),
            QRX_OK);
  EXPECT_LT(seeded, tries()) << "a seeded search is quicker than one from scratch";
}

TEST_F(ExposureTest, NoLightAtAllEndsAfterTwentyOneTriesWithoutDividingByZero) {
  emu::Options options;
  options.lamp_percent = 0;
  reset_scanner(options);
  TerminateScanner(nullptr);
  ASSERT_TRUE(open_scanner());
  for (auto search : {calibration::Search::kBracketing, calibration::Search::kProportional}) {
    transport::ExposureSet exposure;
    exposure.exposure = {5000, 5000, 5000, 5000};
    scanner->clear_trace();
    EXPECT_EQ(calibration::search_exposure(lib().context, lib().setting, environment, search, 600,
                                           1, dark, exposure),
              QRX_E_EXPOSURE_FLATBED);
    EXPECT_EQ(tries(), 21u);
  }
  // Without light the proportional search goes to the upper bound: at 600 dpi
  // the 48-bit line period is 42752, less 305. A line period of 65536 or more
  // takes 58982 in its place, less 255.
  auto long_lines = std::make_unique<settings::ScannerSetting>(lib().setting);
  for (auto& group : long_lines->mutable_values().LINEPERIOD_BOOK) group[3][3] = 70000;
  struct Case {
    const settings::ScannerSetting* setting;
    uint16_t bound;
    uint16_t infrared;  // the infrared slot is done from the start, at the period less 255
  };
  const Case cases[] = {{&lib().setting, 42447, 42497}, {long_lines.get(), 58727, 58727}};
  for (const auto& [setting, bound, infrared] : cases) {
    transport::ExposureSet exposure;
    exposure.exposure = {5000, 5000, 5000, 5000};
    EXPECT_EQ(calibration::search_exposure(lib().context, *setting, environment,
                                           calibration::Search::kProportional, 600, 1, dark,
                                           exposure),
              QRX_E_EXPOSURE_FLATBED);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(exposure.exposure[c], bound) << "colour " << c;
    EXPECT_EQ(exposure.exposure[3], infrared);
  }
}

// A weak light asks the proportional search for ever longer times; it keeps to
// the bounds the bracketing search has (140 up to the line period less 305).
TEST_F(ExposureTest, TheProportionalSearchKeepsToTheBracketingBounds) {
  emu::Options options;
  options.lamp_percent = 8;
  reset_scanner(options);
  TerminateScanner(nullptr);
  ASSERT_TRUE(open_scanner());
  for (uint16_t seed : {20000, 100}) {
    transport::ExposureSet exposure;
    exposure.exposure = {seed, seed, seed, seed};
    calibration::search_exposure(lib().context, lib().setting, environment,
                                 calibration::Search::kProportional, 600, 1, dark, exposure);
    for (int c = 0; c < 3; ++c) {
      EXPECT_LE(exposure.exposure[c], 42447) << "seed " << seed << ", colour " << c;
      EXPECT_GE(exposure.exposure[c], 140) << "seed " << seed << ", colour " << c;
    }
  }
}

}  // namespace
}  // namespace qrx::test
