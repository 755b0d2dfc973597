// Opening and powering up the emulated scanner through FindScannerEx.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <tuple>
#include <utility>
#include <vector>

#include "device/power_on.h"
#include "pass/carriage.h"
#include "platform/memory.h"
#include "support/hooked_channel.h"
#include "support/sim_fixture.h"

namespace qrx::test {
namespace {

using PowerOnTest = SimTest;

uint16_t register16(emu::Scanner& s, uint8_t first) {
  return static_cast<uint16_t>(s.peek_register(first) << 8 | s.peek_register(first + 1));
}

TEST_F(PowerOnTest, BringsTheControllerToItsPowerOnState) {
  ASSERT_TRUE(open_scanner()) << std::hex << last_error();
  EXPECT_EQ(last_error(), QRX_OK);
  EXPECT_EQ(lib().device_open, 1u);
  emu::Scanner& s = *scanner;
  // The register table's last word for 0x0B, then the clock bits and power line.
  EXPECT_EQ(s.peek_register(0x0B), 0x29);
  EXPECT_EQ(s.peek_register(0x06) & 0x10, 0x10) << "the controller now reports itself set up";
  EXPECT_EQ(s.setting(0x10), 0x0B);
  EXPECT_EQ(s.setting(0x13), 0x0E);
  EXPECT_EQ(s.setting(0x0F), 4) << "port type 1 writes the port setting";
  // Power lines: 0x6C lines 9, 10, 14, 15, 16 set; 0xA6 line 19.
  EXPECT_EQ(s.peek_register(0x6C) & 0xE3, 0xE3);
  EXPECT_EQ(s.peek_register(0xA6) & 0x04, 0x04);
  EXPECT_EQ(s.peek_register(0x6E), 0xFF);
  // Board variant 0: the 24-bit clock register holds 0x00009F.
  EXPECT_EQ(s.peek_register(0x77), 0x00);
  EXPECT_EQ(s.peek_register(0x79), 0x9F);
  EXPECT_EQ(lib().context.board_variant, 0);
  // Line buffers and memory layout.
  EXPECT_EQ(s.peek_register(0xD0), 10);
  EXPECT_EQ(s.peek_register(0xD1), 21);
  EXPECT_EQ(s.peek_register(0xD2), 32);
  EXPECT_EQ(lib().context.line_buffer_address[1], 0x1002A000u);
  EXPECT_EQ(lib().context.buffer_segment, 426u);
  const uint16_t expected[4] = {172, 597, 598, 1023};
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(register16(s, static_cast<uint8_t>(0xE0 + 2 * i)), expected[i % 4]) << i;
  }
  EXPECT_EQ(s.peek_register(0xF8), 0x01);
  // Work tables: identity gamma, expansion by 256.
  EXPECT_EQ(lib().context.gamma_table[2][40000], 40000);
  EXPECT_EQ(lib().context.expand_table[0][255], 255 * 256);
  EXPECT_EQ(lib().context.shading_white[3].size(), 65536u);
}

TEST_F(PowerOnTest, BoardVariantOneAndPortTypeTwo) {
  emu::Options options;
  options.board_variant = 1;
  options.port_type = 2;
  reset_scanner(options);
  ASSERT_TRUE(open_scanner());
  EXPECT_EQ(lib().context.board_variant, 1);
  EXPECT_EQ(lib().context.link.port_type(), 2u);
  EXPECT_EQ(scanner->peek_register(0x79), 0x00);
  EXPECT_EQ(scanner->setting(0x0F), 0) << "port type 2 skips the port setting";
  EXPECT_TRUE(scanner->trace({emu::RequestKind::ControlOut, emu::kRequestSetting, -1}).size() == 2u)
      << "only the two clock settings";
}

struct StepFault {
  const char* step;
  emu::RequestFilter filter;
  uint32_t nth;
  uint16_t code;
};

TEST_F(PowerOnTest, EachFailingStepHasItsOwnCodeAndLeavesTheDeviceClosed) {
  using emu::RequestKind;
  const StepFault faults[] = {
      {"power state", {RequestKind::ControlIn, 0x8E, 0x06}, 1, QRX_E_POWER_STATE},
      {"reset pulse", {RequestKind::ControlOut, 0x83, 0x0E}, 1, QRX_E_RESET},
      {"line 19", {RequestKind::ControlOut, 0x83, 0xA6}, 1, QRX_E_RESET},
      {"register table", {RequestKind::ControlOut, 0x83, 0x1A}, 1, QRX_E_POWER_ON_TABLE},
      {"board variant", {RequestKind::ControlIn, 0x8E, 0xA6}, 2, QRX_E_SETUP_REGISTER},
      {"clock register", {RequestKind::ControlOut, 0x83, 0x78}, 1, QRX_E_SETUP_REGISTER},
      {"clock setting", {RequestKind::ControlOut, 0x8C, -1}, 1, QRX_E_SETUP_REGISTER},
      {"port setting", {RequestKind::ControlOut, 0x8C, -1}, 3, QRX_E_PORT_SETTING},
      {"power lines", {RequestKind::ControlOut, 0x83, 0x6F}, 2, QRX_E_POWER_LINES},
      // Register 0x6C: the table writes it twice, then lines 16, 14, 15, 10 and 9.
      {"power 0xA7", {RequestKind::ControlOut, 0x83, 0xA7}, 2, QRX_E_POWER_LINES},
      {"power 0xA8", {RequestKind::ControlOut, 0x83, 0xA8}, 1, QRX_E_POWER_LINES},
      {"line 16", {RequestKind::ControlOut, 0x83, 0x6C}, 3, QRX_E_POWER_LINES},
      {"line 14", {RequestKind::ControlOut, 0x83, 0x6C}, 4, QRX_E_POWER_LINES},
      {"line 15", {RequestKind::ControlOut, 0x83, 0x6C}, 5, QRX_E_POWER_LINES},
      {"0x0B bit 3", {RequestKind::ControlOut, 0x83, 0x0B}, 4, QRX_E_POWER_LINES},
      {"line 10", {RequestKind::ControlOut, 0x83, 0x6C}, 6, QRX_E_POWER_LINES},
      {"line 9", {RequestKind::ControlOut, 0x83, 0x6C}, 7, QRX_E_POWER_LINES},
      // A channel's area left where it was would give it another channel's shading.
      {"line buffer red", {RequestKind::ControlOut, 0x83, 0xD0}, 1, QRX_E_LINE_BUFFER},
      {"line buffer blue", {RequestKind::ControlOut, 0x83, 0xD2}, 1, QRX_E_LINE_BUFFER},
      {"memory size", {RequestKind::ControlIn, 0x8E, 0x0B}, 3, QRX_E_MEMORY_LAYOUT},
      {"memory mode", {RequestKind::ControlIn, 0x8E, 0x08}, 1, QRX_E_MEMORY_LAYOUT},
      {"first bound", {RequestKind::ControlOut, 0x83, 0xE0}, 1, QRX_E_MEMORY_LAYOUT},
      {"last bound", {RequestKind::ControlOut, 0x83, 0xF7}, 1, QRX_E_MEMORY_LAYOUT},
      {"layout switch", {RequestKind::ControlOut, 0x83, 0xF8}, 1, QRX_E_MEMORY_LAYOUT},
  };
  for (const StepFault& fault : faults) {
    TerminateScanner(nullptr);
    reset_scanner(emu::Options{});
    scanner->fail_request(fault.filter, fault.nth);
    EXPECT_FALSE(open_scanner()) << fault.step;
    EXPECT_EQ(last_error(), fault.code) << fault.step;
    EXPECT_EQ(lib().device_open, 0u) << fault.step;
    EXPECT_FALSE(lib().context.link.is_open()) << fault.step;
    EXPECT_EQ(lib().status_block.busy(), 0u) << fault.step;
  }
}

TEST_F(PowerOnTest, PowerLinesComeUpInTheirOrderFiveMillisecondsApart) {
  ASSERT_TRUE(open_scanner());
  const auto writes = scanner->trace({emu::RequestKind::ControlOut, 0x83, -1});
  // From the write of 0x6E = 0xFF on: 0x6F, 0xA7, 0xA8, then lines 16, 14 and 15
  // (0x6C bits 7, 5, 6), 0x0B bit 3 (already set by the clock setup: 0x29), lines
  // 10 and 9 (0x6C bits 1 and 0).
  const auto first = std::find_if(writes.begin(), writes.end(), [](const emu::TraceEntry& e) {
    return e.data[0] == 0x6E && e.data[1] == 0xFF;
  });
  ASSERT_NE(first, writes.end());
  const std::vector<std::pair<uint8_t, uint8_t>> expected = {
      {0x6E, 0xFF}, {0x6F, 0x00}, {0xA7, 0x04}, {0xA8, 0x00}, {0x6C, 0x80},
      {0x6C, 0xA0}, {0x6C, 0xE0}, {0x0B, 0x29}, {0x6C, 0xE2}, {0x6C, 0xE3}};
  ASSERT_GE(static_cast<size_t>(writes.end() - first), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(first[i].data[0], expected[i].first) << i;
    EXPECT_EQ(first[i].data[1], expected[i].second) << i;
  }
  // The register table starts 500 ms after line 19 (0xA6 bit 2) went on.
  const auto line19 = std::find_if(writes.begin(), writes.end(), [](const emu::TraceEntry& e) {
    return e.data[0] == 0xA6 && (e.data[1] & 0x04) != 0;
  });
  ASSERT_NE(line19, writes.end());
  ASSERT_NE(line19 + 1, writes.end());
  EXPECT_EQ((line19 + 1)->data[0], 0x01) << "the table's first pair";
  EXPECT_GE((line19 + 1)->time_us - line19->time_us, 500000u);
  // Each line after the first three writes has 5 ms to come up.
  for (size_t i = 5; i < expected.size(); ++i) {
    EXPECT_GE(first[i].time_us - first[i - 1].time_us, 5000u) << i;
  }
}

TEST_F(PowerOnTest, OnlyBitFourOfThePowerStateMeansSetUp) {
  ASSERT_TRUE(open_scanner());
  ASSERT_EQ(pass::move(lib().context, lib().setting, {.distance = 8000, .row = pass::kRowHome}),
            QRX_OK);
  TerminateScanner(nullptr);
  // Every bit but 4: not set up, so the moving carriage is not asked about.
  scanner->poke_register(0x06, 0xEF);
  EXPECT_TRUE(open_scanner()) << std::hex << last_error();
  // Set up, and the status register cannot be read: its own code.
  TerminateScanner(nullptr);
  scanner->poke_register(0x06, 0x10);
  scanner->fail_request({emu::RequestKind::ControlIn, 0x8E, 0x41}, 1);
  EXPECT_FALSE(open_scanner());
  EXPECT_EQ(last_error(), QRX_E_STATUS_REGISTER);
}

TEST_F(PowerOnTest, MemoryModeBitSevenDoublesTheLayout) {
  ASSERT_TRUE(open_scanner());
  // The power-on table writes 0x10 to register 0x08; a controller that reports the
  // doubled memory reads it with bit 7 set (bit 6 alone doubles nothing).
  HookedChannel& hooked = hook_emulator_channel(lib().context.link);
  for (const auto& [bits, segment, bounds] :
       {std::tuple{0x80, 938u, std::array<uint16_t, 4>{172, 1109, 1110, 2047}},
        std::tuple{0x40, 426u, std::array<uint16_t, 4>{172, 597, 598, 1023}}}) {
    const uint8_t forced = static_cast<uint8_t>(bits);
    hooked.on_read = [forced](uint8_t reg, uint8_t& value) {
      if (reg == 0x08) value = static_cast<uint8_t>(value | forced);
      return true;
    };
    ASSERT_EQ(device::power_on(lib().context, lib().setting), QRX_OK);
    EXPECT_EQ(lib().context.buffer_segment, segment);
    for (int i = 0; i < 12; ++i) {
      EXPECT_EQ(register16(*scanner, static_cast<uint8_t>(0xE0 + 2 * i)), bounds[i % 4])
          << std::hex << int(bits) << " " << i;
    }
  }
}

TEST_F(PowerOnTest, WorkTablesThatCannotBeAllocatedFailThePowerOn) {
  platform::fail_allocation_after(0);
  EXPECT_FALSE(open_scanner());
  platform::fail_allocation_after(-1);
  EXPECT_EQ(last_error(), QRX_E_RESET);
  EXPECT_FALSE(lib().context.link.is_open());
}

TEST_F(PowerOnTest, AControllerAlreadySetUpWithTheCarriageMovingIsRefused) {
  ASSERT_TRUE(open_scanner());
  // Send the carriage out on a long move, and let the host close the device
  // before it ends.
  ASSERT_EQ(pass::move(lib().context, lib().setting, {.distance = 8000, .row = pass::kRowHome}),
            QRX_OK);
  ASSERT_TRUE(scanner->motor_running());
  TerminateScanner(nullptr);
  EXPECT_FALSE(open_scanner());
  EXPECT_EQ(last_error(), QRX_E_CARRIAGE_MOVING);
  EXPECT_FALSE(lib().context.link.is_open());
  // Once it has stopped, the scanner opens again (and is powered up anew).
  clock.sleep_ms(60000);
  EXPECT_TRUE(open_scanner());
}

TEST_F(PowerOnTest, AFreshControllerIsNotAskedAboutTheCarriage) {
  ASSERT_TRUE(open_scanner());
  // Register 0x41 is read only by the AFE writes of later passes, never before
  // the reset pulse of a fresh controller.
  const auto reads = scanner->trace({emu::RequestKind::ControlIn, 0x8E, -1});
  ASSERT_GE(reads.size(), 2u);
  EXPECT_EQ(reads[1].reg, 0x06);
  EXPECT_NE(reads[2].reg, 0x41);
}

}  // namespace
}  // namespace qrx::test
