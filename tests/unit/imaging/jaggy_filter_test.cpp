// The line filter: kernel analysis and the kernels it refuses, the first and last
// lines of the 1200 and 2400 dpi kernels worked out by hand, T lines for T lines and
// nothing after, taps outside the line left out, and what GetDataStatus reports and
// arms.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "imaging/data_status.h"
#include "imaging/jaggy_filter.h"
#include "platform/memory.h"
#include "qrx7730.h"
#include "settings/scanner_setting.h"
#include "settings/tuning_index.h"

namespace qrx::imaging {
namespace {

FilterKernel kernel_of(const settings::JaggyKernel& rows) {
  FilterKernel kernel{};
  for (uint32_t r = 0; r < 7; ++r) std::memcpy(&kernel[r * 7], rows[r].data(), 7);
  return kernel;
}

FilterKernel kernel_with_rows(std::initializer_list<uint32_t> rows) {
  FilterKernel kernel{};
  for (uint32_t r : rows) kernel[r * 7 + 3] = 1;
  return kernel;
}

// A filter set up like GetDataStatus does, reading from `lines` (line L is all
// value[L]) and counting the reads.
struct Scene {
  explicit Scene(const FilterKernel& kernel, uint32_t depth, uint32_t line_bytes,
                 std::vector<uint32_t> values)
      : value(std::move(values)) {
    filter.kernel = kernel;
    filter.shape = analyse_kernel(kernel);
    filter.total_lines = static_cast<uint32_t>(value.size());
    filter.line_bytes = line_bytes;
    filter.filter_depth = depth;
    filter.restart();
    source = [this](uint8_t* line, uint32_t size) -> uint16_t {
      const uint32_t v = value.at(reads++);
      for (uint32_t i = 0; i < size; ++i) line[i] = static_cast<uint8_t>(v);
      return QRX_OK;
    };
  }
  JaggyFilter filter;
  std::vector<uint32_t> value;
  uint32_t reads = 0;
  LineSource source;
};

TEST(JaggyFilterTest, KernelAnalysisOfTheDefaultsAndKernelsThatCannotBeCentred) {
  const settings::ScannerSetting setting;
  const KernelShape k1200 = analyse_kernel(kernel_of(setting.JAGGY_FILTER_SETTING(2)));
  EXPECT_EQ(k1200.rows, 3);
  EXPECT_EQ(k1200.lead, 2);
  EXPECT_EQ(k1200.ahead, 2);
  for (int k : {3, 4}) {
    const FilterKernel kernel = kernel_of(setting.JAGGY_FILTER_SETTING(k));
    const KernelShape shape = analyse_kernel(kernel);
    EXPECT_EQ(shape.rows, 5);
    EXPECT_EQ(shape.lead, 1);
    EXPECT_EQ(shape.ahead, 3);
    EXPECT_TRUE(kernel_fits_window(kernel, shape));
  }
  for (const auto& rows : {std::initializer_list<uint32_t>{0}, {6}, {1, 2}, {2, 4}, {4, 5, 6}}) {
    const FilterKernel kernel = kernel_with_rows(rows);
    EXPECT_FALSE(kernel_fits_window(kernel, analyse_kernel(kernel))) << *rows.begin();
  }
  const FilterKernel centre = kernel_with_rows({3});
  EXPECT_TRUE(kernel_fits_window(centre, analyse_kernel(centre)));
}

TEST(JaggyFilterTest, TheFirstAndLastLinesUseOnlyTheLinesTheImageHas) {
  const settings::ScannerSetting setting;
  // 1200 dpi kernel (1, 2, 1 down the centre column), four lines of a, b, c, d.
  Scene s(kernel_of(setting.JAGGY_FILTER_SETTING(2)), 8, 4, {30, 60, 90, 150});
  std::vector<uint8_t> out(4);
  const std::vector<uint8_t> expected = {(2 * 30 + 60) / 3, (30 + 2 * 60 + 90) / 4,
                                         (60 + 2 * 90 + 150) / 4, (90 + 2 * 150) / 3};
  for (uint32_t i = 0; i < 4; ++i) {
    ASSERT_EQ(filter_read(s.filter, s.source, out.data(), 4), QRX_OK);
    EXPECT_EQ(out, std::vector<uint8_t>(4, expected[i])) << i;
    EXPECT_EQ(s.reads, i == 0 ? 2u : std::min(i + 2, 4u)) << "each line read once, two ahead";
  }
  EXPECT_EQ(filter_read(s.filter, s.source, out.data(), 4), QRX_E_READ_PAST_END);
  EXPECT_EQ(s.reads, 4u);

  // 2400 dpi kernel over lines that are flat across: the last line takes kernel rows
  // 1 (weight 1), 2 (1 + 2 + 1) and 3 (1 + 4 + 1): (1a + 4b + 6c) / 11 inside the line;
  // at either end one column of rows 2 and 3 is off the line: (1a + 3b + 5c) / 9.
  Scene t(kernel_of(setting.JAGGY_FILTER_SETTING(3)), 8, 6, {10, 20, 40, 80, 120});
  std::vector<uint8_t> line(6);
  for (uint32_t i = 0; i < 4; ++i) {
    ASSERT_EQ(filter_read(t.filter, t.source, line.data(), 6), QRX_OK);
  }
  ASSERT_EQ(filter_read(t.filter, t.source, line.data(), 6), QRX_OK);
  const uint8_t inside = (40 + 4 * 80 + 6 * 120) / 11;
  const uint8_t end = (40 + 3 * 80 + 5 * 120) / 9;
  EXPECT_EQ(line, (std::vector<uint8_t>{end, inside, inside, inside, inside, end}));
}

TEST(JaggyFilterTest, RequestsOfOtherThanOneLineAreRefused) {
  Scene s(kernel_with_rows({3}), 8, 4, {1, 2});
  std::vector<uint8_t> out(8);
  EXPECT_EQ(filter_read(s.filter, s.source, out.data(), 8), QRX_E_FILTER_LINE_SIZE);
  EXPECT_EQ(filter_read(s.filter, s.source, out.data(), 3), QRX_E_FILTER_LINE_SIZE);
  EXPECT_EQ(s.reads, 0u);
  // No room for the window: an out-of-memory code, nothing read.
  platform::fail_allocation_after(0);
  EXPECT_EQ(filter_read(s.filter, s.source, out.data(), 4), QRX_E_NOMEM_BUFFER);
  platform::fail_allocation_after(-1);
  EXPECT_EQ(s.reads, 0u);
  // A failing source passes its status on; the next call reads that line again.
  const LineSource good = s.source;
  s.source = [](uint8_t*, uint32_t) -> uint16_t { return QRX_E_LINE_ASSEMBLY; };
  EXPECT_EQ(filter_read(s.filter, s.source, out.data(), 4), QRX_E_LINE_ASSEMBLY);
  EXPECT_EQ(s.filter.delivered, 0u);
  s.source = good;
  ASSERT_EQ(filter_read(s.filter, s.source, out.data(), 4), QRX_OK);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(s.reads, 1u);
}

TEST(JaggyFilterTest, TapsLeftAndRightOfTheLineAreLeftOut) {
  // One line, the 2400 dpi kernel: only row 3 (1, 4, 1) lies on the image.
  const settings::ScannerSetting setting;
  const FilterKernel kernel = kernel_of(setting.JAGGY_FILTER_SETTING(3));
  const uint8_t* rows[] = {kernel.data() + 3 * 7};
  // Grey 16-bit, four pixels 0, 1000, 2000, 3000.
  const std::vector<uint16_t> grey = {0, 1000, 2000, 3000};
  const uint8_t* lines[] = {reinterpret_cast<const uint8_t*>(grey.data())};
  std::vector<uint16_t> out(4);
  filter_arithmetic({lines, rows, 1}, 16, 8, reinterpret_cast<uint8_t*>(out.data()));
  EXPECT_EQ(out, (std::vector<uint16_t>{(4 * 0 + 1000) / 5, (0 + 4000 + 2000) / 6,
                                        (1000 + 8000 + 3000) / 6, (2000 + 12000) / 5}));
  // 48-bit: each of the three samples on its own; two pixels.
  const std::vector<uint16_t> colour = {100, 200, 300, 600, 700, 800};
  const uint8_t* colour_lines[] = {reinterpret_cast<const uint8_t*>(colour.data())};
  std::vector<uint16_t> out48(6);
  filter_arithmetic({colour_lines, rows, 1}, 48, 12, reinterpret_cast<uint8_t*>(out48.data()));
  EXPECT_EQ(out48, (std::vector<uint16_t>{(400 + 600) / 5, (800 + 700) / 5, (1200 + 800) / 5,
                                          (100 + 2400) / 5, (200 + 2800) / 5, (300 + 3200) / 5}));
}

class DataStatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A known line period for 8- and 24-bit flatbed rows at 150 and 600 dpi.
    auto& book = setting.mutable_values().LINEPERIOD_BOOK;
    book[0][0][settings::resolution_index(600)] = 9000;
    book[0][2][settings::resolution_index(150)] = 12000;
    book[0][3][settings::resolution_index(300)] = 15000;
    values.stored.BitsPerPixel = 8;
    values.stored.xRes = 600;
    values.stored.yRes = 600;
    values.stored.ScanningArea.length = 4000;  // 1000 units: 500 lines at 1200 dpi
    values.line_pixels = 100;
    values.line_bytes = 100;
    values.line_count = 77;
    read_as(600, 600, 8, 1);
  }
  // The scan fields the scan parameters leave: read at `read` dpi across and down
  // for `asked` dpi, with this depth and these channels.
  void read_as(uint16_t read, uint16_t asked, uint8_t depth, uint8_t channels) {
    context.scan_x_res = context.scan_y_res = read;
    context.output_x_res = context.output_y_res = asked;
    context.bit_depth = depth;
    context.color_channels = channels;
    context.gray_from_color = 0;
  }
  uint16_t status() {
    return data_status({context, setting, QRX_LAMP_FLATBED, false}, values, {filter, armed},
                       report);
  }
  transport::ScannerContext context;
  settings::ScannerSetting setting;
  ScanValues values;
  JaggyFilter filter;
  uint32_t armed = 7;
  DataStatus report{};
};

