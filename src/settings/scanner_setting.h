// ScannerSetting: the process-wide record of the scanner's tuning values. It is built once with the
// compiled-in defaults when the library loads and read afterwards, from any thread, through one
// getter per field (named by its tuning key) and indexed getters for the per-mode tables.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/tuning_values.h"

namespace qrx::settings {

class ScannerSetting {
 public:
  // Fills every field with its compiled-in default. Cheap: a few tens of kilobytes of stores, the
  // stored motor tables written from their linear formulas.
  ScannerSetting();

  // The whole record, read-only.
  const TuningValues& values() const { return v_; }
  // Write access for tests and service tools that need other tuning values (for example a
  // SPECIALMODE switch). The library itself never writes through it, and writing while other
  // threads read the record is the caller's responsibility.
  TuningValues& mutable_values() { return v_; }

  // ---- Whole fields, in record order. Tables come back as a const reference to the array.

  // Line timing and motor tables.
  const BookTable<uint32_t>& LINEPERIOD_BOOK() const { return v_.LINEPERIOD_BOOK; }
  const BookTable<uint32_t>& LINEPERIOD_FAU() const { return v_.LINEPERIOD_FAU; }
  const BookRampTable<uint16_t>& SLOPETABLESTEP_BOOK() const { return v_.SLOPETABLESTEP_BOOK; }
  const FilmRampTable<uint16_t>& SLOPETABLESTEP_FAU() const { return v_.SLOPETABLESTEP_FAU; }
  const MoveSettingTable& MOTOR_MSETTING() const { return v_.MOTOR_MSETTING; }
  uint8_t MOTOR_SLOWDOWN_CUTTER() const { return v_.MOTOR_SLOWDOWN_CUTTER; }
  uint32_t SPEED_MODE_THRESHOLD() const { return v_.SPEED_MODE_THRESHOLD; }
  const MotorTable& MOTOR_TABLE01() const { return v_.MOTOR_TABLE01; }
  const MotorTable& MOTOR_TABLE02() const { return v_.MOTOR_TABLE02; }
  const MotorTable& MOTOR_TABLE03() const { return v_.MOTOR_TABLE03; }
  const MotorTable& MOTOR_TABLE04() const { return v_.MOTOR_TABLE04; }
  const MotorTable& MOTOR_TABLE05() const { return v_.MOTOR_TABLE05; }
  const MotorTable& MOTOR_TABLE06() const { return v_.MOTOR_TABLE06; }
  const MotorTable& MOTOR_TABLE07() const { return v_.MOTOR_TABLE07; }
  const MotorTable& MOTOR_TABLE08() const { return v_.MOTOR_TABLE08; }
  const MotorTable& MOTOR_TABLE09() const { return v_.MOTOR_TABLE09; }
  const MotorTable& MOTOR_TABLE10() const { return v_.MOTOR_TABLE10; }
  const BookRampTable<uint8_t>& MOTOR_TABLE_NUMBER() const { return v_.MOTOR_TABLE_NUMBER; }
  const FilmRampTable<uint8_t>& MOTOR_TABLE_NUMBER_FAU() const { return v_.MOTOR_TABLE_NUMBER_FAU; }
  const MoveTableNumbers& MOTOR_TABLE_NUMBER_MOVE() const { return v_.MOTOR_TABLE_NUMBER_MOVE; }
  uint8_t MOTOR_DECSEL() const { return v_.MOTOR_DECSEL; }
  uint16_t SHADING_SCAN_UP_STEP() const { return v_.SHADING_SCAN_UP_STEP; }
  uint32_t MOTOR_START_SPEED() const { return v_.MOTOR_START_SPEED; }
  uint32_t MOTOR_FIRST_GOHOME_LEN() const { return v_.MOTOR_FIRST_GOHOME_LEN; }
  const BookTable<uint8_t>& VERTICALRES_BOUND_BOOK() const { return v_.VERTICALRES_BOUND_BOOK; }
  const BookTable<uint8_t>& VERTICALRES_BOUND_FAU() const { return v_.VERTICALRES_BOUND_FAU; }
  const BookTable<uint8_t>& MOTORSTEPMODE_BOOK() const { return v_.MOTORSTEPMODE_BOOK; }
  const FilmTable<uint8_t>& MOTORSTEPMODE_FAU() const { return v_.MOTORSTEPMODE_FAU; }
  const BookTable<uint8_t>& MOTORPHASEINDEX_BOOK() const { return v_.MOTORPHASEINDEX_BOOK; }
  const FilmTable<uint8_t>& MOTORPHASEINDEX_FAU() const { return v_.MOTORPHASEINDEX_FAU; }
  const BookTable<uint8_t>& SSFEEDSTEP_FW() const { return v_.SSFEEDSTEP_FW; }
  const BookTable<uint8_t>& SSFEEDSTEP_BW() const { return v_.SSFEEDSTEP_BW; }

