// The scanner's tuning values as one plain record: every field named by its tuning key, in record
// order, with the exact width the rest of the library reads it at. ScannerSetting owns one and
// fills it with the compiled-in defaults; this header only fixes the layout.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qrx::settings {

// Table dimensions shared by the per-mode tables.
inline constexpr std::size_t kPortGroups = 2;         // port type 1 and 2
inline constexpr std::size_t kDepthClasses = 4;       // 8, 16, 24, 48 bits per pixel
inline constexpr std::size_t kResolutionIndexes = 8;  // 75 dpi to 9600 dpi
inline constexpr std::size_t kFilmDepthClasses = 3;
inline constexpr std::size_t kFilmResolutionIndexes = 6;
inline constexpr std::size_t kRampEnds = 2;  // 0 = acceleration, 1 = deceleration

inline constexpr std::size_t kMotorTableCount = 10;
inline constexpr std::size_t kMotorTableEntries = 2048;
inline constexpr std::size_t kMotorMoveRows = 10;
inline constexpr std::size_t kMotorMoveWords = 6;
inline constexpr std::size_t kAsicRegisterPairs = 92;
inline constexpr std::size_t kBoardVariants = 2;
inline constexpr std::size_t kAfePairs = 8;
inline constexpr std::size_t kJaggyKernels = 6;
inline constexpr std::size_t kJaggyKernelSize = 7;
inline constexpr std::size_t kSensorChips = 8;

// A flatbed per-mode table: [port group][depth class][resolution index], resolution fastest.
template <typename T>
using BookTable =
    std::array<std::array<std::array<T, kResolutionIndexes>, kDepthClasses>, kPortGroups>;
// The same with an (acceleration, deceleration) pair per cell.
template <typename T>
using BookRampTable = BookTable<std::array<T, kRampEnds>>;
// A film per-mode table: [port group][film depth class 0..2][resolution index 0..5].
template <typename T>
using FilmTable =
    std::array<std::array<std::array<T, kFilmResolutionIndexes>, kFilmDepthClasses>, kPortGroups>;
template <typename T>
using FilmRampTable = FilmTable<std::array<T, kRampEnds>>;

using MotorTable = std::array<uint16_t, kMotorTableEntries>;
using RegisterPair = std::array<uint8_t, 2>;  // (register, value)
using AfeRow = std::array<RegisterPair, kAfePairs>;
using JaggyKernel = std::array<std::array<uint8_t, kJaggyKernelSize>, kJaggyKernelSize>;
using MoveSettingTable = std::array<std::array<uint32_t, kMotorMoveWords>, kMotorMoveRows>;
using MoveTableNumbers = std::array<std::array<uint8_t, kRampEnds>, kMotorMoveRows>;
using AsicRegisterTable = std::array<RegisterPair, kAsicRegisterPairs>;
// [board variant][resolution index]
template <typename T>
using VariantTable = std::array<std::array<T, kResolutionIndexes>, kBoardVariants>;
using IrozurePattern = std::array<std::array<uint16_t, 5>, 8>;

