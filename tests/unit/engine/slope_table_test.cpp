// Slope tables: ramps, plateaus, step dividers, the start-speed limit and stored
// tables, checked in the table the emulated controller received.
#include <gtest/gtest.h>

#include <vector>

#include "engine/motor_plan.h"
#include "engine/scan_program.h"
#include "engine/slope_table.h"
#include "support/sim_fixture.h"

namespace qrx::test {
namespace {

using engine::MotorPlan;

MotorPlan plan_with(uint32_t line_period, uint16_t motor_lines, uint16_t steps, uint8_t step_mode) {
  MotorPlan plan;
  plan.line_period = line_period;
  plan.motor_lines = motor_lines;
  plan.step_mode = step_mode;
  for (int s = 0; s < 5; ++s) {
    plan.slots[s].steps = steps;
    plan.slots[s].decelerate = engine::kSlotDecelerates[s];
  }
  return plan;
}

TEST(StepDividerTest, SmallestPowerOfTwoThatFitsSixteenBits) {
  EXPECT_EQ(engine::step_divider(0), 1);
  EXPECT_EQ(engine::step_divider(65536), 1);
  EXPECT_EQ(engine::step_divider(65537), 2);
  EXPECT_EQ(engine::step_divider(2 * 65536 + 1), 4);
  EXPECT_EQ(engine::step_divider(8 * 65536), 8);
  EXPECT_EQ(engine::step_divider(16 * 65536), 16);
  EXPECT_EQ(engine::step_divider(16 * 65536 + 1), 32);
}

TEST(SlopeTableTest, ASlowPassHasNoRamp) {
  // 42752 x 900 / 1200 = 32064 ticks a step: 116 steps a second.
  MotorPlan plan = plan_with(42752, 900, 64, 0);
  std::vector<uint16_t> table;
  engine::generate_slope_table(plan, 0, table);
  ASSERT_EQ(table.size(), 64u);
  for (uint16_t entry : table) EXPECT_EQ(entry, 32064);
  plan = plan_with(171008, 900, 8, 0);  // 128256 ticks: needs a divider of 2
  engine::generate_slope_table(plan, 0, table);
  EXPECT_EQ(plan.step_divider, 2);
  EXPECT_EQ(table[0], 128256 / 2);
}

TEST(SlopeTableTest, ShortFastRampIsLinearWithoutAPlateau) {
  // 5728 x 1800 / 1200 = 8592 ticks: 436 steps a second, above the ramp limit.
  MotorPlan plan = plan_with(5728, 1800, 16, 0);
  std::vector<uint16_t> table;
  engine::generate_slope_table(plan, 0, table);
  ASSERT_EQ(table.size(), 16u);
  const double delta = (9375.0 - 8592.0) / 16;
  for (int i = 0; i < 14; ++i) {
    EXPECT_EQ(table[i], 9375 - static_cast<int>(delta * i)) << i;
  }
  EXPECT_EQ(table[14], 8592);
  EXPECT_EQ(table[15], 8592);
}

TEST(SlopeTableTest, LongAccelerationStartsWithAPlateauAtStartSpeed) {
  MotorPlan plan = plan_with(5728, 1800, 64, 0);
  std::vector<uint16_t> table;
  engine::generate_slope_table(plan, 0, table);
  ASSERT_EQ(table.size(), 64u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(table[i], 9375);
  const double delta = (9375.0 - 8592.0) / 56;
  for (int i = 0; i < 54; ++i) EXPECT_EQ(table[8 + i], 9375 - static_cast<int>(delta * i)) << i;
  EXPECT_EQ(table[62], 8592);
  EXPECT_EQ(table[63], 8592);
  // A deceleration table of the same length has no plateau.
  engine::generate_slope_table(plan, 2, table);
  EXPECT_EQ(table[0], 9375);
  EXPECT_EQ(table[8], 9375 - static_cast<int>(783.0 / 64 * 8));
}

TEST(SlopeTableTest, MicroStepsShortenEveryStep) {
  MotorPlan plan = plan_with(5728, 1800, 16, 2);  // four micro-steps a step
  std::vector<uint16_t> table;
  engine::generate_slope_table(plan, 0, table);
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
  for (size_t i = 0; i < entries; ++i) words[i] = static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return words;
}

TEST_F(SlopeUploadTest, AccelerationTablesStartNoFasterThanTheStartSpeed) {
  ASSERT_TRUE(open_scanner());
  auto& context = lib().context;
  ASSERT_TRUE(engine::set_memory_map(context, 0));
  context.stored_table = {0, 0};
  MotorPlan plan = plan_with(5728, 1800, 64, 0);
  ASSERT_TRUE(engine::load_slope_table(context, lib().setting, 0, plan));
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
  ASSERT_TRUE(engine::load_slope_table(context, lib().setting, 2, plan));
  EXPECT_EQ(slot_in_chip(*scanner, 2, 1)[0], 9375 / 4);
}

TEST_F(SlopeUploadTest, StoredTablesAreCopiedAndTheirEndHoldsTheLastStepTime) {
  ASSERT_TRUE(open_scanner());
  auto& context = lib().context;
  ASSERT_TRUE(engine::set_memory_map(context, 0));
  // Move row 9 uses stored table 10 for both ramps: 500 steps of 4 micro-steps,
  // 2000 entries from a table of 256.
  MotorPlan plan;
  engine::plan_motor(context, lib().setting, 1, 2, 24, 3, 300, 0, 9, plan);
  ASSERT_EQ(context.stored_table[0], 10);
  ASSERT_EQ(plan.slots[2].steps, 500);
  plan.step_divider = 1;
  ASSERT_TRUE(engine::load_slope_table(context, lib().setting, 2, plan));
  const auto table = slot_in_chip(*scanner, 2, 2000);
  EXPECT_EQ(table[0], 7500);
  EXPECT_EQ(table[9], 7471);
  EXPECT_EQ(table[255], 511);
  EXPECT_EQ(table[256], 511) << "no zero step time past the stored entries";
  EXPECT_EQ(table[1999], 511);
}

}  // namespace
}  // namespace qrx::test