  // Special-mode switches.
  uint16_t SPECIALMODE() const { return v_.SPECIALMODE; }
  double SPECIAL_R_EXPOSURE_RATE() const { return v_.SPECIAL_R_EXPOSURE_RATE; }
  double SPECIAL_G_EXPOSURE_RATE() const { return v_.SPECIAL_G_EXPOSURE_RATE; }
  double SPECIAL_B_EXPOSURE_RATE() const { return v_.SPECIAL_B_EXPOSURE_RATE; }
  double SPECIAL_IR_EXPOSURE_RATE() const { return v_.SPECIAL_IR_EXPOSURE_RATE; }
  uint16_t SPECIAL_DARK_SHADING_R_EXPOSURE_TIME() const {
    return v_.SPECIAL_DARK_SHADING_R_EXPOSURE_TIME;
  }
  uint16_t SPECIAL_DARK_SHADING_G_EXPOSURE_TIME() const {
    return v_.SPECIAL_DARK_SHADING_G_EXPOSURE_TIME;
  }
  uint16_t SPECIAL_DARK_SHADING_B_EXPOSURE_TIME() const {
    return v_.SPECIAL_DARK_SHADING_B_EXPOSURE_TIME;
  }
  uint16_t SPECIAL_DARK_SHADING_IR_EXPOSURE_TIME() const {
    return v_.SPECIAL_DARK_SHADING_IR_EXPOSURE_TIME;
  }
  uint32_t SPECIAL_Z1MOD_SETTING() const { return v_.SPECIAL_Z1MOD_SETTING; }
  uint32_t SPECIAL_Z2MOD_SETTING() const { return v_.SPECIAL_Z2MOD_SETTING; }
  const std::array<uint16_t, 64>& SPECIAL_Z1_ADD_FINALSTEP() const {
    return v_.SPECIAL_Z1_ADD_FINALSTEP;
  }

  // Shading targets and trims.
  uint32_t BOOK_SHADING_R_TARGET() const { return v_.BOOK_SHADING_R_TARGET; }
  uint32_t BOOK_SHADING_G_TARGET() const { return v_.BOOK_SHADING_G_TARGET; }
  uint32_t BOOK_SHADING_B_TARGET() const { return v_.BOOK_SHADING_B_TARGET; }
  double BOOK_SHADING_R_OFFSET() const { return v_.BOOK_SHADING_R_OFFSET; }
  double BOOK_SHADING_G_OFFSET() const { return v_.BOOK_SHADING_G_OFFSET; }
  double BOOK_SHADING_B_OFFSET() const { return v_.BOOK_SHADING_B_OFFSET; }
  double BOOK_SHADING_R_GAIN() const { return v_.BOOK_SHADING_R_GAIN; }
  double BOOK_SHADING_G_GAIN() const { return v_.BOOK_SHADING_G_GAIN; }
  double BOOK_SHADING_B_GAIN() const { return v_.BOOK_SHADING_B_GAIN; }
  uint32_t FAU_SHADING_R_TARGET() const { return v_.FAU_SHADING_R_TARGET; }
  uint32_t FAU_SHADING_G_TARGET() const { return v_.FAU_SHADING_G_TARGET; }
  uint32_t FAU_SHADING_B_TARGET() const { return v_.FAU_SHADING_B_TARGET; }
  uint32_t FAU_SHADING_IR_TARGET() const { return v_.FAU_SHADING_IR_TARGET; }
  double FAU_SHADING_R_OFFSET_NEGA() const { return v_.FAU_SHADING_R_OFFSET_NEGA; }
  double FAU_SHADING_G_OFFSET_NEGA() const { return v_.FAU_SHADING_G_OFFSET_NEGA; }
  double FAU_SHADING_B_OFFSET_NEGA() const { return v_.FAU_SHADING_B_OFFSET_NEGA; }
  double FAU_SHADING_IR_OFFSET_NEGA() const { return v_.FAU_SHADING_IR_OFFSET_NEGA; }
  double FAU_SHADING_R_OFFSET_POSI() const { return v_.FAU_SHADING_R_OFFSET_POSI; }
  double FAU_SHADING_G_OFFSET_POSI() const { return v_.FAU_SHADING_G_OFFSET_POSI; }
  double FAU_SHADING_B_OFFSET_POSI() const { return v_.FAU_SHADING_B_OFFSET_POSI; }
  double FAU_SHADING_IR_OFFSET_POSI() const { return v_.FAU_SHADING_IR_OFFSET_POSI; }
  double FAU_SHADING_R_GAIN() const { return v_.FAU_SHADING_R_GAIN; }
  double FAU_SHADING_G_GAIN() const { return v_.FAU_SHADING_G_GAIN; }
  double FAU_SHADING_B_GAIN() const { return v_.FAU_SHADING_B_GAIN; }
  double FAU_SHADING_IR_GAIN() const { return v_.FAU_SHADING_IR_GAIN; }
  const BookTable<double>& BOOK_SHADING_R_COEFFICIENT() const {
    return v_.BOOK_SHADING_R_COEFFICIENT;
  }
  const BookTable<double>& BOOK_SHADING_G_COEFFICIENT() const {
    return v_.BOOK_SHADING_G_COEFFICIENT;
  }
  const BookTable<double>& BOOK_SHADING_B_COEFFICIENT() const {
    return v_.BOOK_SHADING_B_COEFFICIENT;
  }

