// What a host's calls around a scan may rely on, whatever their order: the data
// status polled while reading, the line filter armed for one scan only, a scan
// started without a light or without an open scanner, and a calibration result
// that belongs to the scan that started it.
#include <gtest/gtest.h>

#include <vector>

#include "integration/scan_test_fixture.h"

namespace qrx::test {
namespace {

// 300 dpi colour over the chart's grey ramp and colour patches (2400 dpi units).
constexpr uint32_t kX = 2000, kY = 2800, kWidth = 480;

class HostOrderTest : public ScanTest {
 protected:
  void SetUp() override {
    ScanTest::SetUp();
    // A scanner without sensor noise, so that two scans of one window agree byte for byte.
    emu::Options quiet;
    quiet.sensor_noise = false;
    reset_scanner(quiet);
    TerminateScanner(nullptr);
    ASSERT_TRUE(open_scanner());
    ASSERT_EQ(InitializeScanner(nullptr), QRX_TRUE) << std::hex << last_error();
    ASSERT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_TRUE) << std::hex << last_error();
  }

  // What a scan gave the host.
  struct Scan {
    std::vector<uint8_t> image;
    std::vector<uint32_t> lines_left;  // GetDataStatus before each read, when polled
    uint32_t lines = 0;                // lines read
    uint16_t failure = QRX_OK;         // the first failing read's status
  };

  // Starts the scan SetScanParameter described, reads `lines` lines of line_bytes
  // one at a time (asking GetDataStatus before each when poll is set), and stops.
  Scan read_scan(uint32_t lines, uint32_t line_bytes, bool poll) {
    Scan scan;
    EXPECT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
    EXPECT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
    std::vector<uint8_t> line(line_bytes);
    for (uint32_t i = 0; i < lines; ++i) {
      if (poll) {
        DataStatus status{};
        EXPECT_EQ(GetDataStatus(nullptr, &status), QRX_TRUE);
        scan.lines_left.push_back(status.LinesLeft);
      }
      if (ReadScan(nullptr, nullptr, line.data(), line_bytes) != QRX_TRUE) {
        scan.failure = last_error();
        break;
      }
      scan.image.insert(scan.image.end(), line.begin(), line.end());
      ++scan.lines;
    }
    EXPECT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
    return scan;
  }

  // SetScanParameter, then GetDataStatus as a host asks it before the scan.
  DataStatus describe(uint16_t resolution, uint32_t length) {
    EXPECT_EQ(set_scan(resolution, 24, kX, kY, kWidth, length), QRX_TRUE)
        << std::hex << last_error();
    DataStatus status{};
    EXPECT_EQ(GetDataStatus(nullptr, &status), QRX_TRUE);
    return status;
  }
};

TEST_F(HostOrderTest, PollingTheDataStatusWhileReadingLosesNoLine) {
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 1200), QRX_TRUE) << std::hex << last_error();
  // 1200 dpi over 40 units: 20 lines of 240 pixels, which the line filter smooths.
  const DataStatus before = describe(1200, 40);
  ASSERT_EQ(before.LinesLeft, 20u);
  ASSERT_EQ(before.LineBytes, 240u * 3);
  const Scan reference = read_scan(20, 720, false);
  ASSERT_EQ(reference.lines, 20u) << std::hex << reference.failure;

  // The same scan by a host that asks for the data status before every line.
  describe(1200, 40);
  const Scan polled = read_scan(20, 720, true);
  EXPECT_EQ(polled.lines, 20u) << "read failed with 0x" << std::hex << polled.failure;
  std::vector<uint32_t> counting_down;
  for (uint32_t left = 20; left > 0; --left) counting_down.push_back(left);
  EXPECT_EQ(polled.lines_left, counting_down);
  EXPECT_TRUE(polled.image == reference.image) << "the polled scan differs";
}

