// Compiled-in defaults of the per-mode motion tables, looked up the way the motor code does.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "settings/scanner_setting.h"
#include "settings/tuning_index.h"

namespace qrx::settings {
namespace {

constexpr int kG1 = 0;  // port type 1
constexpr int kG2 = 1;  // port type 2

class MotionDefaultsTest : public ::testing::Test {
 protected:
  ScannerSetting s_;
};

TEST_F(MotionDefaultsTest, LinePeriodRowsPerGroupAndDepth) {
  const int r4800 = resolution_index(4800);
  const int r9600 = resolution_index(9600);
  EXPECT_EQ(s_.LINEPERIOD_BOOK(kG1, depth_class(8), 0), 55296u);
  EXPECT_EQ(s_.LINEPERIOD_BOOK(kG1, depth_class(8), resolution_index(600)), 21376u);
  EXPECT_EQ(s_.LINEPERIOD_BOOK(kG1, depth_class(24), resolution_index(300)), 10688u);
  EXPECT_EQ(s_.LINEPERIOD_BOOK(kG1, depth_class(24), r4800), 21376u);
  EXPECT_EQ(s_.LINEPERIOD_BOOK(kG1, depth_class(48), resolution_index(600)), 42752u);
  EXPECT_EQ(s_.LINEPERIOD_BOOK(kG1, depth_class(48), r9600), 171008u);
  EXPECT_EQ(s_.LINEPERIOD_BOOK(kG2, depth_class(8), resolution_index(600)), 6912u);
  EXPECT_EQ(s_.LINEPERIOD_BOOK(kG2, depth_class(8), resolution_index(1200)), 10848u);
  EXPECT_EQ(s_.LINEPERIOD_BOOK(kG2, depth_class(24), resolution_index(600)), 5728u);
  EXPECT_EQ(s_.LINEPERIOD_BOOK(kG2, depth_class(48), r9600), 21120u);
  EXPECT_EQ(s_.LINEPERIOD_FAU(), s_.LINEPERIOD_BOOK());
}

TEST_F(MotionDefaultsTest, SixteenBitRowsOfBothLinePeriodTablesAreZero) {
  for (int group : {kG1, kG2}) {
    for (int res = 0; res < 8; ++res) {
      EXPECT_EQ(s_.LINEPERIOD_BOOK(group, depth_class(16), res), 0u) << group << "," << res;
      EXPECT_EQ(s_.LINEPERIOD_FAU(group, depth_class(16), res), 0u) << group << "," << res;
    }
  }
}

TEST_F(MotionDefaultsTest, FlatbedSlopeStepsPerGroupAndDepth) {
  using Pair = std::array<uint16_t, 2>;
  auto steps = [&](int g, int d, int r) {
    return Pair{s_.SLOPETABLESTEP_BOOK(g, d, r, 0), s_.SLOPETABLESTEP_BOOK(g, d, r, 1)};
  };
  for (int g : {kG1, kG2}) {
    for (int d = 0; d < 4; ++d) {
      EXPECT_EQ(steps(g, d, 0), (Pair{256, 64}));
      EXPECT_EQ(steps(g, d, 1), (Pair{256, 64}));
      for (int r = 4; r < 8; ++r) EXPECT_EQ(steps(g, d, r), (Pair{8, 8}));
    }
  }
  EXPECT_EQ(steps(kG1, 0, 2), (Pair{128, 64}));
  EXPECT_EQ(steps(kG1, 1, 2), (Pair{128, 64}));
  EXPECT_EQ(steps(kG1, 1, 3), (Pair{8, 8}));
  EXPECT_EQ(steps(kG1, 2, 2), (Pair{64, 8}));
  EXPECT_EQ(steps(kG1, 3, 3), (Pair{64, 8}));
  EXPECT_EQ(steps(kG2, 0, 2), (Pair{256, 64}));
  EXPECT_EQ(steps(kG2, 0, 3), (Pair{64, 32}));
  EXPECT_EQ(steps(kG2, 1, 3), (Pair{128, 64}));
  EXPECT_EQ(steps(kG2, 2, 2), (Pair{128, 64}));
  EXPECT_EQ(steps(kG2, 3, 3), (Pair{64, 8}));
  // The reference edge search reads the 8-bit 600 dpi acceleration count: 8 and 64.
  EXPECT_EQ(s_.SLOPETABLESTEP_BOOK(port_group(1), 0, 3, 0), 8);
  EXPECT_EQ(s_.SLOPETABLESTEP_BOOK(port_group(2), 0, 3, 0), 64);
}

TEST_F(MotionDefaultsTest, FilmSlopeStepsStepModesAndPhases) {
  for (int d = 0; d < 3; ++d) {
    EXPECT_EQ(s_.SLOPETABLESTEP_FAU(kG1, d, 0, 0), 64);
    EXPECT_EQ(s_.SLOPETABLESTEP_FAU(kG1, d, 1, 1), 8);
    EXPECT_EQ(s_.SLOPETABLESTEP_FAU(kG2, d, 0, 0), 160);
    EXPECT_EQ(s_.SLOPETABLESTEP_FAU(kG2, d, 0, 1), 160);
    EXPECT_EQ(s_.SLOPETABLESTEP_FAU(kG2, d, 1, 0), 64);
    EXPECT_EQ(s_.SLOPETABLESTEP_FAU(kG2, d, 5, 0), 8);
    for (int g : {kG1, kG2}) {
      EXPECT_EQ(s_.MOTORSTEPMODE_FAU(g, d, 0), 0);
      for (int r = 1; r < 6; ++r) EXPECT_EQ(s_.MOTORSTEPMODE_FAU(g, d, r), 2);
      for (int r = 0; r < 6; ++r) EXPECT_EQ(s_.MOTORPHASEINDEX_FAU(g, d, r), 0);
    }
  }
}

TEST_F(MotionDefaultsTest, FlatbedStepModesAndPhaseIndexes) {
  using Row = std::array<uint8_t, 8>;
  const auto& mode = s_.MOTORSTEPMODE_BOOK();
  const auto& phase = s_.MOTORPHASEINDEX_BOOK();
  for (int grey : {0, 1}) {
    EXPECT_EQ(mode[kG1][grey], (Row{0, 0, 1, 1, 1, 2, 2, 2}));
    EXPECT_EQ(mode[kG2][grey], (Row{0, 0, 0, 0, 1, 1, 3, 3}));
    EXPECT_EQ(phase[kG1][grey], (Row{6, 6, 6, 2, 2, 4, 4, 4}));
    EXPECT_EQ(phase[kG2][grey], (Row{6, 6, 6, 6, 2, 2, 4, 4}));
  }
  for (int colour : {2, 3}) {
    EXPECT_EQ(mode[kG1][colour], (Row{0, 0, 1, 2, 2, 2, 2, 2}));
    EXPECT_EQ(mode[kG2][colour], (Row{0, 0, 1, 1, 2, 2, 3, 3}));
    EXPECT_EQ(phase[kG1][colour], (Row{6, 6, 6, 2, 4, 4, 4, 4}));
    EXPECT_EQ(phase[kG2][colour], (Row{6, 6, 6, 6, 2, 4, 4, 4}));
  }
}

TEST_F(MotionDefaultsTest, FeedStepsAndVerticalBounds) {
  using Row = std::array<uint8_t, 8>;
  const auto& feed = s_.SSFEEDSTEP_FW();
  EXPECT_EQ(feed[kG1][0], (Row{4, 4, 4, 55, 55, 55, 127, 127}));
  EXPECT_EQ(feed[kG2][0], (Row{4, 4, 4, 4, 55, 55, 127, 127}));
  for (int g : {kG1, kG2}) {
    EXPECT_EQ(feed[g][1], (Row{127, 127, 127, 127, 127, 127, 127, 127}));
    EXPECT_EQ(feed[g][2], (Row{4, 4, 4, 4, 127, 127, 127, 127}));
    EXPECT_EQ(feed[g][3], (Row{4, 4, 4, 4, 127, 127, 127, 127}));
  }
  EXPECT_EQ(s_.SSFEEDSTEP_BW(), s_.SSFEEDSTEP_FW());

  for (int d = 0; d < 4; ++d) {
    EXPECT_EQ(s_.VERTICALRES_BOUND_BOOK()[kG1][d], (Row{1, 1, 1, 1, 4, 4, 4, 1}));
    EXPECT_EQ(s_.VERTICALRES_BOUND_BOOK()[kG2][d], (Row{1, 1, 1, 1, 1, 1, 1, 1}));
    for (int g : {kG1, kG2})
      EXPECT_EQ(s_.VERTICALRES_BOUND_FAU()[g][d], (Row{1, 1, 1, 1, 1, 1, 1, 1}));
  }
}

TEST_F(MotionDefaultsTest, CarriageMoveSettings) {
  using Row = std::array<uint32_t, 6>;
  const auto& m = s_.MOTOR_MSETTING();
  EXPECT_EQ(m[0], (Row{75, 18432, 0, 256, 64, 6}));
  EXPECT_EQ(m[1], (Row{600, 5728, 1, 64, 8, 6}));
  EXPECT_EQ(m[2], (Row{1200, 10848, 2, 8, 8, 2}));
  for (uint32_t row = 3; row <= 6; ++row) {
    EXPECT_EQ(m[row][0], 2400u);
    EXPECT_EQ(m[row][1], 21120u);
    EXPECT_EQ(m[row][2], row - 3);          // step mode 0 to 3
    EXPECT_EQ(m[row][3], 8u << (row - 3));  // 8, 16, 32, 64 steps
    EXPECT_EQ(m[row][4], m[row][3]);
  }
  EXPECT_EQ(m[7], m[0]);
  EXPECT_EQ(m[8], m[1]);
  EXPECT_EQ(m[9], (Row{300, 5472, 2, 500, 500, 0}));
  EXPECT_EQ(s_.MOTOR_MSETTING(9, 1), 5472u);  // the timing lookup reads word 1
}

TEST_F(MotionDefaultsTest, StoredTableChoices) {
  int flatbed_nonzero = 0;
  for (int g = 0; g < 2; ++g)
    for (int d = 0; d < 4; ++d)
      for (int r = 0; r < 8; ++r)
        for (int k = 0; k < 2; ++k) flatbed_nonzero += s_.MOTOR_TABLE_NUMBER(g, d, r, k) != 0;
  EXPECT_EQ(flatbed_nonzero, 0);

  int film_nonzero = 0;
  for (int g = 0; g < 2; ++g)
    for (int d = 0; d < 3; ++d)
      for (int r = 0; r < 6; ++r)
        for (int k = 0; k < 2; ++k) film_nonzero += s_.MOTOR_TABLE_NUMBER_FAU(g, d, r, k) != 0;
  EXPECT_EQ(film_nonzero, 6);
  for (int d = 0; d < 3; ++d) {
    EXPECT_EQ(s_.MOTOR_TABLE_NUMBER_FAU(kG2, d, 0, 0), 3);
    EXPECT_EQ(s_.MOTOR_TABLE_NUMBER_FAU(kG2, d, 0, 1), 3);
  }

  for (int row = 0; row < 9; ++row) {
    EXPECT_EQ(s_.MOTOR_TABLE_NUMBER_MOVE(row, 0), 0) << row;
    EXPECT_EQ(s_.MOTOR_TABLE_NUMBER_MOVE(row, 1), 0) << row;
  }
  EXPECT_EQ(s_.MOTOR_TABLE_NUMBER_MOVE(9, 0), 10);
  EXPECT_EQ(s_.MOTOR_TABLE_NUMBER_MOVE(9, 1), 10);
}

TEST_F(MotionDefaultsTest, MotorScalars) {
  EXPECT_EQ(s_.MOTOR_SLOWDOWN_CUTTER(), 1);
  EXPECT_EQ(s_.SPEED_MODE_THRESHOLD(), 1000u);
  EXPECT_EQ(s_.MOTOR_DECSEL(), 5);
  EXPECT_EQ(s_.SHADING_SCAN_UP_STEP(), 8);
  EXPECT_EQ(s_.MOTOR_START_SPEED(), 187504u);
  EXPECT_EQ(s_.MOTOR_FIRST_GOHOME_LEN(), 14282u);
}

}  // namespace
}  // namespace qrx::settings