  // Dark-shading options, colour registration and sampling.
  uint32_t GET_DARKSHADING_EACH_SCAN() const { return v_.GET_DARKSHADING_EACH_SCAN; }
  uint8_t EFFECT_DARKOFFSET_WITH_WHITEDATA() const { return v_.EFFECT_DARKOFFSET_WITH_WHITEDATA; }
  uint8_t USE_FAU_PUREDARK_AVE() const { return v_.USE_FAU_PUREDARK_AVE; }
  uint8_t USE_FAU_DARKWITHINWHITE_AVE() const { return v_.USE_FAU_DARKWITHINWHITE_AVE; }
  uint16_t FAU_PUREDARK_AVE_RATE() const { return v_.FAU_PUREDARK_AVE_RATE; }
  uint16_t FAU_DARKWITHINWHITE_AVE_RATE() const { return v_.FAU_DARKWITHINWHITE_AVE_RATE; }
  const IrozurePattern& IROZURE_PATTERN() const { return v_.IROZURE_PATTERN; }
  uint8_t RATCH_HIGH() const { return v_.RATCH_HIGH; }
  uint8_t RATCH_LOW() const { return v_.RATCH_LOW; }
  uint8_t VSAMP_POINT() const { return v_.VSAMP_POINT; }
  uint8_t VSAMP_WIDTH() const { return v_.VSAMP_WIDTH; }
  uint8_t BSAMP_POINT() const { return v_.BSAMP_POINT; }
  uint8_t BSAMP_WIDTH() const { return v_.BSAMP_WIDTH; }

  // Register start-up tables.
  const AsicRegisterTable& ASIC_REGISTER_SETTING() const { return v_.ASIC_REGISTER_SETTING; }
  const VariantTable<AfeRow>& AFE_REGISTER_SETTING() const { return v_.AFE_REGISTER_SETTING; }
  const std::array<RegisterPair, 8>& AFE_REGISTER_CCD_SETTING() const {
    return v_.AFE_REGISTER_CCD_SETTING;
  }
  const VariantTable<uint8_t>& CK1NEG_SETTING() const { return v_.CK1NEG_SETTING; }
  const VariantTable<uint8_t>& CK1MAP_SETTING() const { return v_.CK1MAP_SETTING; }
  const std::array<uint32_t, kResolutionIndexes>& SENSOR_CROP_OFFSET() const {
    return v_.SENSOR_CROP_OFFSET;
  }

