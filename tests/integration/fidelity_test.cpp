// Whole scans through the host sequence (SetScanParameter, GetDataStatus,
// StartScanEx, GetCalibrationStatus until 0, ReadScan until every line is read,
// StopScanEx) compared with what lies on the emulated glass: the built-in chart at
// every resolution in colour 24/48 and grey 8/16, an image document, a white field,
// wide samples, and a transparency under the film adapter's lamp.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>

#include "integration/fidelity_scan.h"

namespace qrx::test {
namespace {

// Windows of the chart by resolution: many features at the lowest resolutions,
// the corner of the slanted square (two slanted edges) at the highest.
Window chart_window(uint16_t resolution) {
  switch (resolution) {
    case 75:
      return {640, 640, 11520, 11520};  // marks, ramp, patches, square, black patch
    case 150:
      return {1200, 2400, 7680, 7680};
    case 300:
      return {1200, 2400, 5760, 5760};
    case 600:
      return {3008, 4000, 2880, 2880};  // a colour patch and the square's corner
    case 1200:
      return {3418, 6000, 800, 800};
    case 2400:
      return {3618, 6200, 400, 400};
    default:
      return {3718, 6300, 200, 200};  // 4800 dpi
  }
}

class ChartFidelity : public FidelityTest,
                      public ::testing::WithParamInterface<std::tuple<uint16_t, uint8_t>> {};

TEST_P(ChartFidelity, TheChartComesBackWhereItLies) {
  const auto [resolution, depth] = GetParam();
  const Window w = chart_window(resolution);
  const HostScan scan = host_scan(resolution, depth, w);
  const uint32_t channels = depth == 24 || depth == 48 ? 3 : 1;
  const uint32_t pixels = static_cast<uint32_t>(w.width * uint64_t{resolution} / 2400);
  EXPECT_EQ(scan.image.width, pixels);
  EXPECT_EQ(scan.image.height, w.length * uint64_t{resolution} / 2400);
  EXPECT_EQ(scan.status.LineBytes, pixels * channels * (depth == 16 || depth == 48 ? 2 : 1));
  EXPECT_EQ(scan.filter_armed, resolution >= 1200 ? 1u : 0u) << "the filter from 1200 dpi up";
  const std::vector<double> r = compare(scan, *scene(), w, resolution);
  if (resolution == 300 || resolution == 600) {
    for (size_t c = 0; c < r.size(); ++c) EXPECT_GE(r[c], 0.99) << "channel " << c;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryMode, ChartFidelity,
                         ::testing::Combine(::testing::Values<uint16_t>(75, 150, 300, 600, 1200,
                                                                        2400, 4800),
                                            ::testing::Values<uint8_t>(24, 48, 8, 16)),
                         [](const ::testing::TestParamInfo<std::tuple<uint16_t, uint8_t>>& info) {
                           return std::to_string(std::get<0>(info.param)) + "dpi_" +
                                  std::to_string(std::get<1>(info.param)) + "bit";
                         });

// An image document of its own: smooth colour ramps crossed by blocks of every
// shade, 600 x 600 pixels at 300 dpi (a PNM file, read as linear reflectance).
std::string write_document(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return {};
  const int size = 600;
  std::fprintf(f, "P6\n%d %d\n255\n", size, size);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      uint8_t rgb[3] = {static_cast<uint8_t>(40 + x * 200 / size),
                        static_cast<uint8_t>(40 + y * 200 / size),
                        static_cast<uint8_t>(230 - (x + y) * 190 / (2 * size))};
      const int block = (x / 75) * 8 + (y / 75);
      if (block % 3 == 0) {
        for (uint8_t& v : rgb) v = static_cast<uint8_t>((block * 37) % 220 + 10);
      }
      std::fwrite(rgb, 1, 3, f);
    }
  }
  std::fclose(f);
  return path;
}

TEST_F(FidelityTest, AnImageDocumentComesBackAsItWasDrawn) {
  const std::string document = write_document(temp.path() + "/document.ppm");
  ASSERT_FALSE(document.empty());
  emu::Options options;
  options.document = document;
  reset_scanner(options);
  TerminateScanner(nullptr);
  ASSERT_TRUE(open_scanner());
  ASSERT_EQ(SetLamp(nullptr, 1), QRX_TRUE);
  const std::unique_ptr<emu::Scene> on_glass = scene(document);
  const Window w{400, 400, 3840, 3840};  // inside the 4800-unit document
  for (const auto& [resolution, depth] : {std::pair<uint16_t, uint8_t>{300, 24}, {600, 16}}) {
    const HostScan scan = host_scan(resolution, depth, w);
    const std::vector<double> r = compare(scan, *on_glass, w, resolution);
    for (size_t c = 0; c < r.size(); ++c) {
      EXPECT_GE(r[c], 0.99) << resolution << " dpi, " << int{depth} << " bit, channel " << c;
    }
  }
}

TEST_F(FidelityTest, AWhiteFieldIsFlatAfterCalibration) {
  // The chart's paper, the whole width of the glass, between the colour patches
  // and the slanted square.
  const Window w{0, 5000, 20400, 256};
  const HostScan scan = host_scan(300, 48, w);
  ASSERT_EQ(scan.image.width, 2550u);
  for (uint32_t c = 0; c < 3; ++c) {
    std::vector<double> column(scan.image.width, 0.0);
    double mean = 0;
    for (uint32_t x = 0; x < scan.image.width; ++x) {
      for (uint32_t y = 0; y < scan.image.height; ++y) column[x] += scan.image.at(x, y, c);
      column[x] /= scan.image.height;
      mean += column[x];
    }
    mean /= scan.image.width;
    EXPECT_GT(mean, 0.8 * 65535 * 0.86 / 0.90) << "paper near its share of the white target";
    double worst = 0;
    for (double v : column) worst = std::max(worst, std::fabs(v - mean) / mean);
    EXPECT_LE(worst, 0.01) << "channel " << c;
  }
}

TEST_F(FidelityTest, WideSamplesCarryTheEightBitScanInSixteenBits) {
  const Window w = chart_window(300);
  const HostScan wide = host_scan(300, 24, w, 1);
  const uint32_t pixels = w.width * 300 / 2400;
  EXPECT_EQ(wide.status.LineBytes, pixels * 6);
  EXPECT_EQ(wide.image.width, pixels);
  const std::vector<double> r = compare(wide, *scene(), w, 300);
  for (size_t c = 0; c < r.size(); ++c) EXPECT_GE(r[c], 0.99) << "channel " << c;
  // The same window in 8 bits: the wide samples are its values in 16-bit terms.
  const HostScan narrow = host_scan(300, 24, w);
  ASSERT_EQ(narrow.image.samples.size(), wide.image.samples.size());
  double sum_wide = 0, sum_narrow = 0;
  for (size_t i = 0; i < wide.image.samples.size(); ++i) {
    sum_wide += wide.image.samples[i];
    sum_narrow += narrow.image.samples[i];
  }
  EXPECT_NEAR(sum_wide / 257 / sum_narrow, 1.0, 0.02);
}

// The film adapter: its lamp warmed up through GetLampStatus as a host polls it
// (a second apart), the film area's transparency scanned in every depth. The first
// scan finds no film calibration and calibrates every film resolution first.
class FilmFidelity : public FidelityTest, public ::testing::WithParamInterface<uint16_t> {
 protected:
  void SetUp() override {
    FidelityTest::SetUp();
    emu::Options options;
    options.film_light = emu::Options::FilmLight::kWarm;
    reset_scanner(options);
    TerminateScanner(nullptr);
    ASSERT_TRUE(open_scanner());
    ASSERT_EQ(InitializeScanner(nullptr), QRX_TRUE) << std::hex << last_error();
    EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FILM), QRX_FALSE);
    ASSERT_EQ(last_error(), QRX_E_NO_FILM_ADAPTER) << "selected all the same";
    for (int poll = 0; GetLampStatus(nullptr, 0) != QRX_TRUE; ++poll) {
      ASSERT_EQ(last_error() & 0xFF00, QRX_LAMP_WARMING_UP) << std::hex << last_error();
      ASSERT_LT(poll, 40);
      clock.advance_us(1'000'000);
    }
  }
};

