// The shading a calibration computes makes the sensor flat: a fresh read of the
// white strip, corrected by the emulated controller with the uploaded offsets and
// gains and averaged over 16 lines, stays within 1 % of its mean at every pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "calibration/shading_files.h"
#include "pass/carriage.h"
#include "pass/motor_plan.h"
#include "pass/scan_program.h"
#include "platform/clock.h"
#include "support/sim_fixture.h"
#include "transport/registers.h"

namespace qrx::test {
namespace {

class FlatnessTest : public SimTest, public ::testing::WithParamInterface<uint16_t> {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_TRUE(open_scanner());
  }
  // Reads lines of the white strip with shading on, standing at the step-out
  // position, and returns them (48-bit, planar).
  std::vector<uint8_t> read_corrected(uint16_t resolution, const transport::ExposureSet& exposure,
                                      uint32_t lines) {
    auto& context = lib().context;
    pass::ScanSetup image;
    image.x_resolution = image.y_resolution = resolution;
    image.bit_depth = 48;
    image.light_source = 1;
    image.feed_steps = 4;
    image.window_x = 0;
    image.window_width = 20544;
    image.lines = lines;
    image.channels = 3;
    image.port_type = static_cast<uint8_t>(context.link.port_type());
    image.exposure = exposure;
    image.shading_on = 1;
    image.no_motor = 1;
    image.fast_feed = 1;
    image.lamp_on = 1;
    pass::ScanSetup read = image;
    EXPECT_EQ(pass::program_scan(context, lib().setting, image, read), QRX_OK);
    EXPECT_EQ(pass::start_motor(context), QRX_OK);
    const uint32_t total = context.read_line_bytes * lines;
    std::vector<uint8_t> data(total);
    uint32_t got = 0;
    while (got < total) {
      uint32_t units = 0;
      EXPECT_TRUE(transport::read_register32(context.link, 0x42, units));
      const uint32_t chunk = std::min({units * 4, total - got, 61424u});
      if (chunk == 0) {
        platform::clock().sleep_ms(10);
        continue;
      }
      EXPECT_TRUE(transport::read_image_data(context.link, data.data() + got, chunk));
      got += chunk;
    }
    EXPECT_EQ(pass::wait_for_stop(context), QRX_OK);
    return data;
  }
};

TEST_P(FlatnessTest, TheCorrectedWhiteStripIsFlat) {
  const uint16_t resolution = GetParam();
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, resolution), QRX_TRUE) << std::hex << last_error();
  auto& context = lib().context;
  transport::ExposureSet exposure;
  const calibration::ShadingScan scan{
      .resolution = resolution, .lamp_mode = 1, .bits_per_pixel = 48, .count = false};
  ASSERT_EQ(calibration::load_shading_for_scan(context, lib().setting, scan, exposure), QRX_OK);
  ASSERT_EQ(pass::home_and_step_out(context, lib().setting), QRX_OK);
  const uint32_t lines = 16;
  const std::vector<uint8_t> data = read_corrected(resolution, exposure, lines);
  const uint32_t line_bytes = context.read_line_bytes;
  const uint32_t pixels = line_bytes / 6;
  ASSERT_EQ(pixels, 20544u * resolution / 2400);
  for (uint32_t c = 0; c < 3; ++c) {
    std::vector<double> average(pixels, 0.0);
    for (uint32_t l = 0; l < lines; ++l) {
      const uint8_t* block = data.data() + l * line_bytes + c * pixels * 2;
      for (uint32_t x = 0; x < pixels; ++x) average[x] += block[2 * x] | block[2 * x + 1] << 8;
    }
    double mean = 0;
    for (double& v : average) mean += (v /= lines);
    mean /= pixels;
    EXPECT_GT(mean, 40000.0) << "channel " << c << " should be near its white target";
    double worst = 0;
    uint32_t worst_pixel = 0;
    for (uint32_t x = 0; x < pixels; ++x) {
      const double deviation = std::fabs(average[x] - mean) / mean;
      if (deviation > worst) {
        worst = deviation;
        worst_pixel = x;
      }
    }
    EXPECT_LE(worst, 0.01) << "channel " << c << " pixel " << worst_pixel << " mean " << mean;
  }
}

INSTANTIATE_TEST_SUITE_P(Resolutions, FlatnessTest, ::testing::Values(300, 600, 1200, 2400));

}  // namespace
}  // namespace qrx::test
