// StartScanEx and GetCalibrationStatus: when a background calibration runs, what
// the other exports do meanwhile, how its failure surfaces, the scan counter, and
// the start of the scan proper with its failures.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <set>
#include <thread>
#include <vector>

#include "integration/scan_test_fixture.h"
#include "platform/memory.h"

namespace qrx::test {
namespace {

// 300 dpi colour, one inch square at the top left of the document.
constexpr uint32_t kInch = 2400;

TEST_F(ScanTest, WithoutShadingTheScannerIsCalibratedInTheBackgroundFirst) {
  ASSERT_EQ(set_scan(300, 24, 0, 0, kInch, kInch), QRX_TRUE);
  gate.close();
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
  ASSERT_TRUE(gate.wait_until_held()) << "the calibration waits for the scanner at some point";

  // While it is held mid-way: reported as running, the scanner held for it, the
  // context refused to unframed writers and framed exports kept waiting.
  uint8_t status = 0;
  EXPECT_EQ(GetCalibrationStatus(nullptr, &status), QRX_TRUE);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(lib().status_block.busy(), 1u);
  EXPECT_EQ(set_scan(600, 24, 0, 0, kInch, kInch), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_CALIBRATING);
  std::vector<uint16_t> curve(65536);
  for (size_t i = 0; i < curve.size(); ++i) curve[i] = static_cast<uint16_t>(i);
  EXPECT_EQ(SetGamma(nullptr, curve.data(), 0, 0), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_CALIBRATING);
  std::atomic<bool> framed_done{false};
  QRX_BOOL framed_result = QRX_FALSE;
  std::thread framed([&] {
    gate.run_free();
    OPUMode opu{};
    framed_result = GetOPUMode(nullptr, &opu);
    framed_done = true;
  });
  const uint64_t waited_from = gate.now_us();
  // Two seconds of its polling, unless it got through.
  while (gate.now_us() - waited_from < 2'000'000 && !framed_done) std::this_thread::yield();
  EXPECT_FALSE(framed_done) << "a framed export ran beside the calibration";
  EXPECT_EQ(GetCalibrationStatus(nullptr, &status), QRX_TRUE);
  EXPECT_EQ(status, 2);

  // The calibration goes on; the waiting export is parked meanwhile, so that its
  // polls do not run the calibration's time limits out.
  gate.park(framed.get_id());
  gate.open();
  EXPECT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
  gate.unpark();
  framed.join();
  EXPECT_TRUE(framed_done);
  EXPECT_EQ(framed_result, QRX_TRUE);
  for (const char* name : {"QRX7730A.SHD", "QRX7730B.SHD", "QRX7730C.SHD", "QRX7730D.SHD",
                           "QRX7730E.SHD", "QRX7730F.SHD"}) {
    EXPECT_TRUE(exists(name)) << name;
  }
  EXPECT_EQ(read_counter(), 1) << "the scan after the calibration is counted";
  EXPECT_NE(lib().context.reader_thread, nullptr) << "the scan started";
  EXPECT_EQ(lib().status_block.busy(), 0u);
  EXPECT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
}

TEST_F(ScanTest, TheScanCounterDecidesWhenToCalibrateAgain) {
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_TRUE) << std::hex << last_error();
  ASSERT_EQ(set_scan(300, 24, 0, 0, kInch, kInch), QRX_TRUE);

  write_counter(999);
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  EXPECT_EQ(lib().context.calibration_thread, nullptr) << "999 scans: still usable";
  ASSERT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(read_counter(), 1000);
  ASSERT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();

  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  EXPECT_NE(lib().context.calibration_thread, nullptr) << "1000 scans: due";
  ASSERT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(read_counter(), 1) << "calibrated afresh, then this scan counted";
  ASSERT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();

  // With the host's own gains the count steps back instead.
  ASSERT_EQ(set_scan(300, 24, 0, 0, kInch, kInch, 1), QRX_TRUE);
  write_counter(1000);
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  EXPECT_EQ(lib().context.calibration_thread, nullptr);
  EXPECT_EQ(read_counter(), 999);
  ASSERT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(read_counter(), 1000);
  EXPECT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE);
}