// Windows of the transparency (the emulator's slide lies at the film area's
// corner; film windows are reckoned from the reference edge): most of it at 600
// dpi, the dark square's corner at 1200 dpi.
Window film_window(uint16_t resolution, const emu::SceneLayout& l) {
  const uint32_t x = static_cast<uint32_t>(l.film_x_units);
  const uint32_t y = static_cast<uint32_t>(l.film_y_units - l.film_origin_y_units);
  if (resolution == 600) return {x + 80, y + 80, 2080, 3200};
  return {x + 420, y + 1100, 800, 800};
}

TEST_P(FilmFidelity, TheTransparencyComesBackWhereItLies) {
  const uint16_t resolution = GetParam();
  const std::unique_ptr<emu::Scene> on_glass = scene();
  const Window w = film_window(resolution, on_glass->layout());
  for (const uint8_t depth : {24, 48, 8, 16}) {
    const HostScan scan = host_scan(resolution, depth, w, 0, 1);
    const uint32_t channels = depth == 24 || depth == 48 ? 3 : 1;
    const uint32_t pixels = static_cast<uint32_t>(w.width * uint64_t{resolution} / 2400);
    EXPECT_EQ(scan.status.LineBytes, pixels * channels * (depth == 16 || depth == 48 ? 2 : 1))
        << int{depth} << " bit: three colours or one grey sample a pixel, never the infrared";
    ASSERT_EQ(scan.image.height, w.length * uint64_t{resolution} / 2400) << int{depth} << " bit";
    const std::vector<double> r = compare(scan, *on_glass, w, resolution, Light::kTransmitted);
    for (size_t c = 0; c < r.size(); ++c) {
      EXPECT_GE(r[c], 0.99) << resolution << " dpi, " << int{depth} << " bit, channel " << c;
    }
  }
}

TEST_F(FilmFidelity, TheFirstFilmScanCalibratesEveryFilmResolution) {
  const std::unique_ptr<emu::Scene> on_glass = scene();
  const Window w = film_window(600, on_glass->layout());
  host_scan(300, 24, {w.x, w.y, 1200, 600}, 0, 1);
  // 300 to 2400 dpi (4800 dpi scans use the 2400 dpi calibration): any film scan
  // finds its calibration from now on.
  for (const char* name : {"QRX7730P.SHD", "QRX7730Q.SHD", "QRX7730R.SHD", "QRX7730S.SHD"}) {
    EXPECT_TRUE(exists(name)) << name;
  }
  EXPECT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  EXPECT_FALSE(scan::background_calibration_running(lib().context)) << "nothing left to calibrate";
  EXPECT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
}

INSTANTIATE_TEST_SUITE_P(FilmResolutions, FilmFidelity, ::testing::Values<uint16_t>(600, 1200),
                         [](const ::testing::TestParamInfo<uint16_t>& info) {
                           return std::to_string(info.param) + "dpi";
                         });

}  // namespace
}  // namespace qrx::test
