// Registers as the driver uses them: read-back with the marker, identification and
// descriptor, the live bits of the status register, buttons, board variant, AFE
// writes, the power-on table with its memory layout, reset and power state.
#include <gtest/gtest.h>

#include "emulator/geometry.h"
#include "emulator/inprocess.h"
#include "qrx7730.h"
#include "scanner_fixture.h"

namespace qrx::emu::test {
namespace {

class RegistersTest : public ScannerFixture<> {
 protected:
  void SetUp() override { make(); }
};

// The tuning defaults of the power-on register table, in the order they are written.
constexpr uint8_t kPowerOnTable[92][2] = {
    {0x01, 0x82}, {0x02, 0x18}, {0x03, 0x50}, {0x04, 0x12}, {0x05, 0x80}, {0x06, 0x50}, {0x08, 0x10},
    {0x09, 0x01}, {0x0A, 0x00}, {0x0B, 0x01}, {0x0C, 0x02}, {0x0D, 0x0D}, {0x6E, 0x7E}, {0x6C, 0x00},
    {0x12, 0x00}, {0x13, 0x00}, {0x14, 0x00}, {0x15, 0x00}, {0x16, 0x10}, {0x17, 0x0C}, {0x18, 0x00},
    {0x19, 0xFF}, {0x1A, 0x34}, {0x1B, 0x00}, {0x1C, 0x00}, {0x1D, 0x04}, {0x1E, 0x10}, {0x1F, 0x04},
    {0x20, 0x02}, {0x21, 0x10}, {0x22, 0x7F}, {0x23, 0x7F}, {0x24, 0x10}, {0x25, 0x00}, {0x26, 0x00},
    {0x27, 0x00}, {0x2C, 0x09}, {0x2D, 0x60}, {0x2E, 0x80}, {0x2F, 0x80}, {0x30, 0x00}, {0x31, 0x10},
    {0x32, 0x15}, {0x33, 0x0E}, {0x34, 0x40}, {0x35, 0x00}, {0x36, 0x2A}, {0x37, 0x30}, {0x38, 0x2A},
    {0x39, 0xF8}, {0x3D, 0x00}, {0x3E, 0x00}, {0x3F, 0x00}, {0x52, 0x03}, {0x53, 0x07}, {0x54, 0x00},
    {0x55, 0x00}, {0x56, 0x00}, {0x57, 0x00}, {0x58, 0x2A}, {0x59, 0xE1}, {0x5A, 0x55}, {0x5E, 0x41},
    {0x5F, 0x40}, {0x61, 0x00}, {0x62, 0x00}, {0x64, 0x00}, {0x65, 0x00}, {0x67, 0x80}, {0x68, 0x80},
    {0x69, 0x20}, {0x6A, 0x20}, {0x6B, 0x02}, {0x6C, 0x00}, {0x6D, 0x20}, {0x6E, 0x7E}, {0x6F, 0x21},
    {0x74, 0x00}, {0x75, 0x00}, {0x76, 0x3C}, {0x7A, 0x00}, {0x7B, 0x00}, {0x7C, 0x55}, {0x7D, 0x00},
    {0x87, 0x02}, {0x9D, 0x06}, {0xA2, 0x0F}, {0xA6, 0x04}, {0xA7, 0x0F}, {0xA9, 0x00}, {0xFE, 0x08},
    {0x0B, 0x09}};

TEST_F(RegistersTest, ReadBackCarriesTheMarkerAndMalformedReadsFail) {
  ASSERT_TRUE(usb_->write(0x2C, 0x12));
  uint8_t answer[2] = {0, 0};
  ASSERT_TRUE(scanner_->control_in(0x8E, 0x2C * 256 + 0x22, answer, 2));
  EXPECT_EQ(answer[0], 0x12);
  EXPECT_EQ(answer[1], 0x55);
  EXPECT_FALSE(scanner_->control_in(0x8E, 0x2C * 256 + 0x21, answer, 2));  // wrong index tag
  EXPECT_FALSE(scanner_->control_in(0x8E, 0x2C * 256 + 0x22, answer, 3));  // wrong length
  EXPECT_FALSE(scanner_->control_in(0x8E, 0x2C * 256 + 0x22, nullptr, 2));
  EXPECT_FALSE(scanner_->control_in(0x77, 0, answer, 2));                   // unknown request
  const uint8_t three[3] = {0x2C, 1, 2};
  EXPECT_FALSE(scanner_->control_out(0x83, 0, three, 3));
  EXPECT_FALSE(scanner_->control_out(0x83, 0, nullptr, 2));
  EXPECT_FALSE(scanner_->control_out(0x99, 0, three, 2));
  EXPECT_EQ(usb_->must_read(0x2C), 0x12);  // nothing above changed it
}

TEST_F(RegistersTest, IdentificationByteAndDescriptor) {
  uint8_t status = 0;
  ASSERT_TRUE(scanner_->control_in(0x8E, 0, &status, 1));
  EXPECT_EQ(status & 0x08, 0x08);  // port type 1
  Options o;
  o.port_type = 2;
  make(o);
  ASSERT_TRUE(scanner_->control_in(0x8E, 0, &status, 1));
  EXPECT_EQ(status & 0x08, 0);
  uint16_t vendor = 0, product = 0, release = 0;
  ASSERT_TRUE(scanner_->descriptor(vendor, product, release));
  EXPECT_EQ(vendor, QRX7730_USB_VENDOR_ID);
  EXPECT_EQ(product, QRX7730_USB_PRODUCT_ID);
  EXPECT_EQ(release, Scanner::kDeviceRelease);
}

TEST_F(RegistersTest, PowerOnTableGivesTheDriversMemoryLayoutAndPowerState) {
  EXPECT_EQ(usb_->must_read(0x06) & 0x10, 0);  // never powered up
  for (const auto& pair : kPowerOnTable) ASSERT_TRUE(usb_->write(pair[0], pair[1]));
  ASSERT_TRUE(usb_->set_bits(0x0B, 7, 5, 1));  // clock rate 30
  ASSERT_TRUE(usb_->set_bits(0x0B, 3, 3, 1));
  EXPECT_EQ(usb_->must_read(0x06) & 0x10, 0x10);
  const uint8_t r0b = usb_->must_read(0x0B), r08 = usb_->must_read(0x08);
  EXPECT_EQ(r0b, 0x29);
  static constexpr uint32_t kSizes[6] = {0x400, 0x1000, 0x2000, 0x4000, 0x8000, 0x10000};
  const uint32_t size = kSizes[(r0b & 7) - 1] * ((r08 & 0x80) ? 2 : 1);
  EXPECT_EQ((size - 40 - 132) / 2, 426u);
  // The button lines read "nothing pressed" after the table's write of 0x20.
  EXPECT_EQ(usb_->must_read(0x6D), 0x3F);
  // Already powered survives a closed and reopened device (nothing to do with the
  // port), is cleared by the reset pulse and by removing power.
  ASSERT_TRUE(usb_->write(0x0E, 1));
  ASSERT_TRUE(usb_->write(0x0E, 0));
  EXPECT_EQ(usb_->must_read(0x06) & 0x10, 0);
  EXPECT_EQ(usb_->must_read(0x2C), 0);
  ASSERT_TRUE(usb_->write(0x06, 0x50));
  scanner_->power_cycle();
  EXPECT_EQ(usb_->must_read(0x06) & 0x10, 0);
}

TEST_F(RegistersTest, ButtonsPullTheirLinesLow) {
  ASSERT_TRUE(usb_->write(0x6D, 0x20));
  const uint8_t bit[5] = {0, 3, 0, 2, 1};
  for (int b = 1; b <= 4; ++b) {
    scanner_->press_button(b);
    EXPECT_EQ(usb_->must_read(0x6D), 0x3F & ~(1 << bit[b])) << b;
    scanner_->release_button(b);
    EXPECT_EQ(usb_->must_read(0x6D), 0x3F);
  }
  scanner_->press_button(1);
  scanner_->press_button(2);
  EXPECT_EQ(usb_->must_read(0x6D), 0x36);
  ASSERT_TRUE(usb_->write(0x6D, 0xC0));  // output bits 6 and 7 read back
  EXPECT_EQ(usb_->must_read(0x6D), 0xF6);
}

TEST_F(RegistersTest, BoardVariantIsAnInputBitOfA6) {
  ASSERT_TRUE(usb_->write(0xA6, 0xFF));
  EXPECT_EQ(usb_->must_read(0xA6), 0xEF);
  ASSERT_TRUE(usb_->set_bits(0xA6, 2, 2, 0));
  EXPECT_EQ(usb_->must_read(0xA6), 0xEB);
  Options o;
  o.board_variant = 1;
  make(o);
  ASSERT_TRUE(usb_->write(0xA6, 0x04));
  EXPECT_EQ(usb_->must_read(0xA6), 0x14);
  EXPECT_EQ(scanner_->lead_in_units(), 112);
}

TEST_F(RegistersTest, AfeWriteSetsBusyUntilItCompletes) {
  ASSERT_TRUE(usb_->write(0x51, 0x06));
  ASSERT_TRUE(usb_->write16(0x3A, 0x03F));
  EXPECT_EQ(scanner_->afe_register(6), 0x3F);
  EXPECT_EQ(usb_->must_read(0x41) & 0x02, 0x02);
  clock_.sleep_ms(10);
  EXPECT_EQ(usb_->must_read(0x41) & 0x02, 0);
  ASSERT_TRUE(usb_->write(0x51, 0x01));
  ASSERT_TRUE(usb_->write16(0x3A, 0x3FF));  // nine bits kept
  EXPECT_EQ(scanner_->afe_register(1), 0x1FF);
}

TEST_F(RegistersTest, StatusReportsLightHomeAndReadOnlyCounters) {
  EXPECT_EQ(usb_->must_read(0x41), 0x48);  // at home, idle, light off
  ASSERT_TRUE(usb_->write(0x03, 0x10));
  EXPECT_EQ(usb_->must_read(0x41) & 0x04, 0x04);
  ASSERT_TRUE(usb_->write(0x03, 0x00));
  ASSERT_TRUE(usb_->write(0x6C, 0x80));  // the infrared line also lights
  EXPECT_EQ(usb_->must_read(0x41) & 0x04, 0x04);
  ASSERT_TRUE(usb_->write(0x41, 0x00));  // writes to status are ignored
  EXPECT_EQ(usb_->must_read(0x41) & 0x08, 0x08);
  ASSERT_TRUE(usb_->write(0x42, 0x12));
  EXPECT_EQ(usb_->read_be(0x42, 4), 0u);
  // Reset request bit reads back clear; the other bits of 0x0D stay.
  ASSERT_TRUE(usb_->write(0x0D, 0x0D));
  EXPECT_EQ(usb_->must_read(0x0D), 0x0C);
  // Settings are kept.
  const uint8_t v = 4;
  ASSERT_TRUE(scanner_->control_out(0x8C, 0x0F, &v, 1));
  EXPECT_EQ(scanner_->setting(0x0F), 4);
  EXPECT_FALSE(scanner_->control_out(0x8C, 0x100, &v, 1));
}

TEST_F(RegistersTest, StrobeNeedsScanEnable) {
  PassSetup s;
  s.motor = false;
  ASSERT_TRUE(program_pass(*usb_, *scanner_, s));
  ASSERT_TRUE(usb_->write(0x0F, 0xFF));
  EXPECT_FALSE(scanner_->pass_active());
  ASSERT_TRUE(usb_->set_bits(0x01, 0, 0, 1));
  ASSERT_TRUE(usb_->write(0x0F, 0xFF));
  EXPECT_TRUE(scanner_->pass_active());
  EXPECT_EQ(usb_->must_read(0x0F), 0);
  // Scan enable stays set after the pass: only the host clears it.
  clock_.sleep_ms(5000);
  EXPECT_FALSE(scanner_->pass_active());
  EXPECT_EQ(usb_->must_read(0x01) & 1, 1);
  EXPECT_EQ(usb_->read_be(0x4B, 3), 4u);  // lines since the last reset request
}

}  // namespace
}  // namespace qrx::emu::test

namespace qrx::emu::test {
namespace {

TEST(InProcessScanner, SurvivesLikeAPluggedInDeviceAndIsReplacedOnlyByAUsableOne) {
  Options options;
  options.seed = 99;
  auto first = reset_inprocess_scanner(options);
  ASSERT_TRUE(first);
  EXPECT_EQ(inprocess_scanner(), first);  // the same device on every open
  Usb usb(*inprocess_scanner());
  ASSERT_TRUE(usb.write(0x06, 0x50));
  EXPECT_EQ(Usb(*inprocess_scanner()).must_read(0x06), 0x50);
  options.document = "/nonexistent/page.png";
  EXPECT_FALSE(reset_inprocess_scanner(options));
  EXPECT_EQ(inprocess_scanner(), first);
  options.document.clear();
  auto second = reset_inprocess_scanner(options);
  ASSERT_TRUE(second);
  EXPECT_NE(second, first);
  EXPECT_EQ(Usb(*inprocess_scanner()).must_read(0x06), 0x00);  // a fresh device
}

}  // namespace
}  // namespace qrx::emu::test