  // LED exposure and AFE defaults.
  uint8_t LAMP_EXPOSURE_TIME_TARGET() const { return v_.LAMP_EXPOSURE_TIME_TARGET; }
  uint8_t LAMP_EXPOSURE_TIME_RANGE() const { return v_.LAMP_EXPOSURE_TIME_RANGE; }
  uint8_t LAMP_EXPOSURE_TIME_TARGET_FAU() const { return v_.LAMP_EXPOSURE_TIME_TARGET_FAU; }
  uint8_t LAMP_EXPOSURE_TIME_TARGET_GRAY() const { return v_.LAMP_EXPOSURE_TIME_TARGET_GRAY; }
  uint8_t LAMP_EXPOSURE_TIME_RANGE_GRAY() const { return v_.LAMP_EXPOSURE_TIME_RANGE_GRAY; }
  uint8_t AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_R() const {
    return v_.AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_R;
  }
  uint8_t AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_G() const {
    return v_.AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_G;
  }
  uint8_t AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_B() const {
    return v_.AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_B;
  }
  uint8_t AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_FAU_R() const {
    return v_.AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_FAU_R;
  }
  uint8_t AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_FAU_G() const {
    return v_.AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_FAU_G;
  }
  uint8_t AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_FAU_B() const {
    return v_.AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_FAU_B;
  }

  // Reference edge search.
  uint32_t EDGE_SCAN_LINES() const { return v_.EDGE_SCAN_LINES; }
  uint8_t EDGE_THRESHOLD_RATE() const { return v_.EDGE_THRESHOLD_RATE; }
  uint8_t EDGE_CUT_UPPER_LINES() const { return v_.EDGE_CUT_UPPER_LINES; }
  uint8_t EDGE_CUT_LOWER_LINES() const { return v_.EDGE_CUT_LOWER_LINES; }
  uint8_t EDGE_AVAILABLE_UPPER_LINES() const { return v_.EDGE_AVAILABLE_UPPER_LINES; }
  uint8_t EDGE_AVAILABLE_LOWER_LINES() const { return v_.EDGE_AVAILABLE_LOWER_LINES; }
  uint16_t EDGE_BACKWARD_FEED_STEP() const { return v_.EDGE_BACKWARD_FEED_STEP; }
  uint8_t EDGE_WHITE_LINES_IN_A_ROW() const { return v_.EDGE_WHITE_LINES_IN_A_ROW; }
  uint8_t EDGE_BLACK_LINES_IN_A_ROW() const { return v_.EDGE_BLACK_LINES_IN_A_ROW; }
  uint8_t EDGE_WHITE_THRESHOLD() const { return v_.EDGE_WHITE_THRESHOLD; }
  uint8_t EDGE_BLACK_THRESHOLD() const { return v_.EDGE_BLACK_THRESHOLD; }
  uint16_t EDGE_SEARCH_WIDTH() const { return v_.EDGE_SEARCH_WIDTH; }
  uint16_t EDGE_MANUAL_EDGE_POSITION() const { return v_.EDGE_MANUAL_EDGE_POSITION; }
  uint8_t EDGE_WHITE_LINES_IN_A_ROW_L() const { return v_.EDGE_WHITE_LINES_IN_A_ROW_L; }
  uint8_t EDGE_BLACK_LINES_IN_A_ROW_L() const { return v_.EDGE_BLACK_LINES_IN_A_ROW_L; }
  uint8_t EDGE_WHITE_THRESHOLD_L() const { return v_.EDGE_WHITE_THRESHOLD_L; }
  uint8_t EDGE_BLACK_THRESHOLD_L() const { return v_.EDGE_BLACK_THRESHOLD_L; }

  // Image filter and sensor chips.
  const std::array<JaggyKernel, kJaggyKernels>& JAGGY_FILTER_SETTING() const {
    return v_.JAGGY_FILTER_SETTING;
  }
  const std::array<uint32_t, kSensorChips>& SENSOR_CHIP_AREA() const { return v_.SENSOR_CHIP_AREA; }
  const std::array<uint8_t, 4>& chip_levels() const { return v_.chip_levels; }
  uint16_t SENSOR_CHIP_ERROR_LEVEL() const { return v_.SENSOR_CHIP_ERROR_LEVEL; }
  uint8_t CHIP_LEVEL_EXPOSURE_TIME_TARGET() const { return v_.CHIP_LEVEL_EXPOSURE_TIME_TARGET; }
  uint8_t CHIP_LEVEL_EXPOSURE_TIME_RANGE() const { return v_.CHIP_LEVEL_EXPOSURE_TIME_RANGE; }

