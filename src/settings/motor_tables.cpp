// The ten stored motor slope tables: step times (one per micro-step) that a motor plan may copy
// instead of computing its ramp. Each table is written from its formula up to its used length
// and left zero beyond it.
#include <cstddef>
#include <cstdint>

#include "settings/default_values.h"

namespace qrx::settings::internal {
namespace {

// 512 entries: two slow 20000 steps, two at 15000, then a long linear ramp from 9466 down to 340
// in steps of 18.
void WriteLongRamp(MotorTable& table) {
  std::size_t i = 0;
  table[i++] = 20000;
  table[i++] = 20000;
  table[i++] = 15000;
  table[i++] = 15000;
  for (uint32_t k = 0; k <= 507; ++k) table[i++] = static_cast<uint16_t>(9466 - 18 * k);
}

// 128 entries: 7500 down to 625 in steps of 55, then two entries of 511.
void WriteShortRamp(MotorTable& table) {
  std::size_t i = 0;
  for (uint32_t k = 0; k <= 125; ++k) table[i++] = static_cast<uint16_t>(7500 - 55 * k);
  table[i++] = 511;
  table[i++] = 511;
}

// 256 entries: a plateau of nine at 7500, 7471 down to 511 in steps of 29, then six of 511.
void WritePlateauRamp(MotorTable& table) {
  std::size_t i = 0;
  for (int n = 0; n < 9; ++n) table[i++] = 7500;
  for (uint32_t k = 0; k <= 240; ++k) table[i++] = static_cast<uint16_t>(7471 - 29 * k);
  for (int n = 0; n < 6; ++n) table[i++] = 511;
}

}  // namespace

void SetDefaultMotorTables(TuningValues& v) {
  for (MotorTable TuningValues::*field : kMotorTableFields) (v.*field).fill(0);
  WriteLongRamp(v.MOTOR_TABLE01);
  WriteShortRamp(v.MOTOR_TABLE02);
  WritePlateauRamp(v.MOTOR_TABLE03);
  WriteShortRamp(v.MOTOR_TABLE04);
  WritePlateauRamp(v.MOTOR_TABLE05);
  WritePlateauRamp(v.MOTOR_TABLE06);
  WritePlateauRamp(v.MOTOR_TABLE07);
  WritePlateauRamp(v.MOTOR_TABLE08);
  WritePlateauRamp(v.MOTOR_TABLE09);
  WritePlateauRamp(v.MOTOR_TABLE10);
}

}  // namespace qrx::settings::internal
