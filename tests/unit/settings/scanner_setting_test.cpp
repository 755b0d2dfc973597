// Accessor behaviour of ScannerSetting: index order, out-of-table indexes, the warm-up decision
// range clamp, and writes through mutable_values.
#include "settings/scanner_setting.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "settings/tuning_index.h"

namespace qrx::settings {
namespace {

class ScannerSettingTest : public ::testing::Test {
 protected:
  ScannerSetting s_;
};

TEST_F(ScannerSettingTest, IndexedGettersFollowTheFlatModeIndex) {
  // Other layers also address a per-mode table as group * 32 + depth * 8 + resolution index.
  std::array<uint32_t, 64> periods;
  std::array<uint16_t, 128> steps;
  static_assert(sizeof periods == sizeof s_.LINEPERIOD_BOOK());
  static_assert(sizeof steps == sizeof s_.SLOPETABLESTEP_BOOK());
  std::memcpy(periods.data(), &s_.LINEPERIOD_BOOK(), sizeof periods);
  std::memcpy(steps.data(), &s_.SLOPETABLESTEP_BOOK(), sizeof steps);
  for (int g = 0; g < 2; ++g)
    for (int d = 0; d < 4; ++d)
      for (int r = 0; r < 8; ++r) {
        const int cell = g * 32 + d * 8 + r;
        ASSERT_EQ(s_.LINEPERIOD_BOOK(g, d, r), periods[cell]) << cell;
        ASSERT_EQ(s_.SLOPETABLESTEP_BOOK(g, d, r, 0), steps[2 * cell]) << cell;
        ASSERT_EQ(s_.SLOPETABLESTEP_BOOK(g, d, r, 1), steps[2 * cell + 1]) << cell;
      }
  EXPECT_EQ(periods[1 * 32 + 3 * 8 + 3], 5728u);  // port type 2, 48-bit, 600 dpi
}

TEST_F(ScannerSettingTest, IndexesOutsideATableAnswerZero) {
  const int below_75_dpi = resolution_index(50);
  ASSERT_EQ(below_75_dpi, -1);
  EXPECT_EQ(s_.LINEPERIOD_BOOK(0, 0, below_75_dpi), 0u);
  EXPECT_EQ(s_.LINEPERIOD_FAU(0, 0, resolution_index(19200)), 0u);
  EXPECT_EQ(s_.LINEPERIOD_BOOK(2, 0, 0), 0u);
  EXPECT_EQ(s_.LINEPERIOD_BOOK(0, -1, 0), 0u);
  EXPECT_EQ(s_.LINEPERIOD_BOOK(0, 4, 0), 0u);
  EXPECT_EQ(s_.SLOPETABLESTEP_BOOK(0, 0, 0, 2), 0);
  EXPECT_EQ(s_.SLOPETABLESTEP_FAU(1, 3, 0, 0), 0);  // film tables have three depth classes
  EXPECT_EQ(s_.SLOPETABLESTEP_FAU(1, 0, 6, 0), 0);  // and six resolution indexes
  EXPECT_EQ(s_.MOTOR_MSETTING(10, 0), 0u);
  EXPECT_EQ(s_.MOTOR_MSETTING(0, 6), 0u);
  EXPECT_EQ(s_.MOTOR_TABLE_NUMBER_MOVE(9, 2), 0);
  EXPECT_EQ(s_.MOTOR_TABLE_NUMBER_MOVE(-1, 0), 0);
  EXPECT_EQ(s_.MOTOR_TABLE_NUMBER_FAU(1, 0, -1, 0), 0);
  EXPECT_EQ(s_.VERTICALRES_BOUND_BOOK(0, 0, 8), 0);
  EXPECT_EQ(s_.SSFEEDSTEP_FW(0, 1, below_75_dpi), 0);
  EXPECT_EQ(s_.BOOK_SHADING_G_COEFFICIENT(0, 0, below_75_dpi), 0.0);
  EXPECT_EQ(s_.SPECIAL_Z1_ADD_FINALSTEP(64), 0);
  EXPECT_EQ(s_.IROZURE_PATTERN(0, 5), 0);
  EXPECT_EQ(s_.ASIC_REGISTER_SETTING(92), (RegisterPair{}));
  EXPECT_EQ(s_.AFE_REGISTER_SETTING(2, 0), AfeRow{});
  EXPECT_EQ(s_.AFE_REGISTER_SETTING(0, below_75_dpi), AfeRow{});
  EXPECT_EQ(s_.CK1MAP_SETTING(0, 8), 0);
  EXPECT_EQ(s_.SENSOR_CROP_OFFSET(-1), 0u);
  EXPECT_EQ(s_.JAGGY_FILTER_SETTING(6), JaggyKernel{});
  EXPECT_EQ(s_.SENSOR_CHIP_AREA(8), 0u);
  // The edges of each table still answer.
  EXPECT_EQ(s_.LINEPERIOD_BOOK(1, 3, 7), 21120u);
  EXPECT_EQ(s_.MOTOR_MSETTING(9, 5), 0u);
  EXPECT_EQ(s_.MOTOR_MSETTING(9, 4), 500u);
  EXPECT_EQ(s_.CK1MAP_SETTING(1, 7), 120);
}

TEST_F(ScannerSettingTest, WarmUpDecisionRangeClampsTenAndMoreToNineAndKeepsIt) {
  const ScannerSetting& reader = s_;  // the clamp works through a const record
  s_.mutable_values().WARM_UP_DECISION_RANGE = 12;
  EXPECT_EQ(reader.WARM_UP_DECISION_RANGE(), 9);
  EXPECT_EQ(s_.values().WARM_UP_DECISION_RANGE, 9);  // stored, not only returned
  EXPECT_EQ(reader.WARM_UP_DECISION_RANGE(), 9);

  for (uint8_t stored : {uint8_t{10}, uint8_t{255}}) {
    s_.mutable_values().WARM_UP_DECISION_RANGE = stored;
    EXPECT_EQ(reader.WARM_UP_DECISION_RANGE(), 9) << int{stored};
  }
  for (uint8_t stored : {uint8_t{0}, uint8_t{9}}) {
    s_.mutable_values().WARM_UP_DECISION_RANGE = stored;
    EXPECT_EQ(reader.WARM_UP_DECISION_RANGE(), stored);
    EXPECT_EQ(s_.values().WARM_UP_DECISION_RANGE, stored);
  }
}

TEST_F(ScannerSettingTest, WarmUpDecisionRangeClampFromSeveralThreads) {
  s_.mutable_values().WARM_UP_DECISION_RANGE = 200;
  const ScannerSetting& reader = s_;
  std::vector<int> wrong(8, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&reader, &wrong, t] {
      for (int i = 0; i < 1000; ++i) wrong[t] += reader.WARM_UP_DECISION_RANGE() != 9;
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(wrong[t], 0) << t;
  EXPECT_EQ(s_.values().WARM_UP_DECISION_RANGE, 9);
}

TEST_F(ScannerSettingTest, WritesThroughMutableValuesReachTheGettersOfThatRecordOnly) {
  s_.mutable_values().SPECIALMODE = 0x2000 | 0x0040;
  s_.mutable_values().SPECIAL_Z1MOD_SETTING = 0x123456;
  s_.mutable_values().LINEPERIOD_BOOK[1][2][3] = 777;
  EXPECT_EQ(s_.SPECIALMODE(), 0x2040);
  EXPECT_EQ(s_.SPECIAL_Z1MOD_SETTING(), 0x123456u);
  EXPECT_EQ(s_.LINEPERIOD_BOOK(1, 2, 3), 777u);

  const ScannerSetting fresh;
  EXPECT_EQ(fresh.SPECIALMODE(), 0);
  EXPECT_EQ(fresh.LINEPERIOD_BOOK(1, 2, 3), 5728u);
}

}  // namespace
}  // namespace qrx::settings