TEST_F(DataStatusTest, ReportsTheLineAndArmsTheFilterFrom1200DpiDown) {
  ASSERT_EQ(status(), QRX_OK);
  EXPECT_EQ(report.LineBytes, 100u);
  EXPECT_EQ(report.LinesLeft, 77u);
  EXPECT_EQ(report.LineTime, 9000u * 8 / 30);
  EXPECT_EQ(armed, 0u) << "the 600 dpi kernel is all zero";

  values.half_x_res = 1;
  values.stored.yRes = 1200;
  ASSERT_EQ(status(), QRX_OK);
  EXPECT_EQ(report.LineBytes, 200u);
  EXPECT_EQ(armed, 1u);
  EXPECT_EQ(filter.total_lines, 500u);
  EXPECT_EQ(filter.line_bytes, 200u);
  EXPECT_EQ(filter.filter_depth, 8u);

  // A kernel whose only row lies below the centre cannot be centred: refused, not armed.
  auto& kernel = setting.mutable_values().JAGGY_FILTER_SETTING[2];
  kernel = {};
  kernel[5][3] = 1;
  EXPECT_EQ(status(), QRX_E_FILTER_KERNEL);
  EXPECT_EQ(armed, 0u);
}

TEST_F(DataStatusTest, GreyReadAsColourCountsThreeExposuresButIsFilteredAsGrey) {
  values.stored.xRes = 150;
  values.stored.yRes = 1200;
  read_as(150, 150, 24, 3);
  context.scan_y_res = context.output_y_res = 1200;
  context.gray_from_color = 1;
  ASSERT_EQ(status(), QRX_OK);
  EXPECT_EQ(values.stored.BitsPerPixel, 24) << "the stored depth is raised";
  EXPECT_EQ(report.LineTime, 12000u * 3 * 8 / 30);
  EXPECT_EQ(armed, 1u);
  EXPECT_EQ(filter.filter_depth, 8u) << "the lines delivered are one byte per pixel";
  ASSERT_EQ(status(), QRX_OK);
  EXPECT_EQ(filter.filter_depth, 8u) << "still grey when asked again";

  // 16-bit grey read as 48-bit colour: the 48-bit line period, three exposures.
  values.stored.BitsPerPixel = 16;
  values.stored.xRes = 300;
  values.line_bytes = 200;
  read_as(300, 300, 48, 3);
  context.gray_from_color = 1;
  ASSERT_EQ(status(), QRX_OK);
  EXPECT_EQ(report.LineTime, 15000u * 3 * 8 / 30);
  EXPECT_EQ(filter.filter_depth, 16u);
}

TEST_F(DataStatusTest, TheInfraredLightAddsAnExposureToTheLineTime) {
  // Film lights time lines by the film table: 24 bits at 600 dpi, 9000 ticks.
  setting.mutable_values().LINEPERIOD_FAU[0][2][settings::resolution_index(600)] = 9000;
  values.stored.BitsPerPixel = 24;
  read_as(600, 600, 24, 3);
  values.stored.yRes = 300;
  const std::pair<uint8_t, uint32_t> lights[] = {
      {QRX_LAMP_INFRARED, 9600},     // 9000 x 4 exposures x 8 / 30
      {QRX_LAMP_FILM_STORED, 9600},  // visible and infrared
      {QRX_LAMP_FILM, 7200}};        // 9000 x 3 x 8 / 30
  for (const auto& [light, time] : lights) {
    ASSERT_EQ(data_status({context, setting, light, false}, values, {filter, armed}, report),
              QRX_OK);
    EXPECT_EQ(report.LineTime, time) << int(light);
  }
}

}  // namespace
}  // namespace qrx::imaging