struct TuningValues {
  // Line timing and motor tables.
  BookTable<uint32_t> LINEPERIOD_BOOK{};
  BookTable<uint32_t> LINEPERIOD_FAU{};
  BookRampTable<uint16_t> SLOPETABLESTEP_BOOK{};
  FilmRampTable<uint16_t> SLOPETABLESTEP_FAU{};
  // Rows of (vertical resolution, line period, step mode, acceleration steps, deceleration
  // steps, phase index) for carriage moves.
  MoveSettingTable MOTOR_MSETTING{};
  uint8_t MOTOR_SLOWDOWN_CUTTER = 0;
  uint32_t SPEED_MODE_THRESHOLD = 0;
  MotorTable MOTOR_TABLE01{};
  MotorTable MOTOR_TABLE02{};
  MotorTable MOTOR_TABLE03{};
  MotorTable MOTOR_TABLE04{};
  MotorTable MOTOR_TABLE05{};
  MotorTable MOTOR_TABLE06{};
  MotorTable MOTOR_TABLE07{};
  MotorTable MOTOR_TABLE08{};
  MotorTable MOTOR_TABLE09{};
  MotorTable MOTOR_TABLE10{};
  // Stored table (1 to 10) per mode for acceleration and deceleration; 0 = compute the table.
  BookRampTable<uint8_t> MOTOR_TABLE_NUMBER{};
  FilmRampTable<uint8_t> MOTOR_TABLE_NUMBER_FAU{};
  MoveTableNumbers MOTOR_TABLE_NUMBER_MOVE{};
  uint8_t MOTOR_DECSEL = 0;
  uint16_t SHADING_SCAN_UP_STEP = 0;
  uint32_t MOTOR_START_SPEED = 0;
  uint32_t MOTOR_FIRST_GOHOME_LEN = 0;
  BookTable<uint8_t> VERTICALRES_BOUND_BOOK{};
  BookTable<uint8_t> VERTICALRES_BOUND_FAU{};
  BookTable<uint8_t> MOTORSTEPMODE_BOOK{};
  FilmTable<uint8_t> MOTORSTEPMODE_FAU{};
  BookTable<uint8_t> MOTORPHASEINDEX_BOOK{};
  FilmTable<uint8_t> MOTORPHASEINDEX_FAU{};
  BookTable<uint8_t> SSFEEDSTEP_FW{};
  BookTable<uint8_t> SSFEEDSTEP_BW{};

  // Special-mode switches.
  uint16_t SPECIALMODE = 0;
  double SPECIAL_R_EXPOSURE_RATE = 0.0;
  double SPECIAL_G_EXPOSURE_RATE = 0.0;
  double SPECIAL_B_EXPOSURE_RATE = 0.0;
  double SPECIAL_IR_EXPOSURE_RATE = 0.0;
  uint16_t SPECIAL_DARK_SHADING_R_EXPOSURE_TIME = 0;
  uint16_t SPECIAL_DARK_SHADING_G_EXPOSURE_TIME = 0;
  uint16_t SPECIAL_DARK_SHADING_B_EXPOSURE_TIME = 0;
  uint16_t SPECIAL_DARK_SHADING_IR_EXPOSURE_TIME = 0;
  uint32_t SPECIAL_Z1MOD_SETTING = 0;
  uint32_t SPECIAL_Z2MOD_SETTING = 0;
  std::array<uint16_t, 64> SPECIAL_Z1_ADD_FINALSTEP{};

  // Shading targets and trims.
  uint32_t BOOK_SHADING_R_TARGET = 0;
  uint32_t BOOK_SHADING_G_TARGET = 0;
  uint32_t BOOK_SHADING_B_TARGET = 0;
  double BOOK_SHADING_R_OFFSET = 0.0;
  double BOOK_SHADING_G_OFFSET = 0.0;
  double BOOK_SHADING_B_OFFSET = 0.0;
  double BOOK_SHADING_R_GAIN = 0.0;
  double BOOK_SHADING_G_GAIN = 0.0;
  double BOOK_SHADING_B_GAIN = 0.0;
  uint32_t FAU_SHADING_R_TARGET = 0;
  uint32_t FAU_SHADING_G_TARGET = 0;
  uint32_t FAU_SHADING_B_TARGET = 0;
  uint32_t FAU_SHADING_IR_TARGET = 0;
  double FAU_SHADING_R_OFFSET_NEGA = 0.0;
  double FAU_SHADING_G_OFFSET_NEGA = 0.0;
  double FAU_SHADING_B_OFFSET_NEGA = 0.0;
  double FAU_SHADING_IR_OFFSET_NEGA = 0.0;
  double FAU_SHADING_R_OFFSET_POSI = 0.0;
  double FAU_SHADING_G_OFFSET_POSI = 0.0;
  double FAU_SHADING_B_OFFSET_POSI = 0.0;
  double FAU_SHADING_IR_OFFSET_POSI = 0.0;
  double FAU_SHADING_R_GAIN = 0.0;
  double FAU_SHADING_G_GAIN = 0.0;
  double FAU_SHADING_B_GAIN = 0.0;
  double FAU_SHADING_IR_GAIN = 0.0;
  BookTable<double> BOOK_SHADING_R_COEFFICIENT{};
  BookTable<double> BOOK_SHADING_G_COEFFICIENT{};
  BookTable<double> BOOK_SHADING_B_COEFFICIENT{};

