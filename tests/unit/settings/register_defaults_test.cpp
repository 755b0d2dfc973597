// Compiled-in defaults of the register start-up tables, the filter kernels, the shading and
// sensor tables, and the scalar values that are easy to get wrong.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <type_traits>

#include "settings/scanner_setting.h"
#include "settings/tuning_index.h"

namespace qrx::settings {

// The widths other layers read the values at are part of the record's contract (checked at
// compile time; Record() is only named inside decltype).
const ScannerSetting& Record();  // declared only
static_assert(std::is_same_v<decltype(Record().SPECIALMODE()), uint16_t>);
static_assert(std::is_same_v<decltype(Record().SPECIAL_R_EXPOSURE_RATE()), double>);
static_assert(std::is_same_v<decltype(Record().SPECIAL_Z1MOD_SETTING()), uint32_t>);
static_assert(std::is_same_v<decltype(Record().BOOK_SHADING_R_TARGET()), uint32_t>);
static_assert(std::is_same_v<decltype(Record().EDGE_THRESHOLD_RATE()), uint8_t>);
static_assert(std::is_same_v<decltype(Record().EDGE_BACKWARD_FEED_STEP()), uint16_t>);
static_assert(std::is_same_v<decltype(Record().WARM_UP_TIME()), uint32_t>);
static_assert(std::is_same_v<decltype(Record().WARM_UP_DECISION_RANGE()), uint8_t>);
static_assert(std::is_same_v<decltype(Record().SHADING_LINENUM_FOR_DARKSHADING()), uint16_t>);
static_assert(std::is_same_v<decltype(Record().LINEPERIOD_BOOK(0, 0, 0)), uint32_t>);
static_assert(std::is_same_v<decltype(Record().SLOPETABLESTEP_BOOK(0, 0, 0, 0)), uint16_t>);

namespace {

class RegisterDefaultsTest : public ::testing::Test {
 protected:
  ScannerSetting s_;
};

TEST_F(RegisterDefaultsTest, PowerOnRegisterTableInOrder) {
  // The 92 pairs as register=value in hexadecimal, eight to a line.
  const char* const kExpected =
      "01=82 02=18 03=50 04=12 05=80 06=50 08=10 09=01 "
      "0A=00 0B=01 0C=02 0D=0D 6E=7E 6C=00 12=00 13=00 "
      "14=00 15=00 16=10 17=0C 18=00 19=FF 1A=34 1B=00 "
      "1C=00 1D=04 1E=10 1F=04 20=02 21=10 22=7F 23=7F "
      "24=10 25=00 26=00 27=00 2C=09 2D=60 2E=80 2F=80 "
      "30=00 31=10 32=15 33=0E 34=40 35=00 36=2A 37=30 "
      "38=2A 39=F8 3D=00 3E=00 3F=00 52=03 53=07 54=00 "
      "55=00 56=00 57=00 58=2A 59=E1 5A=55 5E=41 5F=40 "
      "61=00 62=00 64=00 65=00 67=80 68=80 69=20 6A=20 "
      "6B=02 6C=00 6D=20 6E=7E 6F=21 74=00 75=00 76=3C "
      "7A=00 7B=00 7C=55 7D=00 87=02 9D=06 A2=0F A6=04 "
      "A7=0F A9=00 FE=08 0B=09";
  std::string actual;
  char text[8];
  for (const RegisterPair& p : s_.ASIC_REGISTER_SETTING()) {
    std::snprintf(text, sizeof text, "%02X=%02X", p[0], p[1]);
    actual += (actual.empty() ? "" : " ") + std::string(text);
  }
  EXPECT_EQ(actual, kExpected);
  EXPECT_EQ(s_.ASIC_REGISTER_SETTING(91), (RegisterPair{0x0B, 0x09}));
}

TEST_F(RegisterDefaultsTest, PowerOnRegisterTableWritesThreeRegistersTwice) {
  // Writing the table in order leaves 0x0B = 0x09; exactly three registers are written twice.
  std::map<int, int> writes;
  std::map<int, int> final_value;
  for (const RegisterPair& p : s_.ASIC_REGISTER_SETTING()) {
    ++writes[p[0]];
    final_value[p[0]] = p[1];
  }
  int repeated = 0;
  for (const auto& [reg, count] : writes) repeated += count > 1;
  EXPECT_EQ(repeated, 3);
  EXPECT_EQ(writes[0x0B], 2);
  EXPECT_EQ(writes[0x6C], 2);
  EXPECT_EQ(writes[0x6E], 2);
  EXPECT_EQ(final_value[0x0B], 0x09);
  EXPECT_EQ(writes.size(), 89u);
}

TEST_F(RegisterDefaultsTest, AfeRowsPerBoardVariantAtEveryResolution) {
  const AfeRow variant0 = {{{0, 157}, {1, 145}, {2, 50}, {3, 4}, {4, 0}, {5, 0}, {6, 63}, {7, 0}}};
  const AfeRow variant1 = {{{0, 157}, {1, 146}, {2, 53}, {3, 4}, {4, 0}, {5, 0}, {6, 36}, {7, 0}}};
  for (int res = 0; res < 8; ++res) {
    EXPECT_EQ(s_.AFE_REGISTER_SETTING(0, res), variant0) << res;
    EXPECT_EQ(s_.AFE_REGISTER_SETTING(1, res), variant1) << res;
    EXPECT_EQ(s_.CK1MAP_SETTING(0, res), 60);
    EXPECT_EQ(s_.CK1MAP_SETTING(1, res), 120);
    EXPECT_EQ(s_.CK1NEG_SETTING(0, res), 0);
    EXPECT_EQ(s_.CK1NEG_SETTING(1, res), 0);
  }
  EXPECT_EQ(s_.AFE_REGISTER_CCD_SETTING()[0], (RegisterPair{1, 35}));
  EXPECT_EQ(s_.AFE_REGISTER_CCD_SETTING()[3], (RegisterPair{6, 0}));
  EXPECT_EQ(s_.AFE_REGISTER_CCD_SETTING()[7], (RegisterPair{33, 96}));
  EXPECT_EQ(s_.SENSOR_CROP_OFFSET(), (std::array<uint32_t, 8>{0, 0, 56, 56, 56, 56, 56, 56}));
}

TEST_F(RegisterDefaultsTest, FilterKernels) {
  // Row 0 is the earliest line, column 0 the leftmost pixel.
  const JaggyKernel kernel2 = {{{0, 0, 0, 0, 0, 0, 0},
                                {0, 0, 0, 0, 0, 0, 0},
                                {0, 0, 0, 1, 0, 0, 0},
                                {0, 0, 0, 2, 0, 0, 0},
                                {0, 0, 0, 1, 0, 0, 0},
                                {0, 0, 0, 0, 0, 0, 0},
                                {0, 0, 0, 0, 0, 0, 0}}};
  const JaggyKernel kernel3 = {{{0, 0, 0, 0, 0, 0, 0},
                                {0, 0, 0, 1, 0, 0, 0},
                                {0, 0, 1, 2, 1, 0, 0},
                                {0, 0, 1, 4, 1, 0, 0},
                                {0, 0, 1, 2, 1, 0, 0},
                                {0, 0, 0, 1, 0, 0, 0},
                                {0, 0, 0, 0, 0, 0, 0}}};
  const JaggyKernel kernel4 = {{{0, 0, 0, 0, 0, 0, 0},
                                {0, 0, 1, 1, 1, 0, 0},
                                {0, 0, 1, 2, 1, 0, 0},
                                {0, 0, 1, 3, 1, 0, 0},
                                {0, 0, 1, 2, 1, 0, 0},
                                {0, 0, 1, 1, 1, 0, 0},
                                {0, 0, 0, 0, 0, 0, 0}}};
  EXPECT_EQ(s_.JAGGY_FILTER_SETTING(0), JaggyKernel{});
  EXPECT_EQ(s_.JAGGY_FILTER_SETTING(1), JaggyKernel{});
  EXPECT_EQ(s_.JAGGY_FILTER_SETTING(2), kernel2);
  EXPECT_EQ(s_.JAGGY_FILTER_SETTING(3), kernel3);
  EXPECT_EQ(s_.JAGGY_FILTER_SETTING(4), kernel4);
  EXPECT_EQ(s_.JAGGY_FILTER_SETTING(5), JaggyKernel{});
}

TEST_F(RegisterDefaultsTest, ShadingSensorAndSamplingTables) {
  for (int g = 0; g < 2; ++g)
    for (int d = 0; d < 4; ++d)
      for (int r = 0; r < 8; ++r) {
        ASSERT_EQ(s_.BOOK_SHADING_R_COEFFICIENT(g, d, r), 768.0);
        ASSERT_EQ(s_.BOOK_SHADING_G_COEFFICIENT(g, d, r), 768.0);
        ASSERT_EQ(s_.BOOK_SHADING_B_COEFFICIENT(g, d, r), 768.0);
      }
  for (int chip = 0; chip < 8; ++chip) EXPECT_EQ(s_.SENSOR_CHIP_AREA(chip), 2576u * (chip + 1));
  EXPECT_EQ(s_.chip_levels(), (std::array<uint8_t, 4>{204, 204, 204, 204}));
  EXPECT_EQ(s_.IROZURE_PATTERN()[0], (std::array<uint16_t, 5>{1200, 1200, 3, 0, 0}));
  EXPECT_EQ(s_.IROZURE_PATTERN()[2], (std::array<uint16_t, 5>{2400, 4800, 3, 0, 0}));
  EXPECT_EQ(s_.IROZURE_PATTERN()[5], (std::array<uint16_t, 5>{2400, 4800, 4, 0, 0}));
  EXPECT_EQ(s_.IROZURE_PATTERN()[6], (std::array<uint16_t, 5>{}));
  EXPECT_EQ(s_.VSMP_TABLE(), (std::array<uint8_t, 5>{1, 1, 1, 1, 1}));
  EXPECT_EQ(s_.BSMP_TABLE(), (std::array<uint8_t, 5>{14, 14, 14, 14, 14}));
  for (const auto& pair : s_.RATCH_TABLE()) EXPECT_EQ(pair, (std::array<uint8_t, 2>{2, 4}));
  for (uint16_t step : s_.SPECIAL_Z1_ADD_FINALSTEP()) EXPECT_EQ(step, 0);
}

TEST_F(RegisterDefaultsTest, ScalarDefaults) {
  EXPECT_EQ(s_.SPECIALMODE(), 0);
  EXPECT_EQ(s_.SPECIAL_IR_EXPOSURE_RATE(), 1.0);
  EXPECT_EQ(s_.SPECIAL_DARK_SHADING_B_EXPOSURE_TIME(), 1);
  EXPECT_EQ(s_.BOOK_SHADING_R_TARGET(), 63232u);
  EXPECT_EQ(s_.BOOK_SHADING_G_TARGET(), 61952u);
  EXPECT_EQ(s_.BOOK_SHADING_B_TARGET(), 59648u);
  EXPECT_EQ(s_.BOOK_SHADING_G_OFFSET(), 0.0);
  EXPECT_EQ(s_.BOOK_SHADING_B_GAIN(), 1.0);
  EXPECT_EQ(s_.FAU_SHADING_IR_TARGET(), 72960u);
  for (double film_trim :
       {s_.FAU_SHADING_R_OFFSET_NEGA(), s_.FAU_SHADING_G_OFFSET_NEGA(),
        s_.FAU_SHADING_B_OFFSET_NEGA(), s_.FAU_SHADING_IR_OFFSET_NEGA(),
        s_.FAU_SHADING_R_OFFSET_POSI(), s_.FAU_SHADING_G_OFFSET_POSI(),
        s_.FAU_SHADING_B_OFFSET_POSI(), s_.FAU_SHADING_IR_OFFSET_POSI(), s_.FAU_SHADING_R_GAIN(),
        s_.FAU_SHADING_G_GAIN(), s_.FAU_SHADING_B_GAIN()}) {
    EXPECT_EQ(film_trim, 1.0);
  }
  EXPECT_EQ(s_.FAU_SHADING_IR_GAIN(), 0.67);
  EXPECT_EQ(s_.GET_DARKSHADING_EACH_SCAN(), 1u);
  EXPECT_EQ(s_.EFFECT_DARKOFFSET_WITH_WHITEDATA(), 1);
  EXPECT_EQ(s_.BSAMP_POINT(), 14);
  EXPECT_EQ(s_.LAMP_EXPOSURE_TIME_TARGET(), 244);
  EXPECT_EQ(s_.LAMP_EXPOSURE_TIME_RANGE(), 10);
  EXPECT_EQ(s_.LAMP_EXPOSURE_TIME_TARGET_FAU(), 225);
  EXPECT_EQ(s_.AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_FAU_B(), 126);
  EXPECT_EQ(s_.EDGE_SCAN_LINES(), 90u);
  EXPECT_EQ(s_.EDGE_THRESHOLD_RATE(), 60);
  EXPECT_EQ(s_.EDGE_BACKWARD_FEED_STEP(), 165);
  EXPECT_EQ(s_.EDGE_WHITE_THRESHOLD_L(), 70);
  EXPECT_EQ(s_.EDGE_BLACK_THRESHOLD_L(), 40);
  EXPECT_EQ(s_.SENSOR_CHIP_ERROR_LEVEL(), 128);
  EXPECT_EQ(s_.CHIP_LEVEL_EXPOSURE_TIME_TARGET(), 50);
  EXPECT_EQ(s_.SHADING_LINENUM_FOR_WHITESHADING(), 48);
  EXPECT_EQ(s_.DARK_UPPERLINE_CUT(), 20);
  EXPECT_EQ(s_.WHITE_UPPERLINE_CUT(), 5);
  EXPECT_EQ(s_.WHITE_LOWERLINE_CUT(), 45);
  EXPECT_EQ(s_.GRAY_DENSITY_RATE(), 0.955);
  EXPECT_EQ(s_.DENSITY_CORRECT_MAX_Y(), 14080);
  EXPECT_EQ(s_.DENSITY_CORRECT_MIN_X(), 512);
  EXPECT_EQ(s_.WARM_UP_TARGET_R(), 50);
  EXPECT_EQ(s_.WARM_UP_TARGET_G(), 80);
  EXPECT_EQ(s_.WARM_UP_TARGET_IR(), 0);
  EXPECT_EQ(s_.WARM_UP_LL_RATIO_G(), 0.70);
  EXPECT_EQ(s_.WARM_UP_MAX_RATIO_B(), 0.85);
  EXPECT_EQ(s_.WARM_UP_OLD_RATIO_R(), 0.02);
  EXPECT_EQ(s_.WARM_UP_TIME(), 10u);
  EXPECT_EQ(s_.WARM_UP_COUNT(), 10);
  EXPECT_EQ(s_.WARM_UP_DECISION_RANGE(), 1);
  EXPECT_EQ(s_.WARM_UP_DECISION_LEVEL(), 5);
}

}  // namespace
}  // namespace qrx::settings