TEST_F(HostOrderTest, TheLineFilterServesOnlyTheScanItWasArmedFor) {
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 600), QRX_TRUE) << std::hex << last_error();
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 1200), QRX_TRUE) << std::hex << last_error();
  // 600 dpi over 48 units: 12 lines of 120 pixels, unfiltered.
  describe(600, 48);
  const Scan reference = read_scan(12, 360, false);
  ASSERT_EQ(reference.lines, 12u) << std::hex << reference.failure;

  // A filtered 1200 dpi scan, read whole.
  describe(1200, 40);
  ASSERT_EQ(read_scan(20, 720, false).lines, 20u);

  // The 600 dpi scan again, by a host that leaves out GetDataStatus.
  ASSERT_EQ(set_scan(600, 24, kX, kY, kWidth, 48), QRX_TRUE);
  const Scan again = read_scan(12, 360, false);
  EXPECT_EQ(again.lines, 12u) << "read failed with 0x" << std::hex << again.failure;
  EXPECT_TRUE(again.image == reference.image) << "the scan went through the filter";

  // The filter armed for a 1200 dpi scan described and asked about, but not
  // started: the host describes the 600 dpi scan instead and starts that.
  describe(1200, 40);
  ASSERT_EQ(set_scan(600, 24, kX, kY, kWidth, 48), QRX_TRUE);
  const Scan redescribed = read_scan(12, 360, false);
  EXPECT_EQ(redescribed.lines, 12u) << "read failed with 0x" << std::hex << redescribed.failure;
  EXPECT_TRUE(redescribed.image == reference.image) << "the scan went through the filter";
}

TEST_F(HostOrderTest, AScanWithoutALightIsRefusedWhenItStarts) {
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_TRUE) << std::hex << last_error();
  // As the library is loaded: no light was ever selected.
  lib().lamp_select = 0;
  describe(300, 240);
  EXPECT_EQ(StartScanEx(nullptr, nullptr), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NO_LAMP_SELECTED);
  uint8_t status = 0xEE;
  EXPECT_EQ(GetCalibrationStatus(nullptr, &status), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NO_LAMP_SELECTED);
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(scan::scan_running(lib().context));
  EXPECT_EQ(lib().context.calibration_thread, nullptr);

  // "No light" selected on purpose is no better.
  ASSERT_EQ(SetLamp(nullptr, QRX_LAMP_NONE), QRX_TRUE);
  describe(300, 240);
  EXPECT_EQ(StartScanEx(nullptr, nullptr), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NO_LAMP_SELECTED);

  // The light selected after the scan was described: the description has none.
  ASSERT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_TRUE);
  EXPECT_EQ(StartScanEx(nullptr, nullptr), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NO_LAMP_SELECTED);
  EXPECT_EQ(lib().status_block.busy(), 0u);

  // Described again under the flatbed light, the scan runs.
  describe(300, 240);
  const Scan scan = read_scan(30, 60 * 3, false);
  EXPECT_EQ(scan.lines, 30u) << std::hex << scan.failure;
}

TEST_F(HostOrderTest, ScanCallsNeedAnOpenScannerAndNoScanInheritsAnotherOnesResult) {
  TerminateScanner(nullptr);
  ASSERT_EQ(set_scan(300, 24, kX, kY, kWidth, 240), QRX_TRUE);
  EXPECT_EQ(StartScanEx(nullptr, nullptr), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NOT_OPEN);
  EXPECT_EQ(lib().context.calibration_thread, nullptr) << "nothing calibrates a closed scanner";
  uint8_t status = 0xEE;
  EXPECT_EQ(GetCalibrationStatus(nullptr, &status), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NOT_OPEN);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NOT_OPEN);
  EXPECT_FALSE(exists("QRX7730C.SHD"));

  // A background calibration that fails at once (register 0x19 unreadable),
  // whose result the host never asks for before it closes the scanner.
  ASSERT_TRUE(open_scanner());
  ASSERT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_TRUE);
  ASSERT_EQ(set_scan(300, 24, kX, kY, kWidth, 240), QRX_TRUE);
  scanner->fail_request({emu::RequestKind::ControlIn, 0x8E, 0x19}, 1);
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  ASSERT_NE(lib().context.calibration_thread, nullptr);
  for (const auto since = std::chrono::steady_clock::now();
       scan::background_calibration_running(lib().context) && still_waiting(since);) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_FALSE(scan::background_calibration_running(lib().context));
  TerminateScanner(nullptr);
  EXPECT_EQ(lib().context.calibration_thread, nullptr)
      << "closing the scanner ends its calibration";

  // The next scan, calibrated explicitly, starts without that failure.
  ASSERT_TRUE(open_scanner());
  ASSERT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_TRUE);
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_TRUE) << std::hex << last_error();
  ASSERT_EQ(set_scan(300, 24, kX, kY, kWidth, 240), QRX_TRUE);
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(poll_calibration_status(), QRX_TRUE) << "0x" << std::hex << last_error();
  EXPECT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
}

}  // namespace
}  // namespace qrx::test
