// The backend's device list with scanners on USB, through the real libusb code
// path against emulated usbfs devices (the USB channel's umockdev testbed): the
// "usb" entry of qrx7730.conf lists the attached scanners with the library's ids
// that answer, and a listed one opens by its SANE name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "emulator/scanner.h"
#include "entry_points.h"
#include "platform/clock.h"
#include "qrx7730.h"
#include "support/temp_dir.h"
#include "usbfs_testbed.h"

namespace qrx::test {
namespace {

class SaneUsb : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QRX7730_INSTALL_DIR", QRX_TEST_DATA_DIR, 1);
    setenv("SANE_CONFIG_DIR", temp.path().c_str(), 1);
  }
  void TearDown() override { sane_qrx7730_exit(); }
  void plug(uint8_t bus, uint8_t address, uint16_t product = QRX7730_USB_PRODUCT_ID) {
    std::string error;
    std::shared_ptr<emu::Scanner> scanner = emu::Scanner::create(emu::Options{}, error);
    ASSERT_NE(scanner, nullptr) << error;
    EmulatedDevice device;
    device.bus = bus;
    device.address = address;
    device.vendor_id = QRX7730_USB_VENDOR_ID;
    device.product_id = product;
    device.port = scanner;
    ASSERT_NE(testbed.add(device), nullptr);
  }

  ScopedTempDir temp;
  platform::VirtualClock clock;
  platform::ScopedClock use_clock{clock};
  UsbfsTestbed testbed;
};

TEST_F(SaneUsb, ListsTheAttachedScannersAndOpensOneByItsName) {
  plug(3, 7);
  plug(1, 4);
  plug(2, 5, QRX7730_USB_PRODUCT_ID + 1);  // another product of the vendor
  std::ofstream(temp.path() + "/qrx7730.conf") << "usb\n";
  ASSERT_EQ(sane_qrx7730_init(nullptr, nullptr), SANE_STATUS_GOOD);
  const SANE_Device** list = nullptr;
  ASSERT_EQ(sane_qrx7730_get_devices(&list, SANE_FALSE), SANE_STATUS_GOOD);
  ASSERT_NE(list[0], nullptr);
  EXPECT_STREQ(list[0]->name, "usb:001:004");
  EXPECT_STREQ(list[0]->model, "RV-70413K");
  ASSERT_NE(list[1], nullptr);
  EXPECT_STREQ(list[1]->name, "usb:003:007");
  EXPECT_EQ(list[2], nullptr);

  SANE_Handle handle = nullptr;
  ASSERT_EQ(sane_qrx7730_open("qrx7730:usb:3:7", &handle), SANE_STATUS_GOOD);
  SANE_Parameters parameters{};
  EXPECT_EQ(sane_qrx7730_get_parameters(handle, &parameters), SANE_STATUS_GOOD);
  EXPECT_EQ(parameters.pixels_per_line, 2552);  // the whole glass at 300 dpi
  sane_qrx7730_close(handle);
  // The other product is no scanner of this backend.
  EXPECT_EQ(sane_qrx7730_open("usb:2:5", &handle), SANE_STATUS_INVAL);
}

}  // namespace
}  // namespace qrx::test
