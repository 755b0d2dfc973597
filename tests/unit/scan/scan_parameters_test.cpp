// Scan parameters: window checks in order, unit conversion, resolution
// substitutions, and the line values the read path reports.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <utility>

#include "scan/scan_parameters.h"
#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::test {
namespace {

using scan::check_window;

ScanParameter flatbed(uint32_t x, uint32_t y, uint32_t width, uint32_t length) {
  ScanParameter p{};
  p.xRes = p.yRes = 300;
  p.BitsPerPixel = 24;
  p.ScanningArea = {x, y, width, length};
  return p;
}

ScanParameter film(uint32_t x, uint32_t y, uint32_t width, uint32_t length) {
  ScanParameter p = flatbed(x, y, width, length);
  p.FilmArea = 1;
  return p;
}

TEST(WindowCheckTest, FlatbedLimitsAndTheirCodes) {
  EXPECT_EQ(check_window(flatbed(81536, 0, 128, 128)), QRX_OK);
  EXPECT_EQ(check_window(flatbed(81537, 0, 128, 128)), QRX_E_FLATBED_X);
  EXPECT_EQ(check_window(flatbed(0, 0, 127, 128)), QRX_E_FLATBED_WIDTH);
  EXPECT_EQ(check_window(flatbed(0, 0, 81665, 128)), QRX_E_FLATBED_WIDTH);
  EXPECT_EQ(check_window(flatbed(100, 0, 81600, 128)), QRX_E_FLATBED_RIGHT);
  EXPECT_EQ(check_window(flatbed(0, 112129, 128, 128)), QRX_E_FLATBED_Y);
  EXPECT_EQ(check_window(flatbed(0, 0, 128, 127)), QRX_E_FLATBED_LENGTH);
  EXPECT_EQ(check_window(flatbed(0, 0, 128, 112257)), QRX_E_FLATBED_LENGTH);
  EXPECT_EQ(check_window(flatbed(0, 200, 128, 112100)), QRX_E_FLATBED_BOTTOM);
  EXPECT_EQ(check_window(flatbed(0, 0, 81664, 112256)), QRX_OK) << "the whole glass";
  // The first failing check decides.
  EXPECT_EQ(check_window(flatbed(90000, 200000, 1, 1)), QRX_E_FLATBED_X);
}

TEST(WindowCheckTest, FilmLimitsAndTheirCodes) {
  EXPECT_EQ(check_window(film(0, 21760, 128, 128)), QRX_OK) << "no lower bound on x";
  ScanParameter low = film(0, 21760, 128, 128);
  low.yRes = 299;
  EXPECT_EQ(check_window(low), QRX_E_FILM_RESOLUTION);
  low = film(999999, 0, 1, 1);
  low.xRes = 299;
  EXPECT_EQ(check_window(low), QRX_E_FILM_RESOLUTION) << "resolution before any area check";
  EXPECT_EQ(check_window(film(94529, 21760, 128, 128)), QRX_E_FILM_X);
  EXPECT_EQ(check_window(film(0, 21760, 127, 128)), QRX_E_FILM_WIDTH);
  EXPECT_EQ(check_window(film(0, 21760, 23617, 128)), QRX_E_FILM_WIDTH);
  EXPECT_EQ(check_window(film(71100, 21760, 23600, 128)), QRX_E_FILM_RIGHT);
  EXPECT_EQ(check_window(film(0, 21759, 128, 128)), QRX_E_FILM_Y);
  EXPECT_EQ(check_window(film(0, 21760, 128, 127)), QRX_E_FILM_LENGTH);
  EXPECT_EQ(check_window(film(0, 21760, 128, 182721)), QRX_E_FILM_LENGTH);
  EXPECT_EQ(check_window(film(0, 30000, 128, 182720)), QRX_E_FILM_BOTTOM);
}

TEST(WindowCheckTest, AHugeOffsetDoesNotWrapRoundIntoAValidWindow) {
  // y + length would wrap to 64 in 32 bits.
  EXPECT_EQ(check_window(film(0, 0xFFFFFF00u, 128, 320)), QRX_E_FILM_BOTTOM);
}

class SetScanParameterTest : public ::testing::Test {
 protected:
  uint16_t set(const ScanParameter& p, uint8_t lamp = 1) {
    return scan::set_scan_parameter(*context, setting, values,
                                    {.parameter = p, .lamp_select = lamp, .ag_block = ag});
  }
  std::unique_ptr<transport::ScannerContext> context =
      std::make_unique<transport::ScannerContext>();
  settings::ScannerSetting setting;
  scan::ScanValues values;
  std::array<uint8_t, QRX_AG_BLOCK_SIZE> ag{};
};

TEST_F(SetScanParameterTest, ConvertsTheWindowAndDerivesTheLineValues) {
  ScanParameter p = flatbed(9600, 19200, 4 * 9600, 9603);  // 1 in, 2 in, 4 in, 1 in + 3
  p.xRes = p.yRes = 600;
  ASSERT_EQ(set(p), QRX_OK);
  EXPECT_EQ(context->window.x, 2400u);
  EXPECT_EQ(context->window.y, 4800u);
  EXPECT_EQ(context->window.width, 9600u);
  EXPECT_EQ(context->window.length, 2400u) << "3/9600 inch floors away";
  EXPECT_EQ(values.line_pixels, 2400u);
  EXPECT_EQ(values.line_bytes, 7200u);
  EXPECT_EQ(values.line_count, 600u);
  EXPECT_EQ(context->scan_x_res, 600);
  EXPECT_EQ(context->color_channels, 3);
  EXPECT_EQ(context->gray_from_color, 0u);
  EXPECT_EQ(values.stored.ScanningArea.width, 4u * 9600) << "the copy keeps the host's units";
}

TEST_F(SetScanParameterTest, LowResolutionsAreReadHigherAndReducedLater) {
  ScanParameter p = flatbed(0, 0, 9600, 9600);
  p.xRes = p.yRes = 75;
  ASSERT_EQ(set(p), QRX_OK);
  EXPECT_EQ(context->scan_x_res, 150);
  EXPECT_EQ(context->scan_y_res, 150);
  EXPECT_EQ(context->output_x_res, 75);
  EXPECT_EQ(values.line_pixels, 75u);
  EXPECT_EQ(values.line_count, 75u);
  p.LowResOversample = 1;
  ASSERT_EQ(set(p), QRX_OK);
  EXPECT_EQ(context->scan_x_res, 300);
  p.xRes = p.yRes = 150;
  ASSERT_EQ(set(p), QRX_OK);
  EXPECT_EQ(context->scan_y_res, 300);
  EXPECT_EQ(context->output_x_res, 150);
  p.LowResOversample = 0;
  ASSERT_EQ(set(p), QRX_OK);
  EXPECT_EQ(context->scan_x_res, 150) << "150 without oversampling is read as asked";

  // Each direction on its own: 75 across is read at 150 whatever the resolution
  // down, 75 down at 150 whatever the one across; the line values stay the asked.
  p.xRes = 75;
  p.yRes = 300;
  ASSERT_EQ(set(p), QRX_OK);
  EXPECT_EQ(context->scan_x_res, 150);
  EXPECT_EQ(context->scan_y_res, 300);
  EXPECT_EQ(values.line_pixels, 75u);
  EXPECT_EQ(values.line_count, 300u);
  p.xRes = 600;
  p.yRes = 75;
  ASSERT_EQ(set(p), QRX_OK);
  EXPECT_EQ(context->scan_x_res, 600);
  EXPECT_EQ(context->scan_y_res, 150);
  EXPECT_EQ(context->output_y_res, 75);
  EXPECT_EQ(values.line_count, 75u);
  p.LowResOversample = 1;
  p.xRes = 150;
  p.yRes = 600;
  ASSERT_EQ(set(p), QRX_OK);
  EXPECT_EQ(context->scan_x_res, 300);
  EXPECT_EQ(context->scan_y_res, 600);
  EXPECT_EQ(values.line_count, 600u);
}

TEST_F(SetScanParameterTest, GreyAt150DpiUnderTheFlatbedLightIsReadAsColour) {
  ScanParameter p = flatbed(0, 0, 9600, 9600);
  p.xRes = p.yRes = 150;
  p.BitsPerPixel = 8;
  ASSERT_EQ(set(p), QRX_OK);
  EXPECT_EQ(context->bit_depth, 24);
  EXPECT_EQ(context->color_channels, 3);
  EXPECT_EQ(context->gray_from_color, 1u);
  EXPECT_EQ(values.line_bytes, 150u) << "the host still gets one byte per pixel";
  p.xRes = p.yRes = 200;
  ASSERT_EQ(set(p), QRX_OK);
  EXPECT_EQ(context->bit_depth, 8);
  EXPECT_EQ(context->color_channels, 1);
  EXPECT_EQ(context->gray_from_color, 0u);
  p.xRes = p.yRes = 150;
  ASSERT_EQ(set(p, 4), QRX_OK);
  EXPECT_EQ(context->gray_from_color, 0u) << "only with the flatbed light's bit";
  ASSERT_EQ(set(p, 8), QRX_OK);
  EXPECT_EQ(context->color_channels, 4) << "the infrared light is read as a fourth channel";
  // A read with the infrared channel is a colour read at every resolution: 8-bit
  // grey is its green, one byte a pixel for the host.
  for (uint16_t resolution : {150, 300, 1200}) {
    p.xRes = p.yRes = resolution;
    ASSERT_EQ(set(p, 12), QRX_OK) << resolution;
    EXPECT_EQ(context->bit_depth, 24) << resolution;
    EXPECT_EQ(context->color_channels, 4) << resolution;
    EXPECT_EQ(context->gray_from_color, 1u) << resolution;
    EXPECT_EQ(values.line_bytes, 9600u / 4 * resolution / 2400) << resolution;
  }
}

TEST_F(SetScanParameterTest, SixteenBitGreyIsReadAsFortyEightBitColour) {
  // The scanner has no 16-bit one-channel line timing at any resolution.
  ScanParameter p = flatbed(0, 0, 9600, 9600);
  p.BitsPerPixel = 16;
  for (uint16_t resolution : {75, 150, 300, 600, 1200, 2400, 4800}) {
    p.xRes = p.yRes = resolution;
    ASSERT_EQ(set(p), QRX_OK) << resolution;
    EXPECT_EQ(context->bit_depth, 48);
    EXPECT_EQ(context->color_channels, 3);
    EXPECT_EQ(context->gray_from_color, 1u);
  }
  p.xRes = p.yRes = 600;
  ASSERT_EQ(set(p), QRX_OK);
  EXPECT_EQ(values.line_bytes, 600u * 2) << "two bytes per grey pixel for the host";
}

TEST_F(SetScanParameterTest, FourThousandEightHundredIsReadAtHalfWidthAcross) {
  ScanParameter p = flatbed(0, 0, 9600, 9600);
  p.xRes = p.yRes = 4800;
  ASSERT_EQ(set(p), QRX_OK);
  EXPECT_EQ(values.half_x_res, 1u);
  EXPECT_EQ(context->scan_x_res, 2400);
  EXPECT_EQ(context->scan_y_res, 4800);
  EXPECT_EQ(values.line_pixels, 2400u) << "2400 dpi across";
  EXPECT_EQ(values.line_count, 4800u) << "4800 dpi down";
}

TEST_F(SetScanParameterTest, WideSamplesDoubleEightAndTwentyFourBitLinesOnly) {
  ScanParameter p = flatbed(0, 0, 9600, 9600);
  p.WideSamples = 1;
  ASSERT_EQ(set(p), QRX_OK);
  EXPECT_EQ(values.wide_samples, 1u);
  EXPECT_EQ(values.line_bytes, 300u * 3 * 2);
  p.BitsPerPixel = 48;
  ASSERT_EQ(set(p), QRX_OK);
  EXPECT_EQ(values.wide_samples, 0u);
  EXPECT_EQ(values.line_bytes, 300u * 6);
}

TEST_F(SetScanParameterTest, ARefusedRecordChangesNothing) {
  ScanParameter good = flatbed(0, 0, 9600, 9600);
  ASSERT_EQ(set(good), QRX_OK);
  const scan::ScanValues before = values;
  // Refused by the window check, by the mode check after it, and with the
  // half-resolution and wide-sample flags it would have set.
  ScanParameter narrow = flatbed(0, 0, 127, 9600);
  narrow.xRes = narrow.yRes = 4800;
  narrow.WideSamples = 1;
  ScanParameter past_the_glass = flatbed(81537, 0, 9600, 9600);
  past_the_glass.xRes = past_the_glass.yRes = 4800;
  ScanParameter odd_depth = flatbed(0, 0, 9600, 9600);
  odd_depth.xRes = odd_depth.yRes = 4800;
  odd_depth.BitsPerPixel = 7;
  for (const auto& [refused, code] :
       {std::pair{narrow, QRX_E_FLATBED_WIDTH}, std::pair{past_the_glass, QRX_E_FLATBED_X},
        std::pair{odd_depth, QRX_E_SCAN_MODE}}) {
    EXPECT_EQ(set(refused), code);
    EXPECT_EQ(std::memcmp(&values.stored, &before.stored, sizeof before.stored), 0);
    EXPECT_EQ(values.half_x_res, 0u);
    EXPECT_EQ(values.wide_samples, 0u);
    EXPECT_EQ(values.line_pixels, 300u);
    EXPECT_EQ(values.line_bytes, 900u);
    EXPECT_EQ(values.line_count, 300u);
    EXPECT_EQ(context->scan_x_res, 300);
  }
}

TEST_F(SetScanParameterTest, ModesTheScannerCannotRunAreRefused) {
  ScanParameter p = flatbed(0, 0, 9600, 9600);
  p.xRes = 0;
  EXPECT_EQ(set(p), QRX_E_RESOLUTION);
  p.xRes = 300;
  p.yRes = 0;
  EXPECT_EQ(set(p), QRX_E_RESOLUTION);
  p.yRes = 50;
  EXPECT_EQ(set(p), QRX_E_RESOLUTION);
  // 4800 across with 2400 down cannot be read: across the sensor stops at 2400.
  p.xRes = 4800;
  p.yRes = 2400;
  EXPECT_EQ(set(p), QRX_E_RESOLUTION);
  EXPECT_EQ(values.half_x_res, 0u);
  // Odd depths are no mode at all.
  p.xRes = p.yRes = 600;
  p.BitsPerPixel = 12;
  EXPECT_EQ(set(p), QRX_E_SCAN_MODE);
  // Between the listed resolutions is fine.
  p.BitsPerPixel = 8;
  p.xRes = p.yRes = 200;
  EXPECT_EQ(set(p), QRX_OK);
}

TEST_F(SetScanParameterTest, TheHostsAgBlockOrTheUnitFactors) {
  ScanParameter p = flatbed(0, 0, 9600, 9600);
  for (size_t i = 0; i < ag.size(); ++i) ag[i] = static_cast<uint8_t>(0xA0 + i);
  p.UseAGData = 1;
  ASSERT_EQ(set(p), QRX_OK);
  EXPECT_EQ(context->ag_in_use, 1);
  EXPECT_EQ(context->ag_block[43], 0xA0 + 43);
  p.UseAGData = 0;
  ASSERT_EQ(set(p), QRX_OK);
  EXPECT_EQ(context->ag_in_use, 0);
  for (size_t offset : {36u, 38u, 40u}) {
    EXPECT_EQ(context->ag_block[offset] | (context->ag_block[offset + 1] << 8), 4096);
  }
  EXPECT_EQ(context->ag_block[0], 0xA0) << "only the three factors are reset";
}

}  // namespace
}  // namespace qrx::test
