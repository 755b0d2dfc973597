// The exposure searches against the emulated sensor: both converge on the target,
// the proportional one from a seed in fewer tries, and a light too weak (or none
// at all) ends after 21 tries with the flatbed code.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <tuple>
#include <memory>
#include <vector>

#include "calibration/acquisition.h"
#include "calibration/channel_lines.h"
#include "calibration/exposure.h"
#include "pass/carriage.h"
#include "support/sim_fixture.h"

namespace qrx::test {
namespace {

class ExposureTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_TRUE(open_scanner());
    ASSERT_TRUE(calibration::allocate_lines(dark));
    ASSERT_EQ(pass::home_and_step_out(lib().context, lib().setting), QRX_OK);
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
  // Exposures the passes since the trace was cleared programmed for a channel (0
  // red, 1 green, 2 blue), as the registers hold them (divided by the divider).
  std::vector<uint32_t> programmed(int channel) {
    std::vector<uint32_t> values;
    const uint8_t high = static_cast<uint8_t>(0x10 + 2 * channel);
    uint32_t first = 0;
    for (const auto& e : scanner->trace({emu::RequestKind::ControlOut, 0x83, -1})) {
      if (e.data[0] == high) first = e.data[1];
      if (e.data[0] == high + 1) values.push_back(first << 8 | e.data[1]);
    }
    return values;
  }
  // A scanner without noise or non-uniformity: every pixel of a channel alike.
  void flat_scanner(uint32_t dark_level, uint32_t lamp_percent) {
    emu::Options options;
    options.sensor_noise = false;
    options.sensor_nonuniformity = false;
    options.dark_level = dark_level;
    options.lamp_percent = lamp_percent;
    reset_scanner(options);
    TerminateScanner(nullptr);
    ASSERT_TRUE(open_scanner());
    ASSERT_EQ(pass::home_and_step_out(lib().context, lib().setting), QRX_OK);
  }
  calibration::ChannelLines dark;
  calibration::ExposureEnvironment environment;
  // The flatbed exposure pass at a resolution, over the dark references above.
  calibration::ExposurePass at(uint32_t resolution) const {
    return {.resolution = resolution, .lamp_mode = 1, .dark = &dark, .environment = environment};
  }
};

TEST_F(ExposureTest, ASeededSearchStartsFromTheCacheTwiceItsResolutionsFactor) {
  auto& context = lib().context;
  context.exposure_cache_enabled = 1;
  // Entries for 300, 600 and 1200 dpi seed 600, 1200 and 2400 dpi.
  for (int entry = 0; entry < 3; ++entry) context.exposure_cache[entry] = {4000, 5000, 6000, 100};
  struct Case {
    uint32_t resolution;
    std::array<uint32_t, 3> first;  // exposure / 4, the divider of these 48-bit reads
  };
  const Case cases[] = {
      {600, {1000, 1250, 1500}},   // x 2 x 0.5: 4000, 5000, 6000
      {1200, {1740, 2175, 2610}},  // x 2 x 0.87: 6960, 8700, 10440
      {2400, {1900, 2375, 2850}},  // x 2 x 0.95: 7600, 9500, 11400
  };
  for (const Case& c : cases) {
    for (int entry = 0; entry < 3; ++entry) context.exposure_cache[entry] = {4000, 5000, 6000, 100};
    scanner->clear_trace();
    transport::ExposureSet exposure;
    ASSERT_EQ(calibration::adjust_exposure(context, lib().setting, at(c.resolution), exposure),
              QRX_OK);
    for (int channel = 0; channel < 3; ++channel) {
      const auto values = programmed(channel);
      ASSERT_FALSE(values.empty());
      EXPECT_EQ(values.front(), c.first[channel]) << c.resolution << " dpi, channel " << channel;
    }
    EXPECT_EQ(scanner->peek_register(0x1C) & 7, 2) << "divider 4";
  }
  // Not seeded: half the line period, 42752 / 2 at 600 dpi.
  context.exposure_cache_enabled = 0;
  scanner->clear_trace();
  transport::ExposureSet exposure;
  ASSERT_EQ(calibration::adjust_exposure(context, lib().setting, at(600), exposure), QRX_OK);
  EXPECT_EQ(programmed(0).front(), 21376u / 4);
}

TEST_F(ExposureTest, APeakAtTheTargetPlusOrMinusItsRangeIsDone) {
  // With the first exposure (21376 at 600 dpi) a dark level of 40400 counts and 15 %
  // light give peaks 241, 247, 234: blue exactly at 244 - 10. A dark level of
  // 42100 gives 247, 254, 241: green exactly at 244 + 10. Both end after one try;
  // one count below the range (blue 233) does not.
  struct Case {
    uint32_t dark_level;
    std::array<int, 3> peaks;
    bool one_try;
  };
  for (const Case& c : {Case{40400, {241, 247, 234}, true}, Case{42100, {247, 254, 241}, true},
                        Case{40150, {240, 247, 233}, false}}) {
    flat_scanner(c.dark_level, 15);
    transport::ExposureSet probe;
    probe.exposure = {21376, 21376, 21376, 0};
    ASSERT_EQ(peaks(600, probe), c.peaks) << c.dark_level;
    scanner->clear_trace();
    transport::ExposureSet exposure;
    ASSERT_EQ(calibration::search_exposure(lib().context, lib().setting, at(600),
                                           calibration::Search::kBracketing, exposure),
              QRX_OK);
    EXPECT_EQ(tries() == 1, c.one_try) << c.dark_level << ": " << tries() << " tries";
  }
}

TEST_F(ExposureTest, AfterTwentyOneTriesEveryColourPeakMustReach101) {
  // 8 % light, the exposure climbing to its bound (42446): blue, the weakest colour,
  // peaks at 101 over a dark level of 5200 and at 100 over 4950.
  for (const auto& [dark_level, blue, status] :
       {std::tuple{5200u, 101, QRX_OK}, std::tuple{4950u, 100, QRX_E_EXPOSURE_FLATBED}}) {
    flat_scanner(dark_level, 8);
    transport::ExposureSet probe;
    probe.exposure = {42446, 42446, 42446, 0};
    ASSERT_EQ(peaks(600, probe)[2], blue) << dark_level;
    scanner->clear_trace();
    transport::ExposureSet exposure;
    EXPECT_EQ(calibration::search_exposure(lib().context, lib().setting, at(600),
                                           calibration::Search::kBracketing, exposure),
              status)
        << dark_level;
    EXPECT_EQ(tries(), 21u);
    EXPECT_EQ(exposure.exposure[2], 42446) << "the last exposure is kept";
  }
}

TEST_F(ExposureTest, ALightTooStrongForTheLowerBoundLowersItByAFifth) {
  // Every read saturates: the exposure halves towards the lower bound 140 from
  // above (hi = e), reaches 140, then the bound drops to 112 and the exposure
  // goes on from there. Registers hold the exposure / 4.
  flat_scanner(2800, 20000);
  scanner->clear_trace();
  transport::ExposureSet exposure;
  EXPECT_EQ(calibration::search_exposure(lib().context, lib().setting, at(600),
                                         calibration::Search::kBracketing, exposure),
            QRX_OK)
      << "saturated peaks count as bright enough";
  EXPECT_EQ(programmed(0), (std::vector<uint32_t>{5344, 2689, 1362, 698, 366, 200, 117, 76, 55,
                                                  45, 40, 37, 36, 35, 35, 35, 31, 29, 28, 28, 28}));
}

TEST_F(ExposureTest, TheBracketingSearchBringsEveryColourToTheTarget) {
  transport::ExposureSet exposure;
  scanner->clear_trace();
  ASSERT_EQ(calibration::search_exposure(lib().context, lib().setting, at(600),
                                         calibration::Search::kBracketing, exposure),
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
  ASSERT_EQ(calibration::search_exposure(lib().context, lib().setting, at(300),
                                         calibration::Search::kBracketing, found),
            QRX_OK);
  // At 600 dpi the seed is taken twice over a half: it starts at the 300 dpi
  // result, which this sensor needs at 600 dpi as well.
  transport::ExposureSet exposure = found;
  scanner->clear_trace();
  ASSERT_EQ(calibration::search_exposure(lib().context, lib().setting, at(600),
                                         calibration::Search::kProportional, exposure),
            QRX_OK);
  EXPECT_LE(tries(), 3u);
  for (int peak : peaks(600, exposure)) EXPECT_NEAR(peak, 244, 10);
}

TEST_F(ExposureTest, TheCacheSeedsTheNextResolutionOnlyWhenSwitchedOn) {
  auto& context = lib().context;
  transport::ExposureSet exposure;
  ASSERT_EQ(calibration::adjust_exposure(context, lib().setting, at(300), exposure), QRX_OK);
  EXPECT_EQ(context.exposure_cache[0][0], exposure.exposure[0]) << "300 dpi is cached";
  context.exposure_cache_enabled = 1;
  scanner->clear_trace();
  ASSERT_EQ(calibration::adjust_exposure(context, lib().setting, at(600), exposure), QRX_OK);
  const size_t seeded = tries();
  context.exposure_cache_enabled = 0;
  scanner->clear_trace();
  ASSERT_EQ(calibration::adjust_exposure(context, lib().setting, at(600), exposure), QRX_OK);
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
    EXPECT_EQ(calibration::search_exposure(lib().context, lib().setting, at(600), search, exposure),
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
    EXPECT_EQ(calibration::search_exposure(lib().context, *setting, at(600),
                                           calibration::Search::kProportional, exposure),
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
    calibration::search_exposure(lib().context, lib().setting, at(600),
                                 calibration::Search::kProportional, exposure);
    for (int c = 0; c < 3; ++c) {
      EXPECT_LE(exposure.exposure[c], 42447) << "seed " << seed << ", colour " << c;
      EXPECT_GE(exposure.exposure[c], 140) << "seed " << seed << ", colour " << c;
    }
  }
}

}  // namespace
}  // namespace qrx::test
