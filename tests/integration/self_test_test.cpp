// TestScanner against the emulated scanner: each service test passing on a sound
// scanner and failing on the fault it is there to find.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "pass/carriage.h"
#include "support/sim_fixture.h"
#include "support/temp_dir.h"

namespace qrx::test {
namespace {

using emu::RequestKind;

constexpr uint32_t kRunLines = 877;

class SelfTest : public SimTest {
 protected:
  void open(const emu::Options& options = emu::Options{}) {
    TerminateScanner(nullptr);
    reset_scanner(options);
    ASSERT_TRUE(open_scanner());
  }
  // Runs a test; its result (the last status) after checking the busy flag.
  uint16_t run(uint8_t code, uint8_t parameter, QRX_BOOL expected) {
    EXPECT_EQ(TestScanner(nullptr, code, parameter, 0), expected) << std::hex << last_error();
    EXPECT_EQ(lib().status_block.busy(), 0u);
    return last_error();
  }
  // Starts the endless run on a thread; after `passes` whole passes, calls
  // `fault`, and gives the run `patience` of real time to end before the scanner
  // is disconnected. The run's result and status.
  std::pair<QRX_BOOL, uint16_t> endless(uint64_t passes, const std::function<void()>& fault) {
    std::atomic<bool> done{false};
    QRX_BOOL result = QRX_TRUE;
    std::thread run([&] {
      result = TestScanner(nullptr, 0, 0, 0);
      done = true;
    });
    const auto patience = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done && scanner->lines_produced() < passes * kRunLines &&
           std::chrono::steady_clock::now() < patience) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_FALSE(done) << "the run ended while the scanner worked";
    fault();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(done) << "the fault did not end the run";
    if (!done) scanner->disconnect();
    run.join();
    EXPECT_EQ(lib().status_block.busy(), 0u);
    return {result, last_error()};
  }
};

TEST_F(SelfTest, TheEndlessRunGoesOnUntilTheScannerFails) {
  open();
  auto [ok, status] = endless(3, [&] { scanner->disconnect(); });
  EXPECT_EQ(ok, QRX_FALSE);
  EXPECT_NE(status, QRX_OK);
  EXPECT_GE(scanner->lines_produced(), 3 * kRunLines);
}

TEST_F(SelfTest, TheEndlessRunEndsWhenTheMotorStalls) {
  open();
  auto [ok, status] = endless(2, [&] { scanner->jam_motor(true); });
  EXPECT_EQ(ok, QRX_FALSE);
  EXPECT_EQ(status, QRX_E_MOTOR_TIMEOUT);
}

TEST_F(SelfTest, OneCarriageRunReadsTheFlatbedOnce) {
  open();
  EXPECT_EQ(run(4, 0, QRX_TRUE), QRX_OK);
  EXPECT_EQ(scanner->pass_lines(), kRunLines);
  EXPECT_EQ(scanner->peek_register(0x60) & 1, 0) << "the service bit is cleared again";
  scanner->fail_request({RequestKind::ControlOut, 0x83, 0x60}, 1);
  EXPECT_EQ(run(4, 0, QRX_FALSE), QRX_E_RESET);
}

TEST_F(SelfTest, TheLightAndDarkCheck) {
  open();
  EXPECT_EQ(run(5, 0, QRX_TRUE), QRX_OK);
  EXPECT_EQ(scanner->carriage_steps(), 0.0);
  emu::Options options;
  options.falloff_percent = 90;  // the sensor's ends see a tenth of the light
  open(options);
  EXPECT_EQ(run(5, 0, QRX_FALSE), QRX_TEST_LIGHT_UNEVEN);
  options = emu::Options{};
  options.dark_level = 22000;  // 8-bit dark level 86
  open(options);
  EXPECT_EQ(run(5, 0, QRX_FALSE), QRX_TEST_DARK_TOO_BRIGHT);
}

TEST_F(SelfTest, TheLightAndDarkCheckRunsWithTheServiceBitSet) {
  open();
  scanner->clear_trace();
  EXPECT_EQ(run(5, 0, QRX_TRUE), QRX_OK);
  std::vector<uint8_t> service;
  for (const auto& e : scanner->trace({RequestKind::ControlOut, 0x83, 0x60})) {
    service.push_back(e.data[1] & 1);
  }
  ASSERT_GE(service.size(), 2u);
  EXPECT_EQ(service.front(), 1) << "set before anything else";
  EXPECT_EQ(service.back(), 0) << "cleared at the end";
  for (uint32_t nth : {1u, static_cast<uint32_t>(service.size())}) {
    scanner->fail_request({RequestKind::ControlOut, 0x83, 0x60}, nth);
    EXPECT_EQ(run(5, 0, QRX_FALSE), QRX_E_RESET) << nth;
    scanner->clear_faults();
  }
}

TEST_F(SelfTest, TheCalibrationRunCalibratesFourResolutions) {
  ScopedTempDir temp;
  open();
  EXPECT_EQ(run(6, 0, QRX_TRUE), QRX_OK);
  for (const char* name : {"QRX7730C.SHD", "QRX7730D.SHD", "QRX7730E.SHD", "QRX7730F.SHD"}) {
    struct stat st {};
    EXPECT_EQ(stat((temp.scanner_dir(scanner_identity()) + name).c_str(), &st), 0) << name;
  }
  emu::Options options;
  options.lamp_percent = 8;
  open(options);
  EXPECT_EQ(run(6, 0, QRX_FALSE), QRX_E_EXPOSURE_FLATBED);
}

TEST_F(SelfTest, LightUniformity) {
  open();
  EXPECT_EQ(run(50, 0, QRX_TRUE), QRX_OK);
  EXPECT_EQ(run(50, 1, QRX_TRUE), QRX_OK);
  scanner->clear_trace();
  EXPECT_EQ(run(50, 3, QRX_FALSE), QRX_E_PARAMETER);
  EXPECT_TRUE(scanner->trace().empty());
  emu::Options options;
  options.falloff_percent = 90;
  open(options);
  EXPECT_EQ(run(50, 0, QRX_FALSE), QRX_E_SELFTEST_UNIFORMITY);
  EXPECT_EQ(run(50, 2, QRX_FALSE), QRX_E_SELFTEST_UNIFORMITY);
}

TEST_F(SelfTest, InputLinesAreReadIntoABitMap) {
  open();
  // At home, nothing pressed: the home bit, the pulled-up lines 1 to 6, line 7 low.
  EXPECT_EQ(run(51, 0, QRX_TRUE), 0x7F);
  scanner->press_button(1);  // pulls line 4 (register 0x6D bit 3) low
  scanner->set_carriage_steps(500);
  EXPECT_EQ(run(51, 0, QRX_TRUE), 0x6E);
  EXPECT_EQ(run(52, 0, QRX_TRUE), 0x00);
  scanner->poke_register(0xA9, 0x10);  // line 32
  scanner->poke_register(0x6D, 0x80);  // line 8
  EXPECT_EQ(run(52, 0, QRX_TRUE), 0xC0);
  scanner->fail_request({RequestKind::ControlIn, 0x8E, 0x6D}, 2);
  EXPECT_EQ(run(51, 0, QRX_FALSE), QRX_E_SELFTEST);
}

TEST_F(SelfTest, EachInputLineHasItsBit) {
  open();
  // Buttons 1 to 4 pull register 0x6D bits 3, 0, 2, 1 low: lines 4, 1, 3, 2, which
  // are bits 4, 1, 3, 2 of test 51's map.
  const std::pair<int, uint16_t> buttons[] = {
      {1, 0x7F & ~0x10}, {2, 0x7F & ~0x02}, {3, 0x7F & ~0x08}, {4, 0x7F & ~0x04}};
  for (const auto& [button, map] : buttons) {
    scanner->press_button(button);
    EXPECT_EQ(run(51, 0, QRX_TRUE), map) << "button " << button;
    scanner->release_button(button);
  }
  // Line 7 (0x6D bit 6) high as well: every bit of the map set, 255 still a pass.
  scanner->poke_register(0x6D, 0x40);
  EXPECT_EQ(run(51, 0, QRX_TRUE), 0xFF);
}

TEST_F(SelfTest, EachOutputBitDrivesItsLine) {
  open();
  // Test 53: bits 0..7 drive lines 9, 11, 12, 13, -, 10, 16, - (0x6C bits 0, 2, 3,
  // 4, -, 1, 7, -); test 54: lines 14, 15, 19 (0x6C bits 5, 6; 0xA6 bit 2).
  const uint8_t in_6c_53[8] = {0x01, 0x04, 0x08, 0x10, 0x00, 0x02, 0x80, 0x00};
  for (int bit = 0; bit < 8; ++bit) {
    scanner->poke_register(0x6C, 0x00);
    EXPECT_EQ(run(53, static_cast<uint8_t>(1 << bit), QRX_TRUE), QRX_OK);
    EXPECT_EQ(scanner->peek_register(0x6C), in_6c_53[bit]) << "test 53 bit " << bit;
  }
  const uint8_t in_6c_54[3] = {0x20, 0x40, 0x00};
  for (int bit = 0; bit < 3; ++bit) {
    scanner->poke_register(0x6C, 0x00);
    scanner->poke_register(0xA6, 0x00);
    EXPECT_EQ(run(54, static_cast<uint8_t>(1 << bit), QRX_TRUE), QRX_OK);
    EXPECT_EQ(scanner->peek_register(0x6C), in_6c_54[bit]) << "test 54 bit " << bit;
    EXPECT_EQ(scanner->peek_register(0xA6) & 0x04, bit == 2 ? 0x04 : 0) << "test 54 bit " << bit;
  }
}

TEST_F(SelfTest, OutputLinesAreWrittenFromTheParameter) {
  open();
  scanner->poke_register(0x6C, 0x00);
  scanner->poke_register(0xA6, 0x00);
  EXPECT_EQ(run(53, 0xFF, QRX_TRUE), QRX_OK);
  EXPECT_EQ(scanner->peek_register(0x6C), 0x9F) << "lines 9 to 13 and 16; 14 and 15 untouched";
  EXPECT_EQ(run(54, 0x05, QRX_TRUE), QRX_OK);
  EXPECT_EQ(scanner->peek_register(0x6C), 0xBF) << "line 14 set, 15 cleared";
  EXPECT_EQ(scanner->peek_register(0xA6) & 0x04, 0x04) << "line 19";
  EXPECT_EQ(run(53, 0x00, QRX_TRUE), QRX_OK);
  EXPECT_EQ(scanner->peek_register(0x6C), 0x20);

  // Test 53 stops at a failed line, test 54 writes the others.
  scanner->fail_request({RequestKind::ControlOut, 0x83, 0x6C}, 1);
  EXPECT_EQ(run(53, 0xFF, QRX_FALSE), QRX_E_SELFTEST);
  EXPECT_EQ(scanner->peek_register(0x6C), 0x20);
  scanner->fail_request({RequestKind::ControlOut, 0x83, 0x6C}, 1);
  EXPECT_EQ(run(54, 0x06, QRX_FALSE), QRX_E_SELFTEST);
  EXPECT_EQ(scanner->peek_register(0x6C), 0x60) << "line 14 failed, line 15 written";
  EXPECT_EQ(scanner->peek_register(0xA6) & 0x04, 0x04);
}

TEST_F(SelfTest, ControllerMemory) {
  open();
  scanner->clear_trace();
  EXPECT_EQ(run(56, 1, QRX_FALSE), QRX_E_PARAMETER);
  EXPECT_TRUE(scanner->trace().empty()) << "refused before touching the scanner";
  EXPECT_EQ(run(56, 0, QRX_TRUE), QRX_OK);
  // The carriage still on its way home: the test waits for it before it writes
  // over the RAM that holds the move's slope tables.
  scanner->set_carriage_steps(5000);
  ASSERT_EQ(pass::return_home(lib().context, lib().setting, false, false), QRX_OK);
  ASSERT_TRUE(scanner->pass_active());
  EXPECT_EQ(run(56, 0, QRX_TRUE), QRX_OK);
  EXPECT_EQ(scanner->carriage_steps(), 0.0);
  emu::Options options;
  options.ram_stuck_bit = (1 << 20) * 8 + 5;  // 1 MiB in, bit 5
  open(options);
  EXPECT_EQ(run(56, 0, QRX_FALSE), QRX_E_SELFTEST);
  options.ram_stuck_bit = (2 << 20) * 8;  // just past the tested 2 MiB
  open(options);
  EXPECT_EQ(run(56, 0, QRX_TRUE), QRX_OK);
}

TEST_F(SelfTest, ShortMotorMoves) {
  open();
  // Parameters 1 to 4 move with rows 3 to 6: 2400 dpi at step modes 0 to 3.
  for (uint8_t parameter = 1; parameter <= 4; ++parameter) {
    EXPECT_EQ(run(57, parameter, QRX_TRUE), QRX_OK);
    EXPECT_EQ(scanner->peek_register(0x60) >> 5, parameter - 1) << int(parameter);
    EXPECT_EQ(scanner->peek_register(0x2C) << 8 | scanner->peek_register(0x2D), 2400);
    clock.advance_us(5'000'000);
  }
  EXPECT_EQ(run(57, 1, QRX_TRUE), QRX_OK);
  clock.advance_us(5'000'000);
  EXPECT_GT(scanner->carriage_steps(), 4.0 - 1e-9);
  scanner->clear_trace();
  EXPECT_EQ(run(57, 5, QRX_TRUE), QRX_OK);
  EXPECT_TRUE(scanner->trace().empty()) << "parameter 5 moves nothing";
}

}  // namespace
}  // namespace qrx::test
