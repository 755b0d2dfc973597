// Compiled-in defaults of the per-mode motion tables: line periods, slope-step counts, micro-step
// modes, motor phases, feed steps, vertical bounds, the carriage-move settings and the choice of
// stored slope tables. Rows are written per port group and depth class, resolution index 0 to 7.
#include "settings/default_values.h"

namespace qrx::settings::internal {
namespace {

constexpr int kDepth8 = 0;
constexpr int kDepth16 = 1;
constexpr int kDepth24 = 2;
constexpr int kDepth48 = 3;

using RampRow = std::array<std::array<uint16_t, kRampEnds>, kResolutionIndexes>;

// Fills every cell of a table with one value.
template <typename Table, typename T>
void FillAll(Table& table, T value) {
  for (auto& group : table)
    for (auto& depth : group)
      for (auto& cell : depth) cell = value;
}

void SetLinePeriods(BookTable<uint32_t>& t) {
  t[0][kDepth8] = {55296, 27648, 13824, 21376, 10688, 21376, 21376, 85504};
  t[0][kDepth16] = {};
  t[0][kDepth24] = {18432, 9216, 10688, 21376, 10688, 21376, 21376, 85504};
  t[0][kDepth48] = {18432, 10688, 21376, 42752, 21376, 42752, 42752, 171008};
  t[1][kDepth8] = {55296, 27648, 13824, 6912, 10848, 21120, 21120, 21120};
  t[1][kDepth16] = {};
  t[1][kDepth24] = {18432, 9216, 6912, 5728, 10848, 21120, 21120, 21120};
  t[1][kDepth48] = {18432, 9216, 6912, 5728, 10848, 21120, 21120, 21120};
}

void SetBookSlopeSteps(BookRampTable<uint16_t>& t) {
  const RampRow group0_grey = {
      {{256, 64}, {256, 64}, {128, 64}, {8, 8}, {8, 8}, {8, 8}, {8, 8}, {8, 8}}};
  const RampRow group0_colour = {
      {{256, 64}, {256, 64}, {64, 8}, {64, 8}, {8, 8}, {8, 8}, {8, 8}, {8, 8}}};
  t[0][kDepth8] = group0_grey;
  t[0][kDepth16] = group0_grey;
  t[0][kDepth24] = group0_colour;
  t[0][kDepth48] = group0_colour;

  const RampRow group1_colour = {
      {{256, 64}, {256, 64}, {128, 64}, {64, 8}, {8, 8}, {8, 8}, {8, 8}, {8, 8}}};
  t[1][kDepth8] = {{{256, 64}, {256, 64}, {256, 64}, {64, 32}, {8, 8}, {8, 8}, {8, 8}, {8, 8}}};
  t[1][kDepth16] = {{{256, 64}, {256, 64}, {128, 64}, {128, 64}, {8, 8}, {8, 8}, {8, 8}, {8, 8}}};
  t[1][kDepth24] = group1_colour;
  t[1][kDepth48] = group1_colour;
}

void SetFilmSlopeSteps(FilmRampTable<uint16_t>& t) {
  for (auto& depth : t[0]) depth = {{{64, 8}, {64, 8}, {8, 8}, {8, 8}, {8, 8}, {8, 8}}};
  for (auto& depth : t[1]) depth = {{{160, 160}, {64, 8}, {8, 8}, {8, 8}, {8, 8}, {8, 8}}};
}

void SetBookStepModes(BookTable<uint8_t>& t) {
  t[0][kDepth8] = {0, 0, 1, 1, 1, 2, 2, 2};
  t[0][kDepth16] = t[0][kDepth8];
  t[0][kDepth24] = {0, 0, 1, 2, 2, 2, 2, 2};
  t[0][kDepth48] = t[0][kDepth24];
  t[1][kDepth8] = {0, 0, 0, 0, 1, 1, 3, 3};
  t[1][kDepth16] = t[1][kDepth8];
  t[1][kDepth24] = {0, 0, 1, 1, 2, 2, 3, 3};
  t[1][kDepth48] = t[1][kDepth24];
}

void SetBookPhaseIndexes(BookTable<uint8_t>& t) {
  t[0][kDepth8] = {6, 6, 6, 2, 2, 4, 4, 4};
  t[0][kDepth16] = t[0][kDepth8];
  t[0][kDepth24] = {6, 6, 6, 2, 4, 4, 4, 4};
  t[0][kDepth48] = t[0][kDepth24];
  t[1][kDepth8] = {6, 6, 6, 6, 2, 2, 4, 4};
  t[1][kDepth16] = t[1][kDepth8];
  t[1][kDepth24] = {6, 6, 6, 6, 2, 4, 4, 4};
  t[1][kDepth48] = t[1][kDepth24];
}

void SetFeedSteps(BookTable<uint8_t>& t) {
  t[0][kDepth8] = {4, 4, 4, 55, 55, 55, 127, 127};
  t[0][kDepth16] = {127, 127, 127, 127, 127, 127, 127, 127};
  t[0][kDepth24] = {4, 4, 4, 4, 127, 127, 127, 127};
  t[0][kDepth48] = t[0][kDepth24];
  t[1][kDepth8] = {4, 4, 4, 4, 55, 55, 127, 127};
  t[1][kDepth16] = {127, 127, 127, 127, 127, 127, 127, 127};
  t[1][kDepth24] = {4, 4, 4, 4, 127, 127, 127, 127};
  t[1][kDepth48] = t[1][kDepth24];
}

}  // namespace

void SetDefaultMotionTables(TuningValues& v) {
  SetLinePeriods(v.LINEPERIOD_BOOK);
  SetLinePeriods(v.LINEPERIOD_FAU);  // film scans use the flatbed periods
  SetBookSlopeSteps(v.SLOPETABLESTEP_BOOK);
  SetFilmSlopeSteps(v.SLOPETABLESTEP_FAU);

  // Carriage moves: vertical resolution, line period, step mode, acceleration steps,
  // deceleration steps, phase index.
  v.MOTOR_MSETTING = {{
      {75, 18432, 0, 256, 64, 6},
      {600, 5728, 1, 64, 8, 6},
      {1200, 10848, 2, 8, 8, 2},
      {2400, 21120, 0, 8, 8, 6},
      {2400, 21120, 1, 16, 16, 6},
      {2400, 21120, 2, 32, 32, 6},
      {2400, 21120, 3, 64, 64, 6},
      {75, 18432, 0, 256, 64, 6},
      {600, 5728, 1, 64, 8, 6},
      {300, 5472, 2, 500, 500, 0},
  }};

  // Stored slope tables: flatbed scans compute theirs; three film modes of port group 1 and the
  // last carriage move use stored tables.
  FillAll(v.MOTOR_TABLE_NUMBER, std::array<uint8_t, kRampEnds>{0, 0});
  FillAll(v.MOTOR_TABLE_NUMBER_FAU, std::array<uint8_t, kRampEnds>{0, 0});
  v.MOTOR_TABLE_NUMBER_FAU[1][0][0] = {3, 3};
  v.MOTOR_TABLE_NUMBER_FAU[1][1][0] = {3, 3};
  v.MOTOR_TABLE_NUMBER_FAU[1][2][0] = {3, 3};
  v.MOTOR_TABLE_NUMBER_MOVE = {};
  v.MOTOR_TABLE_NUMBER_MOVE[9] = {10, 10};

  // Port group 0 multiplies the motor plan by 4 from 1200 to 4800 dpi.
  for (auto& depth : v.VERTICALRES_BOUND_BOOK[0]) depth = {1, 1, 1, 1, 4, 4, 4, 1};
  for (auto& depth : v.VERTICALRES_BOUND_BOOK[1]) depth = {1, 1, 1, 1, 1, 1, 1, 1};
  FillAll(v.VERTICALRES_BOUND_FAU, uint8_t{1});

  SetBookStepModes(v.MOTORSTEPMODE_BOOK);
  for (auto& group : v.MOTORSTEPMODE_FAU)
    for (auto& depth : group) depth = {0, 2, 2, 2, 2, 2};
  SetBookPhaseIndexes(v.MOTORPHASEINDEX_BOOK);
  FillAll(v.MOTORPHASEINDEX_FAU, uint8_t{0});

  SetFeedSteps(v.SSFEEDSTEP_FW);
  SetFeedSteps(v.SSFEEDSTEP_BW);  // backward feeds match forward ones
}

}  // namespace qrx::settings::internal
