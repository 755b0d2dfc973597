// The glass geometry seen through the driver's own passes: the step-out move, the
// reference edge search's levels and 256-line scan, and the scan origin it implies.
#include <gtest/gtest.h>

#include "emulator/geometry.h"
#include "scanner_fixture.h"

namespace qrx::emu::test {
namespace {

class ReferenceEdgeTest : public ScannerFixture<::testing::TestWithParam<int>> {
 protected:
  void SetUp() override {
    Options o;
    o.port_type = static_cast<uint8_t>(GetParam());
    make(o);
  }
  // Programs, starts and reads a pass to its end, waiting for the motor like the driver.
  std::vector<uint8_t> run(const PassSetup& s, uint32_t bytes) {
    EXPECT_TRUE(program_pass(*usb_, *scanner_, s));
    EXPECT_TRUE(usb_->start());
    std::vector<uint8_t> all = read_pass(bytes);
    for (int i = 0; i < 6000 && (usb_->must_read(0x41) & 1); ++i) clock_.sleep_ms(100);
    EXPECT_TRUE(usb_->set_bits(0x01, 0, 0, 0));
    return all;
  }
  static int mean(const std::vector<uint8_t>& line, size_t from, size_t to) {
    int sum = 0;
    for (size_t i = from; i < to; ++i) sum += line[i];
    return sum / int(to - from);
  }
};

TEST_P(ReferenceEdgeTest, EdgeSearchFindsTheExpectedHomeOffset) {
  // Step out: 1000 steps with move row 2 (1200 dpi, line period 10848, step mode 2,
  // 8 + 8 ramp steps), two colour lines over a 256-unit window.
  PassSetup step;
  step.resolution = 1200;
  step.width = 256;
  step.depth = 24;
  step.lines = 2;
  step.feed_steps = 1000;
  step.accel_steps = 8;
  step.decel_steps = 8;
  step.step_mode = 2;
  step.line_period = 10848;
  step.exposure = 0;
  run(step, 2 * 128 * 3);
  EXPECT_DOUBLE_EQ(scanner_->carriage_steps(), scanner_->step_out_steps());

  // 600 dpi grey, 8 bits, window 8684 + 1796; slot 0 of 8 steps (port type 1) or 64.
  PassSetup edge;
  edge.resolution = 600;
  edge.x = 8684;
  edge.width = 1796;
  edge.depth = 8;
  edge.feed_steps = 4;
  edge.accel_steps = GetParam() == 1 ? 8 : 64;
  edge.step_mode = GetParam() == 1 ? 1 : 0;
  edge.line_period = 21376;
  edge.exposure = 3141;
  edge.lines = 1;
  edge.motor = false;
  edge.leds = false;
  const int dark = mean(run(edge, 449), 0, 449);
  edge.leds = true;
  const int white = mean(run(edge, 449), 0, 449);
  EXPECT_LT(dark, 0.8 * white);
  const int threshold = (white - dark) * 60 / 100;
  edge.motor = true;
  edge.lines = 256;
  const auto lines = run(edge, 256 * 449);
  ASSERT_EQ(lines.size(), 256u * 449);
  const auto edge_of = [&](size_t from, size_t to) {
    int run_length = 0;
    for (int l = 0; l < 256; ++l) {
      const std::vector<uint8_t> line(lines.begin() + l * 449, lines.begin() + (l + 1) * 449);
      run_length = threshold <= mean(line, from, to) ? 0 : run_length + 1;
      if (run_length == 5) return l - 5;
    }
    return 256;
  };
  const int a = edge_of(0, 94), b = edge_of(355, 449);
  ASSERT_LT(a, 256);
  EXPECT_GE(b - a, 23);
  const int offset = static_cast<int>(a * 1200 / 600 + edge.accel_steps + 4 + 151.18110236220477);
  EXPECT_EQ(offset, scanner_->expected_home_offset());
  EXPECT_DOUBLE_EQ(scanner_->step_out_steps() + offset, scanner_->scan_origin_steps());
  // The document starts at the origin: the chart's paper, not the white strip.
  const Reflectance above = scanner_->reflectance(5000, 2 * scanner_->scan_origin_steps() - 1);
  const Reflectance below = scanner_->document_reflectance(5000, 0);
  EXPECT_NE(above.green, below.green);
}

INSTANTIATE_TEST_SUITE_P(PortTypes, ReferenceEdgeTest, ::testing::Values(1, 2));

}  // namespace
}  // namespace qrx::emu::test
