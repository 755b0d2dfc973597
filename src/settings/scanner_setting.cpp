// ScannerSetting: construction with the compiled-in defaults, the bounds-checked indexed getters,
// the stored motor table copy and the warm-up decision range clamp.
#include "settings/scanner_setting.h"

#include <atomic>
#include <cstring>

#include "settings/default_values.h"
#include "settings/table_lookup.h"

namespace qrx::settings {

using internal::ValueAt;

ScannerSetting::ScannerSetting() {
  internal::SetDefaultMotionTables(v_);
  internal::SetDefaultMotorTables(v_);
  internal::SetDefaultScalars(v_);
  internal::SetDefaultTables(v_);
}

uint8_t ScannerSetting::WARM_UP_DECISION_RANGE() const {
  // The warm-up history has nine places; a larger range would run past it.
  constexpr uint8_t kLargestRange = 9;
  static_assert(std::atomic_ref<uint8_t>::required_alignment <= alignof(uint8_t));
  std::atomic_ref<uint8_t> range(v_.WARM_UP_DECISION_RANGE);
  uint8_t value = range.load(std::memory_order_relaxed);
  if (value > kLargestRange) {
    value = kLargestRange;
    range.store(value, std::memory_order_relaxed);
  }
  return value;
}

uint32_t ScannerSetting::LINEPERIOD_BOOK(int group, int depth, int res) const {
  return ValueAt(v_.LINEPERIOD_BOOK, group, depth, res);
}

uint32_t ScannerSetting::LINEPERIOD_FAU(int group, int depth, int res) const {
  return ValueAt(v_.LINEPERIOD_FAU, group, depth, res);
}

uint16_t ScannerSetting::SLOPETABLESTEP_BOOK(int group, int depth, int res, int k) const {
  return ValueAt(v_.SLOPETABLESTEP_BOOK, group, depth, res, k);
}

uint16_t ScannerSetting::SLOPETABLESTEP_FAU(int group, int depth, int res, int k) const {
  return ValueAt(v_.SLOPETABLESTEP_FAU, group, depth, res, k);
}

uint32_t ScannerSetting::MOTOR_MSETTING(int row, int word) const {
  return ValueAt(v_.MOTOR_MSETTING, row, word);
}

uint8_t ScannerSetting::MOTOR_TABLE_NUMBER(int group, int depth, int res, int k) const {
  return ValueAt(v_.MOTOR_TABLE_NUMBER, group, depth, res, k);
}

uint8_t ScannerSetting::MOTOR_TABLE_NUMBER_FAU(int group, int depth, int res, int k) const {
  return ValueAt(v_.MOTOR_TABLE_NUMBER_FAU, group, depth, res, k);
}

uint8_t ScannerSetting::MOTOR_TABLE_NUMBER_MOVE(int row, int k) const {
  return ValueAt(v_.MOTOR_TABLE_NUMBER_MOVE, row, k);
}

uint8_t ScannerSetting::VERTICALRES_BOUND_BOOK(int group, int depth, int res) const {
  return ValueAt(v_.VERTICALRES_BOUND_BOOK, group, depth, res);
}

uint8_t ScannerSetting::VERTICALRES_BOUND_FAU(int group, int depth, int res) const {
  return ValueAt(v_.VERTICALRES_BOUND_FAU, group, depth, res);
}

uint8_t ScannerSetting::MOTORSTEPMODE_BOOK(int group, int depth, int res) const {
  return ValueAt(v_.MOTORSTEPMODE_BOOK, group, depth, res);
}

uint8_t ScannerSetting::MOTORSTEPMODE_FAU(int group, int depth, int res) const {
  return ValueAt(v_.MOTORSTEPMODE_FAU, group, depth, res);
}

uint8_t ScannerSetting::MOTORPHASEINDEX_BOOK(int group, int depth, int res) const {
  return ValueAt(v_.MOTORPHASEINDEX_BOOK, group, depth, res);
}

uint8_t ScannerSetting::MOTORPHASEINDEX_FAU(int group, int depth, int res) const {
  return ValueAt(v_.MOTORPHASEINDEX_FAU, group, depth, res);
}

uint8_t ScannerSetting::SSFEEDSTEP_FW(int group, int depth, int res) const {
  return ValueAt(v_.SSFEEDSTEP_FW, group, depth, res);
}

uint8_t ScannerSetting::SSFEEDSTEP_BW(int group, int depth, int res) const {
  return ValueAt(v_.SSFEEDSTEP_BW, group, depth, res);
}

uint16_t ScannerSetting::SPECIAL_Z1_ADD_FINALSTEP(int index) const {
  return ValueAt(v_.SPECIAL_Z1_ADD_FINALSTEP, index);
}

double ScannerSetting::BOOK_SHADING_R_COEFFICIENT(int group, int depth, int res) const {
  return ValueAt(v_.BOOK_SHADING_R_COEFFICIENT, group, depth, res);
}

double ScannerSetting::BOOK_SHADING_G_COEFFICIENT(int group, int depth, int res) const {
  return ValueAt(v_.BOOK_SHADING_G_COEFFICIENT, group, depth, res);
}

double ScannerSetting::BOOK_SHADING_B_COEFFICIENT(int group, int depth, int res) const {
  return ValueAt(v_.BOOK_SHADING_B_COEFFICIENT, group, depth, res);
}

uint16_t ScannerSetting::IROZURE_PATTERN(int row, int column) const {
  return ValueAt(v_.IROZURE_PATTERN, row, column);
}

RegisterPair ScannerSetting::ASIC_REGISTER_SETTING(int pair) const {
  return ValueAt(v_.ASIC_REGISTER_SETTING, pair);
}

AfeRow ScannerSetting::AFE_REGISTER_SETTING(int variant, int res) const {
  return ValueAt(v_.AFE_REGISTER_SETTING, variant, res);
}

uint8_t ScannerSetting::CK1NEG_SETTING(int variant, int res) const {
  return ValueAt(v_.CK1NEG_SETTING, variant, res);
}

uint8_t ScannerSetting::CK1MAP_SETTING(int variant, int res) const {
  return ValueAt(v_.CK1MAP_SETTING, variant, res);
}

uint32_t ScannerSetting::SENSOR_CROP_OFFSET(int res) const {
  return ValueAt(v_.SENSOR_CROP_OFFSET, res);
}

JaggyKernel ScannerSetting::JAGGY_FILTER_SETTING(int kernel) const {
  return ValueAt(v_.JAGGY_FILTER_SETTING, kernel);
}

uint32_t ScannerSetting::SENSOR_CHIP_AREA(int chip) const {
  return ValueAt(v_.SENSOR_CHIP_AREA, chip);
}

const uint16_t* ScannerSetting::motor_table(int number_from_zero) const {
  if (number_from_zero < 0 || number_from_zero >= static_cast<int>(kMotorTableCount)) {
    return nullptr;
  }
  return (v_.*kMotorTableFields[number_from_zero]).data();
}

bool ScannerSetting::copy_motor_table(int number_from_zero, void* destination,
                                      std::size_t bytes) const {
  const uint16_t* table = motor_table(number_from_zero);
  if (table == nullptr || destination == nullptr || bytes > sizeof(MotorTable)) return false;
  std::memcpy(destination, table, bytes);
  return true;
}

}  // namespace qrx::settings
