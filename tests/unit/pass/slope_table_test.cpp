// Slope tables: ramps, plateaus, step dividers, the start-speed limit and stored
// tables, checked in the table the emulated controller received.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "pass/carriage.h"
#include "pass/motor_plan.h"
#include "pass/scan_program.h"
#include "pass/slope_table.h"
#include "platform/memory.h"
#include "support/sim_fixture.h"

namespace qrx::test {
namespace {

using pass::MotorPlan;

MotorPlan plan_with(uint32_t line_period, uint16_t motor_lines, uint16_t steps, uint8_t step_mode) {
  MotorPlan plan;
  plan.line_period = line_period;
  plan.motor_lines = motor_lines;
  plan.step_mode = step_mode;
  for (int s = 0; s < 5; ++s) {
    plan.slots[s].steps = steps;
    plan.slots[s].decelerate = pass::kSlotDecelerates[s];
  }
  return plan;
}

TEST(StepDividerTest, EveryRungAtItsEdgeAndOnePast) {
  // c = (v + 65535) / 65536: 1 and below give 1, 2 gives 2, 3..4 give 4, 5..8
  // give 8, 9..16 give 16, above 16 gives 32.
  const std::pair<uint32_t, uint8_t> cases[] = {{0, 1},
                                                {65536, 1},
                                                {65537, 2},
                                                {2 * 65536, 2},
                                                {2 * 65536 + 1, 4},
                                                {4 * 65536, 4},
                                                {4 * 65536 + 1, 8},
                                                {8 * 65536, 8},
                                                {8 * 65536 + 1, 16},
                                                {16 * 65536, 16},
                                                {16 * 65536 + 1, 32},
                                                {255 * 65536, 32}};
  for (const auto& [v, divider] : cases) EXPECT_EQ(pass::step_divider(v), divider) << v;
  // c is kept in 8 bits and the sum in 32: 256 x 65536 gives c = 0, as does the
  // largest value.
  EXPECT_EQ(pass::step_divider(256 * 65536), 1);
  EXPECT_EQ(pass::step_divider(0xFFFFFFFFu), 1);
}

TEST(SlopeTableTest, ASlowPassHasNoRamp) {
  // 42752 x 900 / 1200 = 32064 ticks a step: 116 steps a second.
  MotorPlan plan = plan_with(42752, 900, 64, 0);
  std::vector<uint16_t> table;
  pass::generate_slope_table(plan, 0, table);
  ASSERT_EQ(table.size(), 64u);
  for (uint16_t entry : table) EXPECT_EQ(entry, 32064);
  plan = plan_with(171008, 900, 8, 0);  // 128256 ticks: needs a divider of 2
  pass::generate_slope_table(plan, 0, table);
  EXPECT_EQ(plan.step_divider, 2);
  EXPECT_EQ(table[0], 64128);
}

TEST(SlopeTableTest, TheRampNeedsMoreThan400StepsASecondAndSixteenEntries) {
  // 18720 x 600 / 1200 = 9360 ticks, 9360 x 8 / 30 = 2496 us a step: 400 steps a
  // second (in whole steps), not more: no ramp from 9375 down to 9360.
  MotorPlan plan = plan_with(18720, 600, 16, 0);
  std::vector<uint16_t> table;
  pass::generate_slope_table(plan, 0, table);
  EXPECT_EQ(table, std::vector<uint16_t>(16, 9360));
  // 18698 x 600 / 1200 = 9349 ticks, 2493 us: 401 steps a second.
  plan = plan_with(18698, 600, 16, 0);
  pass::generate_slope_table(plan, 0, table);
  EXPECT_EQ(table, (std::vector<uint16_t>{9375, 9374, 9372, 9371, 9369, 9367, 9366, 9364, 9362,
                                          9361, 9359, 9358, 9356, 9354, 9349, 9349}));
  // Fast enough, but fifteen entries are too few for a ramp.
  plan = plan_with(18698, 600, 15, 0);
  pass::generate_slope_table(plan, 0, table);
  EXPECT_EQ(table, std::vector<uint16_t>(15, 9349));
}

TEST(SlopeTableTest, ShortFastRampIsLinearWithoutAPlateau) {
  // 5728 x 1800 / 1200 = 8592 ticks: 436 steps a second, above the ramp limit.
  // From 9375 down by 783 / 16 a step, the last two at 8592.
  MotorPlan plan = plan_with(5728, 1800, 16, 0);
  std::vector<uint16_t> table;
  pass::generate_slope_table(plan, 0, table);
  EXPECT_EQ(table, (std::vector<uint16_t>{9375, 9327, 9278, 9229, 9180, 9131, 9082, 9033, 8984,
                                          8935, 8886, 8837, 8788, 8739, 8592, 8592}));
}

TEST(SlopeTableTest, LongAccelerationStartsWithAPlateauAtStartSpeed) {
  // Eight entries at 9375, then down by 783 / 56 an entry, the last two at 8592.
  MotorPlan plan = plan_with(5728, 1800, 64, 0);
  std::vector<uint16_t> table;
  pass::generate_slope_table(plan, 0, table);
  EXPECT_EQ(table, (std::vector<uint16_t>{
                       9375, 9375, 9375, 9375, 9375, 9375, 9375, 9375, 9375, 9362, 9348, 9334, 9320,
                       9306, 9292, 9278, 9264, 9250, 9236, 9222, 9208, 9194, 9180, 9166, 9152, 9138,
                       9124, 9110, 9096, 9082, 9068, 9054, 9040, 9026, 9012, 8998, 8984, 8970, 8956,
                       8942, 8928, 8914, 8900, 8886, 8872, 8858, 8844, 8830, 8816, 8802, 8788, 8774,
                       8760, 8746, 8732, 8718, 8704, 8690, 8676, 8662, 8648, 8634, 8592, 8592}));
  // A deceleration table of the same length has no plateau: 783 / 64 an entry.
  pass::generate_slope_table(plan, 2, table);
  EXPECT_EQ(table, (std::vector<uint16_t>{
                       9375, 9363, 9351, 9339, 9327, 9314, 9302, 9290, 9278, 9265, 9253, 9241, 9229,
                       9216, 9204, 9192, 9180, 9168, 9155, 9143, 9131, 9119, 9106, 9094, 9082, 9070,
                       9057, 9045, 9033, 9021, 9008, 8996, 8984, 8972, 8960, 8947, 8935, 8923, 8911,
                       8898, 8886, 8874, 8862, 8849, 8837, 8825, 8813, 8800, 8788, 8776, 8764, 8752,
                       8739, 8727, 8715, 8703, 8690, 8678, 8666, 8654, 8641, 8629, 8592, 8592}));
}

TEST(SlopeTableTest, MicroStepsShortenEveryStep) {
  MotorPlan plan = plan_with(5728, 1800, 16, 2);  // four micro-steps a step
  std::vector<uint16_t> table;
  pass::generate_slope_table(plan, 0, table);
  ASSERT_EQ(table.size(), 64u);
  EXPECT_EQ(table[0], 9375 / 4);
  EXPECT_EQ(table[63], 8592 / 4);
}

using SlopeUploadTest = SimTest;

std::vector<uint16_t> slot_in_chip(emu::Scanner& scanner, int slot, size_t entries) {
  std::vector<uint8_t> bytes(entries * 2);
  EXPECT_TRUE(scanner.peek_memory(0x10000000 + 0x4000 * slot, bytes.data(),
                                  static_cast<uint32_t>(bytes.size())));
  std::vector<uint16_t> words(entries);
  for (size_t i = 0; i < entries; ++i)
    words[i] = static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return words;
}

TEST_F(SlopeUploadTest, AccelerationTablesStartNoFasterThanTheStartSpeed) {
  ASSERT_TRUE(open_scanner());
  auto& context = lib().context;
  ASSERT_TRUE(pass::set_memory_map(context, 0));
  context.stored_table = {0, 0};
  MotorPlan plan = plan_with(5728, 1800, 64, 0);
  ASSERT_EQ(pass::load_slope_table(context, lib().setting, 0, plan), QRX_OK);
  // 9375 x 1 is below the start limit 187504: divider 4, entry 0 = 187504 / 4.
  EXPECT_EQ(plan.step_divider, 4);
  const auto table = slot_in_chip(*scanner, 0, 64);
  EXPECT_EQ(table[0], 46876);
  EXPECT_EQ(table[1], 9375 / 4);
  EXPECT_EQ(table[63], 8592 / 4);
  EXPECT_EQ(plan.slots[0].last_step_time, 8592u / 4);
  uint32_t sum = 0;
  for (uint16_t entry : table) sum += entry;
  EXPECT_EQ(plan.slots[0].table_sum, sum);
  // Deceleration tables are not limited.
  ASSERT_EQ(pass::load_slope_table(context, lib().setting, 2, plan), QRX_OK);
  EXPECT_EQ(slot_in_chip(*scanner, 2, 1)[0], 9375 / 4);
}

TEST_F(SlopeUploadTest, StoredTablesAreCopiedAndTheirEndHoldsTheLastStepTime) {
  ASSERT_TRUE(open_scanner());
  auto& context = lib().context;
  ASSERT_TRUE(pass::set_memory_map(context, 0));
  // Move row 9 uses stored table 10 for both ramps: 500 steps of 4 micro-steps,
  // 2000 entries from a table of 256.
  MotorPlan plan;
  pass::ScanSetup approach;  // the oversampled approach row, flatbed, port type 2
  approach.light_source = 1;
  approach.port_type = 2;
  approach.bit_depth = 24;
  approach.channels = 3;
  approach.y_resolution = 300;
  approach.move_row = 9;
  pass::plan_motor(context, lib().setting, approach, plan);
  ASSERT_EQ(context.stored_table[0], 10);
  ASSERT_EQ(plan.slots[2].steps, 500);
  plan.step_divider = 1;
  ASSERT_EQ(pass::load_slope_table(context, lib().setting, 2, plan), QRX_OK);
  const auto table = slot_in_chip(*scanner, 2, 2000);
  EXPECT_EQ(table[0], 7500);
  EXPECT_EQ(table[9], 7471);
  EXPECT_EQ(table[255], 511);
  EXPECT_EQ(table[256], 511) << "no zero step time past the stored entries";
  EXPECT_EQ(table[1999], 511);
}

TEST_F(SlopeUploadTest, AMoveWhoseTablesCannotBeLoadedDoesNotStart) {
  // Left to the chip's previous tables the pass would travel another ramp than
  // its plan. The five tables are the move's five bulk writes, slots 0 to 4.
  ASSERT_TRUE(open_scanner());
  auto& context = lib().context;
  const uint16_t codes[5] = {QRX_E_MOTOR_SLOT0, QRX_E_MOTOR_SLOT1, QRX_E_MOTOR_SLOT2,
                             QRX_E_MOTOR_SLOT3, QRX_E_MOTOR_SLOT4};
  for (uint32_t slot = 0; slot < 5; ++slot) {
    scanner->fail_request({emu::RequestKind::BulkOut}, slot + 1);
    EXPECT_EQ(pass::move(context, lib().setting, {.distance = 2000, .row = pass::kRowHome}),
              codes[slot]);
    scanner->clear_faults();
    EXPECT_FALSE(scanner->motor_running()) << slot;
  }
  platform::fail_allocation_after(0);
  EXPECT_EQ(pass::move(context, lib().setting, {.distance = 2000, .row = pass::kRowHome}),
            QRX_E_NOMEM_SLOPE);
  EXPECT_FALSE(scanner->motor_running());
  ASSERT_EQ(pass::move(context, lib().setting, {.distance = 2000, .row = pass::kRowHome}), QRX_OK);
  EXPECT_TRUE(scanner->motor_running()) << "with its tables the move goes";
  EXPECT_EQ(pass::wait_for_stop(context), QRX_OK);
}

}  // namespace
}  // namespace qrx::test
