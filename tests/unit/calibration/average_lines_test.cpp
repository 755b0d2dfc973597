// The reduction of reference lines to one line of trimmed means, on every kernel the
// processor can run, against a sort-based reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "calibration/shading_math.h"
#include "calibration/shading_math_kernels.h"
#include "platform/memory.h"

namespace qrx::calibration {
namespace {

struct Block {
  uint32_t lines = 0;
  uint32_t samples = 0;
  std::vector<uint8_t> bytes;
  uint16_t at(uint32_t line, uint32_t sample) const {
    const size_t i = (size_t{line} * samples + sample) * 2;
    return static_cast<uint16_t>(bytes[i] | (bytes[i + 1] << 8));
  }
};

Block random_block(std::mt19937& random, uint32_t lines, uint32_t samples, uint32_t range) {
  Block b{lines, samples, std::vector<uint8_t>(size_t{lines} * samples * 2)};
  for (size_t i = 0; i < b.bytes.size(); i += 2) {
    const uint32_t v = random() % range;
    b.bytes[i] = static_cast<uint8_t>(v);
    b.bytes[i + 1] = static_cast<uint8_t>(v >> 8);
  }
  return b;
}

// Per column: sort, drop the cuts, integer mean. Cuts that would leave nothing
// keep one value, the low cut taking its share first.
std::vector<uint16_t> reference(const Block& b, uint32_t upper, uint32_t lower) {
  uint32_t low = std::min(b.lines * lower / 100, b.lines - 1);
  uint32_t high = std::min(b.lines * upper / 100, b.lines - 1 - low);
  std::vector<uint16_t> out(b.samples);
  std::vector<uint16_t> column(b.lines);
  for (uint32_t i = 0; i < b.samples; ++i) {
    for (uint32_t l = 0; l < b.lines; ++l) column[l] = b.at(l, i);
    std::sort(column.begin(), column.end());
    uint64_t sum = 0;
    for (uint32_t l = low; l < b.lines - high; ++l) sum += column[l];
    out[i] = static_cast<uint16_t>(sum / (b.lines - low - high));
  }
  return out;
}

std::vector<AverageKernel> kernels() {
  std::vector<AverageKernel> all;
  for (AverageKernel k :
       {AverageKernel::kBest, AverageKernel::kByColumn, AverageKernel::kVector16,
        AverageKernel::kVector16Sse41, AverageKernel::kVector32, AverageKernel::kVector64}) {
    if (average_kernel_available(k)) all.push_back(k);
  }
  return all;
}

TEST(AverageLines, EveryKernelGivesTheTrimmedMeanOfEachColumn) {
  std::mt19937 random(7730);
  const auto available = kernels();
  ASSERT_GE(available.size(), 3u) << "at least best, column by column and 16-byte vectors";
  for (int trial = 0; trial < 400; ++trial) {
    // Line counts around the list lengths a kernel keeps in registers, column
    // counts that leave partial vectors, cuts from none to more than half.
    const uint32_t lines = 1 + random() % 60;
    const uint32_t samples = 1 + random() % 80;
    const uint32_t upper = random() % 101, lower = random() % 101;
    const uint32_t range = trial % 4 == 0 ? 3 : 65536;
    const Block b = random_block(random, lines, samples, range);
    const auto expected = reference(b, upper, lower);
    for (AverageKernel k : available) {
      std::vector<uint16_t> out(samples + 1, 0xBEEF);
      ASSERT_TRUE(
          average_lines_with(k, {b.bytes.data(), lines, samples}, upper, lower, out.data()));
      ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()))
          << "kernel " << int(k) << " lines " << lines << " samples " << samples << " cuts "
          << upper << "/" << lower;
      ASSERT_EQ(out[samples], 0xBEEF) << "nothing written past the line";
    }
  }
}

TEST(AverageLines, ReferencePassesWithTheTunedCuts) {
  // 48 lines of a 300 dpi colour line (3 x 2568 positions), white and dark cuts.
  std::mt19937 random(300);
  const Block b = random_block(random, 48, 3 * 2568, 65536);
  for (auto [upper, lower] : {std::pair{5u, 45u}, std::pair{20u, 20u}}) {
    const auto expected = reference(b, upper, lower);
    for (AverageKernel k : kernels()) {
      std::vector<uint16_t> out(b.samples);
      ASSERT_TRUE(average_lines_with(k, {b.bytes.data(), 48, b.samples}, upper, lower, out.data()));
      EXPECT_EQ(out, expected) << "kernel " << int(k) << " cuts " << upper << "/" << lower;
    }
  }
}

TEST(AverageLines, ManyLinesAndExtremeValues) {
  std::mt19937 random(4097);
  // Past 4096 lines the vector kernels divide exactly instead of by reciprocal, past
  // 65536 lines the column sums no longer fit 32 bits and columns go one by one.
  for (uint32_t lines : {4097u, 70000u}) {
    Block b = random_block(random, lines, 5, 65536);
    for (uint32_t l = 0; l < lines; ++l) {
      for (uint32_t s : {0u, 2u, 4u}) {  // even positions all 65535
        b.bytes[(size_t{l} * 5 + s) * 2] = 0xFF;
        b.bytes[(size_t{l} * 5 + s) * 2 + 1] = 0xFF;
      }
    }
    const auto expected = reference(b, 10, 30);
    EXPECT_EQ(expected[0], 65535);
    for (AverageKernel k : kernels()) {
      std::vector<uint16_t> out(5);
      ASSERT_TRUE(average_lines_with(k, {b.bytes.data(), lines, 5}, 10, 30, out.data()));
      EXPECT_EQ(out, expected) << "kernel " << int(k) << " lines " << lines;
    }
  }
}

TEST(AverageLines, SamplesAreLittleEndianAndEdgeShapesWork) {
  const uint8_t one_line[] = {0x34, 0x12, 0xFF, 0x00};
  uint16_t out[2] = {};
  ASSERT_TRUE(average_lines({one_line, 1, 2}, 20, 20, out));
  EXPECT_EQ(out[0], 0x1234);
  EXPECT_EQ(out[1], 0x00FF);

  uint16_t untouched = 0xBEEF;
  EXPECT_TRUE(average_lines({one_line, 1, 0}, 20, 20, &untouched));
  EXPECT_EQ(untouched, 0xBEEF);
  EXPECT_TRUE(average_lines({nullptr, 0, 1}, 20, 20, &untouched));
  EXPECT_EQ(untouched, 0) << "no lines: a line of zeros";
  EXPECT_FALSE(average_lines({one_line, 1, 2}, 20, 20, nullptr));
}

TEST(AverageLines, AFailedWorkingBufferIsReported) {
  std::mt19937 random(1);
  const Block b = random_block(random, 48, 64, 65536);
  for (AverageKernel k : kernels()) {
    std::vector<uint16_t> out(64, 0xBEEF);
    platform::fail_allocation_after(0);
    EXPECT_FALSE(average_lines_with(k, {b.bytes.data(), 48, 64}, 5, 45, out.data()))
        << "kernel " << int(k);
    platform::fail_allocation_after(-1);
    EXPECT_EQ(out[0], 0xBEEF);
  }
}

}  // namespace
}  // namespace qrx::calibration
