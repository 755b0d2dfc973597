// The ten stored motor slope tables and their numbered copy.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "settings/scanner_setting.h"

namespace qrx::settings {
namespace {

class MotorTablesTest : public ::testing::Test {
 protected:
  // True when every entry from `first` to the end of the table is zero.
  static bool AllZeroFrom(const MotorTable& table, std::size_t first) {
    for (std::size_t i = first; i < table.size(); ++i)
      if (table[i] != 0) return false;
    return true;
  }

  ScannerSetting setting_;
};

TEST_F(MotorTablesTest, Table01IsTwoPlateausThenAFiveHundredEightEntryRamp) {
  const MotorTable& t = setting_.MOTOR_TABLE01();
  EXPECT_EQ(t[0], 20000);
  EXPECT_EQ(t[1], 20000);
  EXPECT_EQ(t[2], 15000);
  EXPECT_EQ(t[3], 15000);
  EXPECT_EQ(t[4], 9466);
  for (std::size_t i = 5; i < 512; ++i) ASSERT_EQ(t[i - 1] - t[i], 18) << "entry " << i;
  EXPECT_EQ(t[511], 340);
  EXPECT_TRUE(AllZeroFrom(t, 512));
}

TEST_F(MotorTablesTest, Tables02And04AreTheShortRampEndingAt511) {
  for (const MotorTable* t : {&setting_.MOTOR_TABLE02(), &setting_.MOTOR_TABLE04()}) {
    EXPECT_EQ((*t)[0], 7500);
    EXPECT_EQ((*t)[1], 7445);
    EXPECT_EQ((*t)[125], 625);
    EXPECT_EQ((*t)[126], 511);
    EXPECT_EQ((*t)[127], 511);
    EXPECT_TRUE(AllZeroFrom(*t, 128));
  }
}

TEST_F(MotorTablesTest, Tables03And05To10AreThePlateauRamp) {
  for (int number_from_zero : {2, 4, 5, 6, 7, 8, 9}) {
    SCOPED_TRACE(number_from_zero);
    const uint16_t* t = setting_.motor_table(number_from_zero);
    ASSERT_NE(t, nullptr);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(t[i], 7500) << i;
    EXPECT_EQ(t[9], 7471);
    EXPECT_EQ(t[10], 7442);
    EXPECT_EQ(t[249], 511);  // 7471 - 29 * 240
    for (int i = 250; i < 256; ++i) EXPECT_EQ(t[i], 511) << i;
    for (int i = 256; i < 2048; ++i) ASSERT_EQ(t[i], 0) << i;
  }
}

TEST_F(MotorTablesTest, NumberFromZeroNamesTheKeyedTable) {
  EXPECT_EQ(setting_.motor_table(0), setting_.MOTOR_TABLE01().data());
  EXPECT_EQ(setting_.motor_table(1), setting_.MOTOR_TABLE02().data());
  EXPECT_EQ(setting_.motor_table(2), setting_.MOTOR_TABLE03().data());
  EXPECT_EQ(setting_.motor_table(9), setting_.MOTOR_TABLE10().data());
  EXPECT_EQ(setting_.motor_table(-1), nullptr);
  EXPECT_EQ(setting_.motor_table(10), nullptr);
}

TEST_F(MotorTablesTest, CopyOf1024BytesOfTable0YieldsExactlyTheUsedEntries) {
  std::vector<uint16_t> buffer(600, 0xBEEF);
  ASSERT_TRUE(setting_.copy_motor_table(0, buffer.data(), 512 * 2));
  for (std::size_t i = 0; i < 512; ++i) ASSERT_EQ(buffer[i], setting_.MOTOR_TABLE01()[i]) << i;
  EXPECT_EQ(buffer[511], 340);
  for (std::size_t i = 512; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xBEEF) << i;
}

TEST_F(MotorTablesTest, CopyOfAWholeTableAndOfPartialBytes) {
  std::vector<uint16_t> whole(2048, 0xBEEF);
  ASSERT_TRUE(setting_.copy_motor_table(9, whole.data(), 4096));
  EXPECT_EQ(std::memcmp(whole.data(), setting_.MOTOR_TABLE10().data(), 4096), 0);

  uint8_t three[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  ASSERT_TRUE(setting_.copy_motor_table(1, three, 3));
  EXPECT_EQ(std::memcmp(three, setting_.MOTOR_TABLE02().data(), 3), 0);
  EXPECT_EQ(three[3], 0xAA);

  EXPECT_TRUE(setting_.copy_motor_table(0, three, 0));
}

TEST_F(MotorTablesTest, CopyRefusesBadNumbersOversizeCountsAndNullDestinationsUntouched) {
  std::vector<uint16_t> buffer(2100, 0xBEEF);
  EXPECT_FALSE(setting_.copy_motor_table(-1, buffer.data(), 2));
  EXPECT_FALSE(setting_.copy_motor_table(10, buffer.data(), 2));
  EXPECT_FALSE(setting_.copy_motor_table(0, buffer.data(), 4097));
  EXPECT_FALSE(setting_.copy_motor_table(0, nullptr, 2));
  for (uint16_t entry : buffer) ASSERT_EQ(entry, 0xBEEF);
}

TEST_F(MotorTablesTest, CopyReadsTheRecordNotACompiledInTable) {
  setting_.mutable_values().MOTOR_TABLE03[0] = 1234;
  uint16_t first = 0;
  ASSERT_TRUE(setting_.copy_motor_table(2, &first, sizeof first));
  EXPECT_EQ(first, 1234);
  EXPECT_EQ(ScannerSetting().MOTOR_TABLE03()[0], 7500);  // other records keep the default
}

}  // namespace
}  // namespace qrx::settings
