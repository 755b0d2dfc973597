// The column rule of the reference edge search: the last line before the first
// run of five dark lines.
#include <gtest/gtest.h>

#include <vector>

#include "calibration/edge_search.h"

namespace qrx::test {
namespace {

std::vector<uint32_t> column(std::initializer_list<int> dark_lines, size_t lines = 256) {
  std::vector<uint32_t> means(lines, 200);
  for (int l : dark_lines) means[l] = 20;
  return means;
}

TEST(EdgeColumnTest, FiveDarkLinesInARowMarkTheEdge) {
  EXPECT_EQ(calibration::column_edge(column({101, 102, 103, 104, 105}), 120), 100);
  EXPECT_EQ(calibration::column_edge(column({1, 2, 3, 4, 5}), 120), 0) << "earliest usable edge";
  EXPECT_EQ(calibration::column_edge(column({50, 51, 52, 53, 60, 61, 62, 63, 64}), 120), 59)
      << "a shorter run restarts the count";
  EXPECT_EQ(calibration::column_edge(column({}), 120), -1);
  // A mean exactly at the threshold counts as white.
  std::vector<uint32_t> at = column({10, 11, 12, 13, 14});
  at[12] = 120;
  EXPECT_EQ(calibration::column_edge(at, 120), -1);
}

TEST(EdgeColumnTest, ARunStartingAtLineZeroWrapsToTheLargestValue) {
  // The edge is a 16-bit value: 4 - 5 is 65535, which no column can be 23 lines
  // before, so the search then fails.
  EXPECT_EQ(calibration::column_edge(column({0, 1, 2, 3, 4}), 120), 65535);
}

}  // namespace
}  // namespace qrx::test
