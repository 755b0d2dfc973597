// Calibration line acquisition: reads that follow the controller's buffer,
// dropped fill bytes, and a controller that stops delivering.
#include <gtest/gtest.h>

#include <chrono>

#include "calibration/acquisition.h"
#include "calibration/exposure.h"
#include "support/sim_fixture.h"

namespace qrx::test {
namespace {

class AcquisitionTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_TRUE(open_scanner());
  }
  calibration::AcquisitionRequest request(uint16_t resolution, uint8_t bits, uint8_t channels,
                                          uint32_t lines) {
    calibration::AcquisitionRequest r;
    r.port_type = lib().context.link.port_type();
    r.resolution = resolution;
    r.bits_per_pixel = bits;
    r.line_count = lines;
    r.start_pixel = 0;
    r.width = 20544;
    r.channels = channels;
    r.exposure.channel = {255, 255, 255, 255};
    r.exposure.exposure = {8000, 8000, 8000, 1};
    return r;
  }
  uint16_t acquire(const calibration::AcquisitionRequest& r, std::vector<uint8_t>& lines) {
    return calibration::calibration_lines(lib().context, lib().setting, r, lines);
  }
};

TEST_F(AcquisitionTest, ReadsExactlyTheLinesInPiecesTheBufferHolds) {
  scanner->set_bulk_in_limit(10000);  // a controller that hands out short reads
  std::vector<uint8_t> lines;
  auto r = request(2400, 48, 3, 48);
  ASSERT_EQ(acquire(r, lines), QRX_OK);
  EXPECT_EQ(lines.size(), 48u * 3 * 20544 * 2);
  for (const auto& e : scanner->trace({emu::RequestKind::ControlOut, 0x82, -1})) {
    const uint32_t count = e.data[4] | e.data[5] << 8 | e.data[6] << 16 |
                           static_cast<uint32_t>(e.data[7]) << 24;
    EXPECT_LE(count, 61424u);
  }
  EXPECT_EQ(scanner->buffered_bytes() % 4, 0u);
  EXPECT_FALSE(scanner->motor_running()) << "the pass is waited out";
  EXPECT_EQ(scanner->peek_register(0x6C) & 0x02, 0x02) << "line 10 set again";
}

TEST_F(AcquisitionTest, FillBytesAtTheEndOfEachBlockAreDropped) {
  // 1796 units at 600 dpi are 449 pixels; the controller reads an even 450.
  auto r = request(600, 8, 1, 3);
  r.start_pixel = 8684;
  r.width = 1796;
  std::vector<uint8_t> lines;
  ASSERT_EQ(acquire(r, lines), QRX_OK);
  EXPECT_EQ(lib().context.read_line_bytes, 450u);
  EXPECT_EQ(lib().context.image_line_bytes, 449u);
  ASSERT_EQ(lines.size(), 3u * 449);
}

TEST_F(AcquisitionTest, AControllerThatStopsDeliveringFailsInsteadOfHanging) {
  scanner->stall_image_data(true);
  std::vector<uint8_t> lines;
  const auto wall = std::chrono::steady_clock::now();
  const uint64_t virtual_start = clock.now_us();
  EXPECT_EQ(acquire(request(600, 48, 3, 16), lines), QRX_E_ACQUIRE_DATA);
  // Only catches a wait that slipped onto the real clock.
  EXPECT_LT(std::chrono::steady_clock::now() - wall, std::chrono::seconds(25));
  EXPECT_GE(clock.now_us() - virtual_start, 1000u * calibration::kDataSilenceLimitMs);
  EXPECT_TRUE(lines.empty());
}

TEST_F(AcquisitionTest, FailingRequestsHaveTheirCodes) {
  std::vector<uint8_t> lines;
  scanner->fail_request({emu::RequestKind::ControlIn, 0x8E, 0x42}, 1);
  EXPECT_EQ(acquire(request(600, 48, 3, 4), lines), QRX_E_ACQUIRE_COUNT);
  scanner->clear_faults();
  TerminateScanner(nullptr);
  reset_scanner(emu::Options{});
  ASSERT_TRUE(open_scanner());
  scanner->fail_request({emu::RequestKind::BulkIn, -1, -1}, 1);
  EXPECT_EQ(acquire(request(600, 48, 3, 4), lines), QRX_E_ACQUIRE_DATA);
  scanner->clear_faults();
  TerminateScanner(nullptr);
  reset_scanner(emu::Options{});
  ASSERT_TRUE(open_scanner());
  // Register 0x6C also carries the motor phase lines (three writes in the
  // programme); the fourth write is line 10.
  scanner->fail_request({emu::RequestKind::ControlOut, 0x83, 0x6C}, 4);
  EXPECT_EQ(acquire(request(600, 48, 3, 4), lines), QRX_E_ACQUIRE_LINE10);
  // And the fifth, which sets it back once the lines are read.
  scanner->clear_faults();
  scanner->fail_request({emu::RequestKind::ControlOut, 0x83, 0x6C}, 5);
  EXPECT_EQ(acquire(request(600, 48, 3, 4), lines), QRX_E_ACQUIRE_LINE10);
  EXPECT_EQ(lines.size(), 0u) << "nothing handed back";
}

TEST_F(AcquisitionTest, AMovingReadTravelsItsRampsFeedLinesAndRunOut) {
  // 600 dpi 48-bit colour: ramps of 64 and 8 steps, feed 4, ten lines and the
  // run-out of two more at 2 steps a line. Calibration reads are fast feeds, which
  // the emulated chip ends over the fast-feed deceleration table (slot 4).
  scanner->set_carriage_steps(2000);
  auto r = request(600, 48, 3, 10);
  r.no_motor = 0;
  std::vector<uint8_t> lines;
  ASSERT_EQ(acquire(r, lines), QRX_OK);
  EXPECT_DOUBLE_EQ(scanner->carriage_steps(), 2000.0 + 64 + 4 + 12 * 2 + 8);
  const auto rows = scanner->pass_line_rows();
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_EQ(rows.front(), 2 * (2000 + 64 + 4)) << "the first line after the ramp and the feed";
}

TEST_F(AcquisitionTest, TheDarkExposureIsTheShortestPlusOne) {
  transport::ExposureSet exposure;
  ASSERT_EQ(calibration::dark_exposure(lib().context, lib().setting, exposure), QRX_OK);
  EXPECT_EQ(exposure.exposure[0], 0xFF + 1);
  EXPECT_EQ(exposure.channel[3], 255);
  scanner->fail_request({emu::RequestKind::ControlIn, 0x8E, 0x19}, 1);
  EXPECT_EQ(calibration::dark_exposure(lib().context, lib().setting, exposure),
            QRX_E_EXPOSURE_REGISTER);
}

}  // namespace
}  // namespace qrx::test
