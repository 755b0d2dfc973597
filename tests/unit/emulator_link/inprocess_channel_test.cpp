// The "sim:" backend: a channel straight onto the process's emulated scanner.
#include <gtest/gtest.h>

#include "emulator/inprocess.h"
#include "emulator/scanner.h"
#include "platform/clock.h"
#include "qrx7730.h"
#include "transport/backends/emulator_channel.h"

namespace qrx {
namespace {

uint8_t identification(transport::DeviceChannel& channel) {
  uint8_t status = 0xFF;
  EXPECT_TRUE(channel.control_read(0x8E, 0, &status, 1));
  return status;
}

void write_register(transport::DeviceChannel& channel, uint8_t reg, uint8_t value) {
  const uint8_t data[2] = {reg, value};
  EXPECT_TRUE(channel.control_write(0x83, 0, data, 2));
}

uint8_t read_register(transport::DeviceChannel& channel, uint8_t reg) {
  uint8_t answer[2] = {};
  EXPECT_TRUE(channel.control_read(0x8E, static_cast<uint16_t>(reg * 256 + 0x22), answer, 2));
  EXPECT_EQ(answer[1], 0x55);
  return answer[0];
}

TEST(InProcessChannel, ServesTheProcessScannerAndKeepsItAlive) {
  emu::Options port_one;
  port_one.port_type = 1;
  ASSERT_NE(emu::reset_inprocess_scanner(port_one), nullptr);
  auto first = transport::open_emulator_channel("");
  auto second = transport::open_emulator_channel("");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);

  EXPECT_EQ(identification(*first), 0x08);
  transport::DeviceDescriptor descriptor;
  ASSERT_TRUE(first->device_descriptor(descriptor));
  EXPECT_EQ(descriptor.vendor_id, QRX7730_USB_VENDOR_ID);
  EXPECT_EQ(descriptor.product_id, QRX7730_USB_PRODUCT_ID);

  // Both handles reach one device.
  write_register(*first, 0x12, 0x5A);
  EXPECT_EQ(read_register(*second, 0x12), 0x5A);

  // A scanner replaced under an open handle stays alive for that handle.
  emu::Options port_two;
  port_two.port_type = 2;
  ASSERT_NE(emu::reset_inprocess_scanner(port_two), nullptr);
  auto third = transport::open_emulator_channel("");
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(identification(*third), 0x00);
  EXPECT_EQ(identification(*first), 0x08);
  EXPECT_EQ(read_register(*first, 0x12), 0x5A);

  // Missing buffers are refused rather than handed to the device.
  uint32_t moved = 0;
  EXPECT_FALSE(first->control_read(0x8E, 0, nullptr, 1));
  EXPECT_FALSE(first->bulk_read(nullptr, 16, moved));
  ASSERT_NE(emu::reset_inprocess_scanner(emu::Options{}), nullptr);
}

TEST(InProcessChannel, ASpeedMakesTheProcessClockRunThatMuchFaster) {
  emu::Options fast;
  fast.speed = 100;
  {
    // A clock a test installed stays: the speed is for real time only.
    platform::VirtualClock virtual_clock;
    platform::ScopedClock installed(virtual_clock);
    ASSERT_NE(emu::reset_inprocess_scanner(fast), nullptr);
    EXPECT_EQ(&platform::clock(), &virtual_clock);
  }
  ASSERT_EQ(&platform::clock(), &platform::system_clock());
  ASSERT_NE(emu::reset_inprocess_scanner(fast), nullptr);
  platform::Clock& scaled = platform::clock();
  EXPECT_NE(&scaled, &platform::system_clock());
  // Real time read around each reading of the scaled clock bounds how far it ran.
  platform::Clock& real = platform::system_clock();
  const double r0 = real.now_us(), s0 = scaled.now_us(), r1 = real.now_us();
  real.sleep_ms(5);
  const double r2 = real.now_us(), s1 = scaled.now_us(), r3 = real.now_us();
  EXPECT_GE(s1 - s0, 100 * (r2 - r1) - 100);
  EXPECT_LE(s1 - s0, 100 * (r3 - r0) + 100);
  platform::set_clock(nullptr);
  ASSERT_NE(emu::reset_inprocess_scanner(emu::Options{}), nullptr);
}

}  // namespace
}  // namespace qrx
