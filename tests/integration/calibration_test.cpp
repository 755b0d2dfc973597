// DoCalibration: the shading files it leaves for each kind, and its failures.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "calibration/shading_files.h"
#include "support/sim_fixture.h"

namespace qrx::test {
namespace {

long file_size(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

class CalibrationTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_TRUE(open_scanner());
  }
  std::string file(const char* name) { return scanner_dir() + name; }
};

TEST_F(CalibrationTest, OneResolutionWritesItsShadingFileAndResetsTheCounter) {
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 600), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(last_error(), QRX_OK);
  EXPECT_EQ(file_size(file("QRX7730D.SHD")), 13 + 16 * 5136);
  EXPECT_EQ(file_size(file("QRX7730H.SHD")), 2);
  EXPECT_EQ(file_size(file("QRX7730C.SHD")), -1);
  EXPECT_EQ(scanner->carriage_steps(), 0.0) << "the carriage is back home";
  EXPECT_EQ(lib().status_block.busy(), 0u);
}

TEST_F(CalibrationTest, ThreeHundredDpiAlsoWritesTheTwoLowestResolutions) {
  ASSERT_EQ(DoCalibration(nullptr, 0, 1, 300), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(file_size(file("QRX7730C.SHD")), 41101);
  EXPECT_EQ(file_size(file("QRX7730B.SHD")), 13 + 16 * 1284);
  EXPECT_EQ(file_size(file("QRX7730A.SHD")), 13 + 16 * 642);
  // All three carry the 300 dpi exposure.
  std::string exposures[3];
  int i = 0;
  for (const char* name : {"QRX7730A.SHD", "QRX7730B.SHD", "QRX7730C.SHD"}) {
    FILE* f = std::fopen(file(name).c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char head[13];
    ASSERT_EQ(std::fread(head, 1, 13, f), 13u);
    std::fclose(f);
    exposures[i++] = std::string(head + 5, 8);  // the four exposure times
  }
  EXPECT_EQ(exposures[0], exposures[2]);
  EXPECT_EQ(exposures[1], exposures[2]);
}

TEST_F(CalibrationTest, KindThreeCalibratesTheScanResolutionRoundedUp) {
  ScanParameter p{};
  p.xRes = p.yRes = 150;
  p.BitsPerPixel = 24;
  p.ScanningArea = {0, 0, 9600, 9600};
  ASSERT_EQ(SetScanParameter(nullptr, &p), QRX_TRUE);
  ASSERT_EQ(DoCalibration(nullptr, 0, 3, 0), QRX_TRUE) << std::hex << last_error();
  EXPECT_GT(file_size(file("QRX7730D.SHD")), 0) << "150 dpi rounds up to 600";
  EXPECT_EQ(file_size(file("QRX7730B.SHD")), -1);
}

TEST_F(CalibrationTest, FourThousandEightHundredIsCalibratedWhereTheSensorIsRead) {
  ScanParameter p{};
  p.xRes = p.yRes = 2400;
  p.BitsPerPixel = 48;
  p.ScanningArea = {0, 0, 9600, 9600};
  ASSERT_EQ(SetScanParameter(nullptr, &p), QRX_TRUE);
  ASSERT_EQ(DoCalibration(nullptr, 0, 3, 0), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(file_size(file("QRX7730F.SHD")), 328717) << "the 2400 dpi layout serves 4800 dpi scans";
  EXPECT_EQ(calibration::freshness_check(lib().context, 4800, 1), 0)
      << "a 4800 dpi scan finds its calibration usable";
}

TEST_F(CalibrationTest, KindsWithNothingToDoSucceed) {
  EXPECT_EQ(DoCalibration(nullptr, 2, 2, 0), QRX_TRUE);
  EXPECT_EQ(DoCalibration(nullptr, 5, 3, 0), QRX_TRUE);
  EXPECT_EQ(DoCalibration(nullptr, 0, 9, 600), QRX_TRUE);
  EXPECT_EQ(last_error(), QRX_OK);
  EXPECT_EQ(file_size(file("QRX7730H.SHD")), -1);
}

TEST_F(CalibrationTest, FilmCalibrationOnTheFlatbedFailsWithoutHangingOrWriting) {
  // This scanner has no film adapter: the film light reads nothing it can adjust
  // to, and the last peaks of the exposure search say so.
  EXPECT_EQ(DoCalibration(nullptr, 1, 0, 600), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_EXPOSURE_FILM);
  EXPECT_EQ(lib().status_block.busy(), 0u);
  EXPECT_EQ(file_size(file("QRX7730H.SHD")), -1);
  EXPECT_EQ(file_size(file("QRX7730D.SHD")), -1);
  EXPECT_EQ(file_size(file("QRX7730Q.SHD")), -1);
}

TEST_F(CalibrationTest, AFilmAdapterIsCalibratedIntoFilesOfItsOwn) {
  emu::Options options;
  options.film_light = emu::Options::FilmLight::kWarm;
  reset_scanner(options);
  TerminateScanner(nullptr);
  ASSERT_TRUE(open_scanner());
  ASSERT_EQ(InitializeScanner(nullptr), QRX_TRUE) << std::hex << last_error();
  SetLamp(nullptr, QRX_LAMP_FILM);
  for (int poll = 0; GetLampStatus(nullptr, 0) != QRX_TRUE; ++poll) {
    ASSERT_LT(poll, 40) << std::hex << last_error();
    clock.advance_us(1'000'000);
  }
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 600), QRX_TRUE) << std::hex << last_error();
  const long flatbed = file_size(file("QRX7730D.SHD"));
  // 4800 dpi film is read at 2400 across: it is calibrated there, into the file
  // both share, and a 4800 dpi film scan finds it usable.
  ASSERT_EQ(DoCalibration(nullptr, 1, 0, 4800), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(file_size(file("QRX7730S.SHD")), 328717);
  EXPECT_EQ(calibration::freshness_check(lib().context, 4800, QRX_LAMP_FILM_STORED), 0);
  ASSERT_EQ(DoCalibration(nullptr, 1, 0, 300), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(file_size(file("QRX7730P.SHD")), 41101);
  EXPECT_EQ(file_size(file("QRX7730C.SHD")), -1) << "the flatbed's own files are not touched";
  EXPECT_EQ(file_size(file("QRX7730D.SHD")), flatbed);
  EXPECT_EQ(scanner->carriage_steps(), 0.0) << "the carriage is back home";
}

TEST_F(CalibrationTest, FilmWhiteIsReadNineHundredAndThirtySevenStepsPastTheReferenceEdge) {
  lib().context.reference_offset = 361;
  scanner->clear_trace();
  EXPECT_EQ(DoCalibration(nullptr, 1, 0, 600), QRX_FALSE);
  // The move before the white read: 361 + 937 steps with move row 1 (step mode 1),
  // in the feed registers 0x3D..0x3F.
  std::vector<uint32_t> feeds;
  uint32_t feed = 0;
  for (const auto& e : scanner->trace({emu::RequestKind::ControlOut, 0x83, -1})) {
    if (e.data[0] >= 0x3D && e.data[0] <= 0x3F) feed = (feed << 8 | e.data[1]) & 0xFFFFFF;
    if (e.data[0] == 0x3F) feeds.push_back(feed);
  }
  EXPECT_NE(std::find(feeds.begin(), feeds.end(), 1298u << 1), feeds.end());
}

TEST_F(CalibrationTest, AResolutionTheScannerCannotReadIsRefused) {
  EXPECT_EQ(DoCalibration(nullptr, 0, 0, 0), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_RESOLUTION);
  EXPECT_EQ(DoCalibration(nullptr, 0, 0, 3600), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_RESOLUTION);
  // Film has resolutions of its own; 150 dpi is not one of them.
  EXPECT_EQ(DoCalibration(nullptr, 1, 0, 150), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_RESOLUTION);
  EXPECT_EQ(scanner->carriage_steps(), 0.0) << "refused before the carriage moves";
  EXPECT_EQ(lib().status_block.busy(), 0u);
}

TEST_F(CalibrationTest, ALampTooWeakForTheTargetFailsAfterTwentyOneTries) {
  emu::Options options;
  options.lamp_percent = 8;
  reset_scanner(options);
  TerminateScanner(nullptr);
  ASSERT_TRUE(open_scanner());
  scanner->clear_trace();
  EXPECT_EQ(DoCalibration(nullptr, 0, 0, 600), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_EXPOSURE_FLATBED);
  EXPECT_EQ(file_size(file("QRX7730D.SHD")), -1);
}

TEST_F(CalibrationTest, AnUnsavableShadingFileIsReported) {
  // The library's private directory replaced by a file: nothing can be written.
  std::filesystem::remove_all(temp.library_dir());
  FILE* f = std::fopen((temp.path() + "/qrx7730-" + std::to_string(getuid())).c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(DoCalibration(nullptr, 0, 0, 1200), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_SHADING_SAVE);
}

}  // namespace
}  // namespace qrx::test
