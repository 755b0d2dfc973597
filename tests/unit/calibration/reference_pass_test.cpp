// Which lines a reference pass drops: 48 lines read from the emulated sensor (noise
// off, so that every clean line is the same) with known outliers planted in some
// of them. The dark pass drops the 9 highest and 9 lowest values of each sample,
// the white pass the 2 highest and 21 lowest.
#include <gtest/gtest.h>

#include <vector>

#include "calibration/channel_lines.h"
#include "calibration/reference_pass.h"
#include "pass/carriage.h"
#include "support/sim_fixture.h"

namespace qrx::test {
namespace {

class ReferencePassTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    emu::Options options;
    options.sensor_noise = false;
    reset_scanner(options);
    ASSERT_TRUE(open_scanner());
    ASSERT_TRUE(calibration::allocate_lines(white));
    ASSERT_TRUE(calibration::allocate_lines(dark));
  }
  uint16_t pass(calibration::PassKind kind) {
    // Both passes start from the same place: the white pass moves while it reads.
    const uint16_t status = pass::home_and_step_out(lib().context, lib().setting);
    if (status != QRX_OK) return status;
    transport::ExposureSet exposure;
    const calibration::ReferencePass at_600{.kind = kind,
                                            .resolution = 600,
                                            .lamp_mode = calibration::kLampFlatbed,
                                            .environment = environment};
    return calibration::reference_pass(lib().context, lib().setting, at_600, exposure,
                                       {white, dark});
  }
  // 48 line offsets: `high` lines raised by up, `low` lines lowered by down.
  static std::vector<int32_t> outliers(int high, int32_t up, int low, int32_t down) {
    std::vector<int32_t> counts(48, 0);
    for (int i = 0; i < high; ++i) counts[i] = up;
    for (int i = 0; i < low; ++i) counts[47 - i] = -down;
    return counts;
  }
  // Every sample of R, G and B, against the clean pass, moved by `by`.
  static void expect_moved(const calibration::ChannelLines& clean,
                           const calibration::ChannelLines& planted, int by) {
    constexpr uint32_t kPixels = 5136;  // 20544 at 600 dpi
    for (int c = 0; c < 3; ++c) {
      int wrong = 0;
      for (uint32_t x = 0; x < kPixels; ++x) {
        if (planted[c][x] != clean[c][x] + by && ++wrong <= 3) {
          ADD_FAILURE() << "channel " << c << " pixel " << x << ": " << planted[c][x]
                        << " for a clean " << clean[c][x] << " moved by " << by;
        }
      }
      EXPECT_EQ(wrong, 0) << "channel " << c;
    }
  }

  calibration::PassEnvironment environment;
  calibration::ChannelLines white, dark;
};

TEST_F(ReferencePassTest, TheDarkPassDropsNineOfEachEnd) {
  ASSERT_EQ(pass(calibration::PassKind::kDark), QRX_OK);
  const calibration::ChannelLines clean = dark;
  // Ten lines 800 higher, ten 300 lower: one of each stays among the 30 averaged,
  // (800 - 300) / 30 = 16.7 above the clean level, truncated.
  scanner->glitch_lines(outliers(10, 800, 10, 300));
  ASSERT_EQ(pass(calibration::PassKind::kDark), QRX_OK);
  expect_moved(clean, dark, 16);
  // Nine of each: all dropped.
  scanner->glitch_lines(outliers(9, 800, 9, 300));
  ASSERT_EQ(pass(calibration::PassKind::kDark), QRX_OK);
  expect_moved(clean, dark, 0);
}

TEST_F(ReferencePassTest, TheWhitePassDropsTwoHighAndTwentyOneLow) {
  ASSERT_EQ(pass(calibration::PassKind::kDark), QRX_OK);
  ASSERT_EQ(pass(calibration::PassKind::kWhite), QRX_OK);
  const calibration::ChannelLines clean = white;
  // Three lines 200 higher, 22 lines 2000 lower: one of each among the 25
  // averaged, (200 - 2000) / 25 = -72.
  scanner->glitch_lines(outliers(3, 200, 22, 2000));
  ASSERT_EQ(pass(calibration::PassKind::kWhite), QRX_OK);
  expect_moved(clean, white, -72);
  // Two and 21: all dropped.
  scanner->glitch_lines(outliers(2, 200, 21, 2000));
  ASSERT_EQ(pass(calibration::PassKind::kWhite), QRX_OK);
  expect_moved(clean, white, 0);
}

}  // namespace
}  // namespace qrx::test
