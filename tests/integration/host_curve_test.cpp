// The host's tone curve (SetGamma) reaches the scans it was given for: across a
// controller reset by SetLamp's watchdog, and when it is given while the
// background calibration runs. Each scan is a whole host sequence through the
// exports over the chart's grey steps; what it delivers is compared with the same
// scan made where nothing stands in the curve's way.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "integration/scan_test_fixture.h"
#include "pass/carriage.h"

namespace qrx::test {
namespace {

// The first ten steps of the chart's grey ramp, at 300 dpi colour.
constexpr uint32_t kStepsX = 1200, kStepsY = 1500, kStepsWidth = 12000, kStepsLength = 600;

// The curve a host sends for a gamma of 2.2: output = input^(1/2.2).
std::vector<uint16_t> curve_22() {
  std::vector<uint16_t> curve(65536);
  for (size_t i = 0; i < curve.size(); ++i) {
    curve[i] = static_cast<uint16_t>(65535.0 * std::pow(i / 65535.0, 1 / 2.2));
  }
  return curve;
}

class HostCurveTest : public ScanTest {
 protected:
  // SetScanParameter, StartScanEx, GetCalibrationStatus until it is done (between: `meanwhile`),
  // every line read, StopScanEx: the mean of the delivered bytes.
  template <class Meanwhile>
  double scan_mean(Meanwhile&& meanwhile) {
    EXPECT_EQ(set_scan(300, 24, kStepsX, kStepsY, kStepsWidth, kStepsLength), QRX_TRUE);
    DataStatus status{};
    EXPECT_EQ(GetDataStatus(nullptr, &status), QRX_TRUE) << std::hex << last_error();
    EXPECT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
    meanwhile();
    EXPECT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
    std::vector<uint8_t> data(static_cast<size_t>(status.LineBytes) * status.LinesLeft);
    for (uint32_t line = 0; line < status.LinesLeft; ++line) {
      if (ReadScan(nullptr, nullptr, data.data() + static_cast<size_t>(line) * status.LineBytes,
                   status.LineBytes) != QRX_TRUE) {
        ADD_FAILURE() << "ReadScan at line " << line << ": " << std::hex << last_error();
        break;
      }
    }
    EXPECT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
    double sum = 0;
    for (uint8_t byte : data) sum += byte;
    return data.empty() ? 0 : sum / data.size();
  }
  double scan_mean() {
    return scan_mean([] {});
  }
};

TEST_F(HostCurveTest, TheHostsCurveOutlivesTheWatchdogsControllerReset) {
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_TRUE) << std::hex << last_error();
  const double plain = scan_mean();
  const std::vector<uint16_t> curve = curve_22();
  ASSERT_EQ(SetGamma(nullptr, curve.data(), 0, 0), QRX_TRUE) << std::hex << last_error();
  const double lifted = scan_mean();
  ASSERT_GT(lifted - plain, 10) << "a 2.2 curve lifts the grey steps";

  // The carriage keeps moving; half a minute of refusals later the watchdog resets
  // the controller and sets it up again.
  ASSERT_EQ(pass::wait_for_stop(lib().context), QRX_OK);
  scanner->jam_motor(true);
  ASSERT_EQ(TestScanner(nullptr, 57, 1, 0), QRX_TRUE) << std::hex << last_error();
  for (int refusal = 0; refusal < 2; ++refusal) {
    EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_FALSE);
    EXPECT_EQ(last_error(), QRX_E_CARRIAGE_MOVING);
    gate.sleep_ms(15'000);
  }
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_FALSE);
  ASSERT_EQ(last_error(), QRX_E_STATUS_REGISTER);
  scanner->jam_motor(false);
  ASSERT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_TRUE) << std::hex << last_error();

  EXPECT_NEAR(scan_mean(), lifted, 1.0) << "the scan after the reset still has the curve";
  // The expansion table too is still the 2.2 curve's: entry 128 of the reference
  // curve is 14386, where the identity's would be 128 x 256.
  for (const auto& table : lib().context.expand_table) {
    ASSERT_EQ(table.size(), 256u);
    EXPECT_EQ(table[128], 14386);
    EXPECT_EQ(table[255], 65535);
  }
}

TEST_F(HostCurveTest, ACurveGivenWhileTheScannerCalibratesIsTheScansCurve) {
  const double plain = scan_mean();  // calibrates first: no shading files yet
  const std::vector<uint16_t> curve = curve_22();

  // 1000 scans since the calibration: the next start calibrates in the background,
  // held here at its first wait while the host gives its curve.
  write_counter(1000);
  const double given_while_calibrating = scan_mean([&] {
    ASSERT_NE(lib().context.calibration_thread, nullptr);
    gate.close();
    ASSERT_TRUE(gate.wait_until_held());
    EXPECT_EQ(SetGamma(nullptr, curve.data(), 0, 0), QRX_TRUE) << std::hex << last_error();
    EXPECT_EQ(last_error(), QRX_OK);
    gate.open();
  });
  // The same curve given with no calibration in the way.
  ASSERT_EQ(SetGamma(nullptr, curve.data(), 0, 0), QRX_TRUE) << std::hex << last_error();
  const double given_before = scan_mean();
  ASSERT_GT(given_before - plain, 10) << "a 2.2 curve lifts the grey steps";
  EXPECT_NEAR(given_while_calibrating, given_before, 1.0);
}

}  // namespace
}  // namespace qrx::test
