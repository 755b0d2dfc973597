// Index conventions of the per-mode tuning tables.
#include "settings/tuning_index.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace qrx::settings {
namespace {

TEST(TuningIndexTest, ResolutionIndexDoublesFrom75Dpi) {
  EXPECT_EQ(resolution_index(75), 0);
  EXPECT_EQ(resolution_index(149), 0);
  EXPECT_EQ(resolution_index(150), 1);
  EXPECT_EQ(resolution_index(300), 2);
  EXPECT_EQ(resolution_index(600), 3);
  EXPECT_EQ(resolution_index(1200), 4);
  EXPECT_EQ(resolution_index(2400), 5);
  EXPECT_EQ(resolution_index(4799), 5);
  EXPECT_EQ(resolution_index(4800), 6);
  EXPECT_EQ(resolution_index(9600), 7);
  EXPECT_EQ(resolution_index(19200), 8);  // beyond the tables: getters answer 0
  EXPECT_EQ(resolution_index(UINT32_MAX), 25);
}

TEST(TuningIndexTest, ResolutionIndexBelow75DpiIsNoCellButZeroDpiIsTheFirst) {
  EXPECT_EQ(resolution_index(74), -1);
  EXPECT_EQ(resolution_index(1), -1);
  EXPECT_EQ(resolution_index(0), 0);
}

TEST(TuningIndexTest, DepthClassOfKnownAndOtherDepths) {
  EXPECT_EQ(depth_class(8), 0);
  EXPECT_EQ(depth_class(16), 1);
  EXPECT_EQ(depth_class(24), 2);
  EXPECT_EQ(depth_class(48), 3);
  EXPECT_EQ(depth_class(0), 0);
  EXPECT_EQ(depth_class(1), 0);
  EXPECT_EQ(depth_class(32), 0);
}

TEST(TuningIndexTest, PortGroupIsPortTypeMinusOneClampedIntoTheTable) {
  EXPECT_EQ(port_group(1), 0);
  EXPECT_EQ(port_group(2), 1);
  EXPECT_EQ(port_group(0), 0);
  EXPECT_EQ(port_group(3), 1);
  EXPECT_EQ(port_group(UINT32_MAX), 1);
}

}  // namespace
}  // namespace qrx::settings