  // Dark-shading options, colour registration and sampling.
  uint32_t GET_DARKSHADING_EACH_SCAN = 0;
  uint8_t EFFECT_DARKOFFSET_WITH_WHITEDATA = 0;
  uint8_t USE_FAU_PUREDARK_AVE = 0;
  uint8_t USE_FAU_DARKWITHINWHITE_AVE = 0;
  uint16_t FAU_PUREDARK_AVE_RATE = 0;
  uint16_t FAU_DARKWITHINWHITE_AVE_RATE = 0;
  IrozurePattern IROZURE_PATTERN{};
  uint8_t RATCH_HIGH = 0;
  uint8_t RATCH_LOW = 0;
  uint8_t VSAMP_POINT = 0;
  uint8_t VSAMP_WIDTH = 0;
  uint8_t BSAMP_POINT = 0;
  uint8_t BSAMP_WIDTH = 0;

  // Register start-up tables.
  AsicRegisterTable ASIC_REGISTER_SETTING{};
  // Eight (AFE register, value) pairs per board variant and resolution index.
  VariantTable<AfeRow> AFE_REGISTER_SETTING{};
  std::array<RegisterPair, 8> AFE_REGISTER_CCD_SETTING{};
  VariantTable<uint8_t> CK1NEG_SETTING{};
  VariantTable<uint8_t> CK1MAP_SETTING{};
  std::array<uint32_t, kResolutionIndexes> SENSOR_CROP_OFFSET{};

  // LED exposure and AFE defaults.
  uint8_t LAMP_EXPOSURE_TIME_TARGET = 0;
  uint8_t LAMP_EXPOSURE_TIME_RANGE = 0;
  uint8_t LAMP_EXPOSURE_TIME_TARGET_FAU = 0;
  uint8_t LAMP_EXPOSURE_TIME_TARGET_GRAY = 0;
  uint8_t LAMP_EXPOSURE_TIME_RANGE_GRAY = 0;
  uint8_t AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_R = 0;
  uint8_t AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_G = 0;
  uint8_t AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_B = 0;
  uint8_t AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_FAU_R = 0;
  uint8_t AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_FAU_G = 0;
  uint8_t AFE_DEFAULT_GAIN_TO_AJUST_LED_LAMP_FAU_B = 0;

  // Reference edge search.
  uint32_t EDGE_SCAN_LINES = 0;
  uint8_t EDGE_THRESHOLD_RATE = 0;
  uint8_t EDGE_CUT_UPPER_LINES = 0;
  uint8_t EDGE_CUT_LOWER_LINES = 0;
  uint8_t EDGE_AVAILABLE_UPPER_LINES = 0;
  uint8_t EDGE_AVAILABLE_LOWER_LINES = 0;
  uint16_t EDGE_BACKWARD_FEED_STEP = 0;
  uint8_t EDGE_WHITE_LINES_IN_A_ROW = 0;
  uint8_t EDGE_BLACK_LINES_IN_A_ROW = 0;
  uint8_t EDGE_WHITE_THRESHOLD = 0;
  uint8_t EDGE_BLACK_THRESHOLD = 0;
  uint16_t EDGE_SEARCH_WIDTH = 0;
  uint16_t EDGE_MANUAL_EDGE_POSITION = 0;
  uint8_t EDGE_WHITE_LINES_IN_A_ROW_L = 0;
  uint8_t EDGE_BLACK_LINES_IN_A_ROW_L = 0;
  uint8_t EDGE_WHITE_THRESHOLD_L = 0;
  uint8_t EDGE_BLACK_THRESHOLD_L = 0;

  // Image filter and sensor chips.
  std::array<JaggyKernel, kJaggyKernels> JAGGY_FILTER_SETTING{};
  std::array<uint32_t, kSensorChips> SENSOR_CHIP_AREA{};
  // Four chip levels that have no tuning key of their own.
  std::array<uint8_t, 4> chip_levels{};
  uint16_t SENSOR_CHIP_ERROR_LEVEL = 0;
  uint8_t CHIP_LEVEL_EXPOSURE_TIME_TARGET = 0;
  uint8_t CHIP_LEVEL_EXPOSURE_TIME_RANGE = 0;

