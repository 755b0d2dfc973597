// Compiled-in defaults of the non-motion tables: the controller's power-on register table, the
// analog front end and clock tables, shading coefficients, colour-registration pattern, filter
// kernels, sensor-chip layout and sampling tables.
#include <cstddef>

#include "settings/default_values.h"

namespace qrx::settings::internal {
namespace {

// Power-on register table, written in this order. Registers 0x0B, 0x6C and 0x6E appear twice on
// purpose: the later write is the one that stays.
constexpr RegisterPair kAsicRegisters[] = {
    {0x01, 0x82}, {0x02, 0x18}, {0x03, 0x50}, {0x04, 0x12},
    {0x05, 0x80}, {0x06, 0x50}, {0x08, 0x10}, {0x09, 0x01},  // 1 to 8
    {0x0A, 0x00}, {0x0B, 0x01}, {0x0C, 0x02}, {0x0D, 0x0D},
    {0x6E, 0x7E}, {0x6C, 0x00}, {0x12, 0x00}, {0x13, 0x00},  // 9 to 16
    {0x14, 0x00}, {0x15, 0x00}, {0x16, 0x10}, {0x17, 0x0C},
    {0x18, 0x00}, {0x19, 0xFF}, {0x1A, 0x34}, {0x1B, 0x00},  // 17 to 24
    {0x1C, 0x00}, {0x1D, 0x04}, {0x1E, 0x10}, {0x1F, 0x04},
    {0x20, 0x02}, {0x21, 0x10}, {0x22, 0x7F}, {0x23, 0x7F},  // 25 to 32
    {0x24, 0x10}, {0x25, 0x00}, {0x26, 0x00}, {0x27, 0x00},
    {0x2C, 0x09}, {0x2D, 0x60}, {0x2E, 0x80}, {0x2F, 0x80},  // 33 to 40
    {0x30, 0x00}, {0x31, 0x10}, {0x32, 0x15}, {0x33, 0x0E},
    {0x34, 0x40}, {0x35, 0x00}, {0x36, 0x2A}, {0x37, 0x30},  // 41 to 48
    {0x38, 0x2A}, {0x39, 0xF8}, {0x3D, 0x00}, {0x3E, 0x00},
    {0x3F, 0x00}, {0x52, 0x03}, {0x53, 0x07}, {0x54, 0x00},  // 49 to 56
    {0x55, 0x00}, {0x56, 0x00}, {0x57, 0x00}, {0x58, 0x2A},
    {0x59, 0xE1}, {0x5A, 0x55}, {0x5E, 0x41}, {0x5F, 0x40},  // 57 to 64
    {0x61, 0x00}, {0x62, 0x00}, {0x64, 0x00}, {0x65, 0x00},
    {0x67, 0x80}, {0x68, 0x80}, {0x69, 0x20}, {0x6A, 0x20},  // 65 to 72
    {0x6B, 0x02}, {0x6C, 0x00}, {0x6D, 0x20}, {0x6E, 0x7E},
    {0x6F, 0x21}, {0x74, 0x00}, {0x75, 0x00}, {0x76, 0x3C},  // 73 to 80
    {0x7A, 0x00}, {0x7B, 0x00}, {0x7C, 0x55}, {0x7D, 0x00},
    {0x87, 0x02}, {0x9D, 0x06}, {0xA2, 0x0F}, {0xA6, 0x04},  // 81 to 88
    {0xA7, 0x0F}, {0xA9, 0x00}, {0xFE, 0x08}, {0x0B, 0x09},  // 89 to 92
};
static_assert(std::size(kAsicRegisters) == kAsicRegisterPairs);

// AFE set-up per board variant, the same at every resolution.
constexpr AfeRow kAfeVariant0 = {
    {{0, 157}, {1, 145}, {2, 50}, {3, 4}, {4, 0}, {5, 0}, {6, 63}, {7, 0}}};
constexpr AfeRow kAfeVariant1 = {
    {{0, 157}, {1, 146}, {2, 53}, {3, 4}, {4, 0}, {5, 0}, {6, 36}, {7, 0}}};

void SetJaggyKernels(std::array<JaggyKernel, kJaggyKernels>& kernels) {
  for (JaggyKernel& kernel : kernels) kernel = {};
  // Kernels 0, 1 and 5 stay all zero.
  // Kernel 2: a vertical 1-2-1 through the centre.
  kernels[2][2][3] = 1;
  kernels[2][3][3] = 2;
  kernels[2][4][3] = 1;
  // Kernel 3: a diamond weighted 4 at the centre.
  kernels[3][1] = {0, 0, 0, 1, 0, 0, 0};
  kernels[3][2] = {0, 0, 1, 2, 1, 0, 0};
  kernels[3][3] = {0, 0, 1, 4, 1, 0, 0};
  kernels[3][4] = {0, 0, 1, 2, 1, 0, 0};
  kernels[3][5] = {0, 0, 0, 1, 0, 0, 0};
  // Kernel 4: a 5-row, 3-column block weighted 3 at the centre.
  kernels[4][1] = {0, 0, 1, 1, 1, 0, 0};
  kernels[4][2] = {0, 0, 1, 2, 1, 0, 0};
  kernels[4][3] = {0, 0, 1, 3, 1, 0, 0};
  kernels[4][4] = {0, 0, 1, 2, 1, 0, 0};
  kernels[4][5] = {0, 0, 1, 1, 1, 0, 0};
}

}  // namespace

void SetDefaultTables(TuningValues& v) {
  v.SPECIAL_Z1_ADD_FINALSTEP.fill(0);

  // The dark reference maps to 768 (3 in 8-bit terms) in every mode.
  for (BookTable<double>* table : {&v.BOOK_SHADING_R_COEFFICIENT, &v.BOOK_SHADING_G_COEFFICIENT,
                                   &v.BOOK_SHADING_B_COEFFICIENT}) {
    for (auto& group : *table)
      for (auto& depth : group) depth.fill(768.0);
  }

  // Colour-registration pattern: six rows in use, two spare.
  v.IROZURE_PATTERN = {{
      {1200, 1200, 3, 0, 0},
      {2400, 2400, 3, 0, 0},
      {2400, 4800, 3, 0, 0},
      {1200, 1200, 4, 0, 0},
      {2400, 2400, 4, 0, 0},
      {2400, 4800, 4, 0, 0},
      {0, 0, 0, 0, 0},
      {0, 0, 0, 0, 0},
  }};

  for (std::size_t i = 0; i < kAsicRegisterPairs; ++i)
    v.ASIC_REGISTER_SETTING[i] = kAsicRegisters[i];

  v.AFE_REGISTER_SETTING[0].fill(kAfeVariant0);
  v.AFE_REGISTER_SETTING[1].fill(kAfeVariant1);
  v.AFE_REGISTER_CCD_SETTING = {
      {{1, 35}, {2, 36}, {3, 63}, {6, 0}, {8, 0}, {9, 0}, {32, 96}, {33, 96}}};
  v.CK1NEG_SETTING[0].fill(0);
  v.CK1NEG_SETTING[1].fill(0);
  v.CK1MAP_SETTING[0].fill(60);
  v.CK1MAP_SETTING[1].fill(120);
  v.SENSOR_CROP_OFFSET = {0, 0, 56, 56, 56, 56, 56, 56};

  SetJaggyKernels(v.JAGGY_FILTER_SETTING);
  // End pixel (2400 dpi) of each of the eight 2576-pixel sensor chips.
  v.SENSOR_CHIP_AREA = {2576, 5152, 7728, 10304, 12880, 15456, 18032, 20608};
  v.chip_levels.fill(204);

  v.VSMP_TABLE.fill(1);
  v.BSMP_TABLE.fill(14);
  v.RATCH_TABLE.fill({2, 4});
}

}  // namespace qrx::settings::internal
