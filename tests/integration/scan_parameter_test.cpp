// SetScanParameter and GetDataStatus around a scan: new parameters are refused
// while this process's scan runs (from its own thread or another one), and the
// line time reports what the scanner reads for a delivered line.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "integration/scan_test_fixture.h"

namespace qrx::test {
namespace {

constexpr uint32_t kInch = 2400;

TEST_F(ScanTest, NewParametersAreRefusedWhileTheScanRuns) {
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_TRUE) << std::hex << last_error();
  // 300 dpi colour, an inch wide and a fifth of an inch long: 900 bytes, 60 lines.
  ASSERT_EQ(set_scan(300, 24, 0, 0, kInch, kInch / 5), QRX_TRUE);
  DataStatus status{};
  ASSERT_EQ(GetDataStatus(nullptr, &status), QRX_TRUE);
  ASSERT_EQ(status.LineBytes, 900u);
  ASSERT_EQ(status.LinesLeft, 60u);
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
  ASSERT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
  std::vector<uint8_t> lines(900 * 20);
  ASSERT_EQ(ReadScan(nullptr, nullptr, lines.data(), 900 * 20), QRX_TRUE)
      << std::hex << last_error();

  // 600 dpi would make lines of 1800 bytes of a scan read at 300.
  EXPECT_EQ(set_scan(600, 24, 0, 0, kInch, kInch / 5), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_SCAN_RUNNING);
  QRX_BOOL from_another_thread = QRX_TRUE;
  std::thread host([&] { from_another_thread = set_scan(600, 24, 0, 0, kInch, kInch / 5); });
  host.join();
  EXPECT_EQ(from_another_thread, QRX_FALSE);
  ASSERT_EQ(GetDataStatus(nullptr, &status), QRX_TRUE);
  EXPECT_EQ(status.LineBytes, 900u);
  EXPECT_EQ(status.LinesLeft, 40u);
  // The rest of the scan comes as it was set up.
  EXPECT_EQ(ReadScan(nullptr, nullptr, lines.data(), 900 * 20), QRX_TRUE)
      << std::hex << last_error();
  EXPECT_EQ(ReadScan(nullptr, nullptr, lines.data(), 900 * 20), QRX_TRUE)
      << std::hex << last_error();
  ASSERT_EQ(GetDataStatus(nullptr, &status), QRX_TRUE);
  EXPECT_EQ(status.LinesLeft, 0u);
  EXPECT_EQ(set_scan(600, 24, 0, 0, kInch, kInch / 5), QRX_FALSE) << "all read, not yet stopped";

  ASSERT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(set_scan(600, 24, 0, 0, kInch, kInch / 5), QRX_TRUE) << std::hex << last_error();
  ASSERT_EQ(GetDataStatus(nullptr, &status), QRX_TRUE);
  EXPECT_EQ(status.LineBytes, 1800u);
  EXPECT_EQ(status.LinesLeft, 120u);
}

TEST_F(ScanTest, TheLineTimeIsThatOfWhatTheScannerReads) {
  // The emulated scanner is on port type 1. Line periods of that port (ticks of
  // 8/30 us): 9216 for 24-bit and 27648 for 8-bit at 150 dpi, 13824 for 8-bit at
  // 300 dpi.
  struct Case {
    uint16_t x, y;
    uint8_t oversample;
    uint32_t time;  // microseconds
    const char* what;
  };
  const Case cases[] = {
      {150, 300, 1, 13824 * 8 / 30, "read as grey at 300 dpi, one line each"},
      {150, 150, 1, 2 * 13824 * 8 / 30, "read as grey at 300 dpi, two lines each"},
      {150, 150, 0, 9216 * 3 * 8 / 30, "grey read as colour at 150 dpi"},
      {75, 75, 0, 2 * 9216 * 3 * 8 / 30, "grey read as colour at 150 dpi, two lines each"},
  };
  for (const Case& c : cases) {
    ScanParameter p{};
    p.xRes = c.x;
    p.yRes = c.y;
    p.BitsPerPixel = 8;
    p.LowResOversample = c.oversample;
    p.ScanningArea = {0, 0, 4 * kInch, 4 * kInch};
    ASSERT_EQ(SetScanParameter(nullptr, &p), QRX_TRUE) << std::hex << last_error();
    DataStatus status{};
    ASSERT_EQ(GetDataStatus(nullptr, &status), QRX_TRUE);
    EXPECT_EQ(status.LineTime, c.time) << c.x << " x " << c.y << ": " << c.what;
    EXPECT_EQ(status.LineBytes, c.x) << "one byte a pixel in every case";
  }
}

}  // namespace
}  // namespace qrx::test