  // Sampling tables.
  const std::array<uint8_t, 5>& VSMP_TABLE() const { return v_.VSMP_TABLE; }
  const std::array<uint8_t, 5>& BSMP_TABLE() const { return v_.BSMP_TABLE; }
  const std::array<std::array<uint8_t, 2>, 15>& RATCH_TABLE() const { return v_.RATCH_TABLE; }

  // Shading acquisition.
  uint16_t SHADING_LINENUM_FOR_DARKSHADING() const { return v_.SHADING_LINENUM_FOR_DARKSHADING; }
  uint16_t SHADING_LINENUM_FOR_WHITESHADING() const { return v_.SHADING_LINENUM_FOR_WHITESHADING; }
  uint16_t SHADING_LINENUM_FOR_GRAYSHADING() const { return v_.SHADING_LINENUM_FOR_GRAYSHADING; }
  uint8_t DARK_UPPERLINE_CUT() const { return v_.DARK_UPPERLINE_CUT; }
  uint8_t DARK_LOWERLINE_CUT() const { return v_.DARK_LOWERLINE_CUT; }
  uint8_t WHITE_UPPERLINE_CUT() const { return v_.WHITE_UPPERLINE_CUT; }
  uint8_t WHITE_LOWERLINE_CUT() const { return v_.WHITE_LOWERLINE_CUT; }
  uint8_t GRAY_UPPERLINE_CUT() const { return v_.GRAY_UPPERLINE_CUT; }
  uint8_t GRAY_LOWERLINE_CUT() const { return v_.GRAY_LOWERLINE_CUT; }
  double GRAY_DENSITY_RATE() const { return v_.GRAY_DENSITY_RATE; }
  double DENSITY_CORRECT_ALPHA() const { return v_.DENSITY_CORRECT_ALPHA; }
  uint16_t DENSITY_CORRECT_MAX_X() const { return v_.DENSITY_CORRECT_MAX_X; }
  uint16_t DENSITY_CORRECT_MAX_Y() const { return v_.DENSITY_CORRECT_MAX_Y; }
  uint16_t DENSITY_CORRECT_MIN_X() const { return v_.DENSITY_CORRECT_MIN_X; }
  uint16_t DENSITY_CORRECT_MIN_Y() const { return v_.DENSITY_CORRECT_MIN_Y; }

  // Lamp warm-up.
  uint8_t WARM_UP_TARGET_R() const { return v_.WARM_UP_TARGET_R; }
  uint8_t WARM_UP_TARGET_G() const { return v_.WARM_UP_TARGET_G; }
  uint8_t WARM_UP_TARGET_B() const { return v_.WARM_UP_TARGET_B; }
  uint8_t WARM_UP_TARGET_IR() const { return v_.WARM_UP_TARGET_IR; }
  double WARM_UP_LL_RATIO_R() const { return v_.WARM_UP_LL_RATIO_R; }
  double WARM_UP_LL_RATIO_G() const { return v_.WARM_UP_LL_RATIO_G; }
  double WARM_UP_LL_RATIO_B() const { return v_.WARM_UP_LL_RATIO_B; }
  double WARM_UP_LL_RATIO_IR() const { return v_.WARM_UP_LL_RATIO_IR; }
  uint32_t WARM_UP_TIME() const { return v_.WARM_UP_TIME; }
  uint8_t WARM_UP_COUNT() const { return v_.WARM_UP_COUNT; }
  double WARM_UP_MAX_RATIO_R() const { return v_.WARM_UP_MAX_RATIO_R; }
  double WARM_UP_MAX_RATIO_G() const { return v_.WARM_UP_MAX_RATIO_G; }
  double WARM_UP_MAX_RATIO_B() const { return v_.WARM_UP_MAX_RATIO_B; }
  double WARM_UP_MAX_RATIO_IR() const { return v_.WARM_UP_MAX_RATIO_IR; }
  double WARM_UP_OLD_RATIO_R() const { return v_.WARM_UP_OLD_RATIO_R; }
  double WARM_UP_OLD_RATIO_G() const { return v_.WARM_UP_OLD_RATIO_G; }
  double WARM_UP_OLD_RATIO_B() const { return v_.WARM_UP_OLD_RATIO_B; }
  double WARM_UP_OLD_RATIO_IR() const { return v_.WARM_UP_OLD_RATIO_IR; }
  uint8_t WARM_UP_DECISION_LEVEL() const { return v_.WARM_UP_DECISION_LEVEL; }