  // Sampling tables.
  std::array<uint8_t, 5> VSMP_TABLE{};
  std::array<uint8_t, 5> BSMP_TABLE{};
  std::array<std::array<uint8_t, 2>, 15> RATCH_TABLE{};

  // Shading acquisition.
  uint16_t SHADING_LINENUM_FOR_DARKSHADING = 0;
  uint16_t SHADING_LINENUM_FOR_WHITESHADING = 0;
  uint16_t SHADING_LINENUM_FOR_GRAYSHADING = 0;
  uint8_t DARK_UPPERLINE_CUT = 0;
  uint8_t DARK_LOWERLINE_CUT = 0;
  uint8_t WHITE_UPPERLINE_CUT = 0;
  uint8_t WHITE_LOWERLINE_CUT = 0;
  uint8_t GRAY_UPPERLINE_CUT = 0;
  uint8_t GRAY_LOWERLINE_CUT = 0;
  double GRAY_DENSITY_RATE = 0.0;
  double DENSITY_CORRECT_ALPHA = 0.0;
  uint16_t DENSITY_CORRECT_MAX_X = 0;
  uint16_t DENSITY_CORRECT_MAX_Y = 0;
  uint16_t DENSITY_CORRECT_MIN_X = 0;
  uint16_t DENSITY_CORRECT_MIN_Y = 0;

  // Lamp warm-up.
  uint8_t WARM_UP_TARGET_R = 0;
  uint8_t WARM_UP_TARGET_G = 0;
  uint8_t WARM_UP_TARGET_B = 0;
  uint8_t WARM_UP_TARGET_IR = 0;
  double WARM_UP_LL_RATIO_R = 0.0;
  double WARM_UP_LL_RATIO_G = 0.0;
  double WARM_UP_LL_RATIO_B = 0.0;
  double WARM_UP_LL_RATIO_IR = 0.0;
  uint32_t WARM_UP_TIME = 0;
  uint8_t WARM_UP_COUNT = 0;
  double WARM_UP_MAX_RATIO_R = 0.0;
  double WARM_UP_MAX_RATIO_G = 0.0;
  double WARM_UP_MAX_RATIO_B = 0.0;
  double WARM_UP_MAX_RATIO_IR = 0.0;
  double WARM_UP_OLD_RATIO_R = 0.0;
  double WARM_UP_OLD_RATIO_G = 0.0;
  double WARM_UP_OLD_RATIO_B = 0.0;
  double WARM_UP_OLD_RATIO_IR = 0.0;
  // The warm-up history holds at most nine entries, so its getter clamps this field to 9 in
  // place (mutable so that the clamp works through a const record; see ScannerSetting).
  mutable uint8_t WARM_UP_DECISION_RANGE = 0;
  uint8_t WARM_UP_DECISION_LEVEL = 0;
};

// The ten stored motor tables by number counted from 0 (0 is MOTOR_TABLE01).
inline constexpr MotorTable TuningValues::*kMotorTableFields[kMotorTableCount] = {
    &TuningValues::MOTOR_TABLE01, &TuningValues::MOTOR_TABLE02, &TuningValues::MOTOR_TABLE03,
    &TuningValues::MOTOR_TABLE04, &TuningValues::MOTOR_TABLE05, &TuningValues::MOTOR_TABLE06,
    &TuningValues::MOTOR_TABLE07, &TuningValues::MOTOR_TABLE08, &TuningValues::MOTOR_TABLE09,
    &TuningValues::MOTOR_TABLE10};

// The per-mode tables are addressed by the flat index group × 32 + depth × 8 + resolution too,
// which needs the nested arrays to be packed without gaps.
static_assert(sizeof(BookTable<uint32_t>) == 64 * sizeof(uint32_t));
static_assert(sizeof(BookRampTable<uint16_t>) == 128 * sizeof(uint16_t));
static_assert(sizeof(FilmRampTable<uint8_t>) == 72);
static_assert(sizeof(MotorTable) == kMotorTableEntries * sizeof(uint16_t));

}  // namespace qrx::settings