TEST_F(ScanTest, ABackgroundCalibrationFailingAt1200DpiIsReportedAndNoScanStarts) {
  ASSERT_EQ(set_scan(300, 24, 0, 0, kInch, kInch), QRX_TRUE);
  // Each dark reference reads register 0x19 once: 300, 150 and 75 dpi, then 600;
  // the fifth read is the 1200 dpi one.
  scanner->fail_request({emu::RequestKind::ControlIn, 0x8E, 0x19}, 5);
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  scanner->clear_trace();
  uint8_t status = 0xEE;
  EXPECT_EQ(poll_calibration_status(&status), QRX_FALSE);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(last_error(), QRX_E_EXPOSURE_REGISTER);
  EXPECT_TRUE(exists("QRX7730D.SHD"));
  EXPECT_FALSE(exists("QRX7730E.SHD")) << "it failed at 1200 dpi";
  EXPECT_EQ(lib().context.calibration_thread, nullptr);
  EXPECT_FALSE(engine::scan_running(lib().context));
  EXPECT_EQ(lib().status_block.busy(), 0u) << "the thread gave the scanner back";
  EXPECT_EQ(lib().context.exposure_cache_enabled, 0u);
}

TEST_F(ScanTest, AScanIsStartedOnceUntilItIsStopped) {
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_TRUE) << std::hex << last_error();
  ASSERT_EQ(set_scan(300, 24, 0, 0, kInch, kInch), QRX_TRUE);
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  ASSERT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
  scanner->clear_trace();
  uint8_t status = 0xEE;
  EXPECT_EQ(GetCalibrationStatus(nullptr, &status), QRX_FALSE);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(last_error(), QRX_E_SCAN_RUNNING);
  EXPECT_EQ(StartScanEx(nullptr, nullptr), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_SCAN_RUNNING);
  EXPECT_TRUE(scanner->trace({emu::RequestKind::ControlOut, 0x83, 0x0F}).empty())
      << "nothing was started under the running scan";
  EXPECT_EQ(lib().status_block.busy(), 0u);
  ASSERT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  EXPECT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
}

TEST_F(ScanTest, AStartWithoutStoredCalibrationFailsAndReleasesTheScanner) {
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_TRUE) << std::hex << last_error();
  ASSERT_EQ(set_scan(300, 24, 0, 0, kInch, kInch), QRX_TRUE);
  // The calibration is there when the start looks, and gone when the scan loads it.
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  EXPECT_EQ(lib().context.calibration_thread, nullptr);
  ASSERT_EQ(std::remove(library_file("QRX7730C.SHD").c_str()), 0);
  EXPECT_EQ(poll_calibration_status(), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_CALIBRATION_DATA);
  EXPECT_EQ(lib().status_block.busy(), 0u);
  EXPECT_FALSE(engine::scan_running(lib().context));
}

TEST_F(ScanTest, EveryAllocationFailureOfTheStartIsReportedAndLeavesNothingRunning) {
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_TRUE) << std::hex << last_error();
  ASSERT_EQ(set_scan(300, 24, 0, 0, kInch, kInch), QRX_TRUE);
  // Some allocations may fail without failing the start (a table the scanner
  // keeps from before); every one that fails it must say so and leave nothing.
  std::set<uint16_t> codes;
  int started = 0;
  // The ring is the start's last allocation.
  for (long n = 0; n < 400 && codes.count(QRX_E_IMAGE_RING) == 0; ++n) {
    platform::fail_allocation_after(n);
    uint8_t status = 0;
    const QRX_BOOL result = GetCalibrationStatus(nullptr, &status);
    platform::fail_allocation_after(-1);
    EXPECT_EQ(lib().status_block.busy(), 0u);
    if (result == QRX_TRUE) {
      ++started;
      EXPECT_EQ(engine::stop_now(lib().context, lib().setting), QRX_OK);
      continue;
    }
    codes.insert(last_error());
    EXPECT_FALSE(engine::scan_running(lib().context)) << std::hex << last_error();
  }
  EXPECT_GT(started, 0);
  EXPECT_TRUE(codes.count(QRX_E_IMAGE_RING)) << "the ring's own code is reachable";
  EXPECT_TRUE(codes.count(QRX_E_NOMEM_COMPOSE)) << "so is the data-file composition's";
  EXPECT_EQ(codes.count(QRX_OK), 0u);
}

}  // namespace
}  // namespace qrx::test