  // The warm-up history holds at most nine entries: a stored value of 10 or more is first
  // replaced by 9 (and stays 9), then the stored value is returned. The only getter that writes
  // to the record; the load and the store are relaxed atomics, so several threads may call it.
  uint8_t WARM_UP_DECISION_RANGE() const;

  // ---- Indexed getters. Every one answers 0 (all zeros for a row) when an index lies outside its
  // table, for example the resolution index -1 of a resolution below 75 dpi; they never read
  // outside the record. Indexes follow tuning_index.h: group = port group, depth = depth class,
  // res = resolution index, k = 0 for acceleration and 1 for deceleration.
  uint32_t LINEPERIOD_BOOK(int group, int depth, int res) const;
  uint32_t LINEPERIOD_FAU(int group, int depth, int res) const;
  uint16_t SLOPETABLESTEP_BOOK(int group, int depth, int res, int k) const;
  // Film tables: depth 0 to 2, res 0 to 5.
  uint16_t SLOPETABLESTEP_FAU(int group, int depth, int res, int k) const;
  // Word 0 to 5 of carriage-move row 0 to 9.
  uint32_t MOTOR_MSETTING(int row, int word) const;
  uint8_t MOTOR_TABLE_NUMBER(int group, int depth, int res, int k) const;
  uint8_t MOTOR_TABLE_NUMBER_FAU(int group, int depth, int res, int k) const;
  uint8_t MOTOR_TABLE_NUMBER_MOVE(int row, int k) const;
  uint8_t VERTICALRES_BOUND_BOOK(int group, int depth, int res) const;
  uint8_t VERTICALRES_BOUND_FAU(int group, int depth, int res) const;
  uint8_t MOTORSTEPMODE_BOOK(int group, int depth, int res) const;
  uint8_t MOTORSTEPMODE_FAU(int group, int depth, int res) const;
  uint8_t MOTORPHASEINDEX_BOOK(int group, int depth, int res) const;
  uint8_t MOTORPHASEINDEX_FAU(int group, int depth, int res) const;
  uint8_t SSFEEDSTEP_FW(int group, int depth, int res) const;
  uint8_t SSFEEDSTEP_BW(int group, int depth, int res) const;
  // Entry 0 to 63.
  uint16_t SPECIAL_Z1_ADD_FINALSTEP(int index) const;
  double BOOK_SHADING_R_COEFFICIENT(int group, int depth, int res) const;
  double BOOK_SHADING_G_COEFFICIENT(int group, int depth, int res) const;
  double BOOK_SHADING_B_COEFFICIENT(int group, int depth, int res) const;
  uint16_t IROZURE_PATTERN(int row, int column) const;
  // Pair 0 to 91 of the power-on register table.
  RegisterPair ASIC_REGISTER_SETTING(int pair) const;
  // The eight (AFE register, value) pairs for a board variant (0 or 1) and resolution index.
  AfeRow AFE_REGISTER_SETTING(int variant, int res) const;
  uint8_t CK1NEG_SETTING(int variant, int res) const;
  uint8_t CK1MAP_SETTING(int variant, int res) const;
  uint32_t SENSOR_CROP_OFFSET(int res) const;
  // Kernel 0 to 5, whole.
  JaggyKernel JAGGY_FILTER_SETTING(int kernel) const;
  // End pixel of sensor chip 0 to 7.
  uint32_t SENSOR_CHIP_AREA(int chip) const;

  // ---- Stored motor tables by number counted from 0 (0 is MOTOR_TABLE01, 9 is MOTOR_TABLE10).
  // The table's 2048 entries, or nullptr for a number outside 0 to 9.
  const uint16_t* motor_table(int number_from_zero) const;
  // Copies `bytes` bytes from the start of the table into `destination`. Refuses, copying
  // nothing and returning false, a number outside 0 to 9, a byte count above the table's 4096
  // bytes or a null destination.
  bool copy_motor_table(int number_from_zero, void* destination, std::size_t bytes) const;

 private:
  TuningValues v_{};
};

}  // namespace qrx::settings
