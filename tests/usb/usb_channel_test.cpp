// The "usb:" channel through the real libusb code path: libusb finds the emulated
// devices in sysfs, opens their nodes and drives them with usbfs ioctls, which the
// testbed answers from the emulated scanner. Requests as vendor control transfers
// byte for byte, a whole bring-up, calibration and scan, a disconnect mid-transfer,
// refused and unanswered bulk reads, the interface claim, discovery and paths.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "api/library.h"
#include "emulator/inprocess.h"
#include "emulator/scanner.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "qrx7730.h"
#include "support/gated_clock.h"
#include "support/temp_dir.h"
#include "transport/backends/usb_channel.h"
#include "transport/backends/usb_discovery.h"
#include "usbfs_testbed.h"

namespace qrx::test {
namespace {

using ::testing::ElementsAre;
using Bytes = std::vector<uint8_t>;

class UsbChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QRX7730_INSTALL_DIR", QRX_TEST_DATA_DIR, 1);
    TerminateScanner(nullptr);
    // A label of this test's own keeps its status block apart from other tests'.
    clock.pace_while([] {
      const auto& reader = api::library().context.reader_thread;
      return reader && reader->exit_code() == platform::Thread::kStillActive;
    });
    label = std::string("#") + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
            "-" + std::to_string(getpid());
  }
  void TearDown() override {
    TerminateScanner(nullptr);
    for (UsbfsNode* node : nodes) EXPECT_THAT(node->complaints(), ElementsAre());
  }

  std::shared_ptr<emu::Scanner> new_scanner() {
    std::string error;
    std::shared_ptr<emu::Scanner> made = emu::Scanner::create(emu::Options{}, error);
    EXPECT_NE(made, nullptr) << error;
    return made;
  }
  UsbfsNode* plug(uint8_t bus, uint8_t address, std::shared_ptr<emu::UsbPort> port,
                  bool kernel_driver = false, uint16_t product = QRX7730_USB_PRODUCT_ID) {
    EmulatedDevice device;
    device.bus = bus;
    device.address = address;
    device.vendor_id = QRX7730_USB_VENDOR_ID;
    device.product_id = product;
    device.port = std::move(port);
    device.kernel_driver = kernel_driver;
    UsbfsNode* node = testbed.add(device);
    if (node != nullptr) nodes.push_back(node);
    return node;
  }
  uint16_t last_error() {
    uint16_t status = 0xDEAD;
    GetScannerStatus(nullptr, &status);
    return status;
  }
  bool find(const std::string& path) {
    return FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID) == QRX_TRUE;
  }
  static Bytes header(uint32_t address, uint32_t count) {
    Bytes h(8);
    for (int i = 0; i < 4; ++i) {
      h[i] = static_cast<uint8_t>(address >> (8 * i));
      h[4 + i] = static_cast<uint8_t>(count >> (8 * i));
    }
    return h;
  }

  ScopedTempDir temp;
  // A virtual clock whose host polls wait for the image reader while it runs, so
  // that a reader slowed by the testbed never sees its data limit run out.
  GatedClock clock;
  platform::ScopedClock use_clock{clock};
  UsbfsTestbed testbed;
  std::vector<UsbfsNode*> nodes;
  std::string label;
};

Bytes setup_of(const ControlRecord& r) {
  return Bytes(r.setup.begin(), r.setup.end());
}

TEST_F(UsbChannelTest, RequestsTravelAsVendorControlTransfersByteForByte) {
  auto scanner = new_scanner();
  UsbfsNode* node = plug(1, 11, scanner);
  ASSERT_NE(node, nullptr);
  auto channel = transport::open_usb_channel(label);
  ASSERT_NE(channel, nullptr);

  uint8_t id = 0xEE;
  ASSERT_TRUE(channel->control_read(0x8E, 0, &id, 1));
  EXPECT_EQ(id, 0x08) << "port type 1";
  const uint8_t write[2] = {0x19, 0x5A};
  ASSERT_TRUE(channel->control_write(0x83, 0, write, 2));
  uint8_t reg[2] = {0, 0};
  ASSERT_TRUE(channel->control_read(0x8E, 0x19 * 256 + 0x22, reg, 2));
  EXPECT_THAT(reg, ElementsAre(0x5A, 0x55));
  const uint8_t setting = 0x21;
  ASSERT_TRUE(channel->control_write(0x8C, 0x0F, &setting, 1));
  EXPECT_EQ(scanner->setting(0x0F), 0x21);
  const uint8_t word_address[4] = {0x02, 0x00, 0x00, 0x01};  // gamma curve 0, entry 1
  ASSERT_TRUE(channel->control_write(0x8B, 6, word_address, 4));
  uint8_t word[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  ASSERT_TRUE(channel->control_read(0x8A, 5, word, 4));
  EXPECT_THAT(word, ElementsAre(0x00, 0x01, 0x00, 0x00)) << "identity curve: entry 1 is 256";
  // Bulk data through the bulk endpoints: four bytes into RAM and back.
  const Bytes to_ram = header(0x10000100, 4), data = {0xDE, 0xAD, 0xBE, 0xEF};
  uint32_t moved = 0;
  ASSERT_TRUE(channel->control_write(0x82, 1, to_ram.data(), 8));
  ASSERT_TRUE(channel->bulk_write(data.data(), 4, moved));
  EXPECT_EQ(moved, 4u);
  ASSERT_TRUE(channel->control_write(0x82, 0, to_ram.data(), 8));
  Bytes back(4);
  ASSERT_TRUE(channel->bulk_read(back.data(), 4, moved));
  EXPECT_EQ(moved, 4u);
  EXPECT_EQ(back, data);
  // A request the scanner refuses (stalls) fails; the next one goes through.
  EXPECT_FALSE(channel->control_read(0x99, 0, reg, 2));
  EXPECT_TRUE(channel->control_read(0x8E, 0, &id, 1));

  const std::vector<ControlRecord> seen = node->controls();
  ASSERT_EQ(seen.size(), 10u);
  const std::vector<Bytes> setups = {
      {0xC0, 0x0C, 0x8E, 0x00, 0x00, 0x00, 0x01, 0x00},  // identification, one byte
      {0x40, 0x04, 0x83, 0x00, 0x00, 0x00, 0x02, 0x00},  // register write
      {0xC0, 0x04, 0x8E, 0x00, 0x22, 0x19, 0x02, 0x00},  // register read of 0x19
      {0x40, 0x0C, 0x8C, 0x00, 0x0F, 0x00, 0x01, 0x00},  // setting 0x0F, one byte
      {0x40, 0x04, 0x8B, 0x00, 0x06, 0x00, 0x04, 0x00},  // memory word select
      {0xC0, 0x04, 0x8A, 0x00, 0x05, 0x00, 0x04, 0x00},  // memory word read
      {0x40, 0x04, 0x82, 0x00, 0x01, 0x00, 0x08, 0x00},  // bulk header, to the device
      {0x40, 0x04, 0x82, 0x00, 0x00, 0x00, 0x08, 0x00},  // bulk header, to the host
      {0xC0, 0x04, 0x99, 0x00, 0x00, 0x00, 0x02, 0x00},
      {0xC0, 0x0C, 0x8E, 0x00, 0x00, 0x00, 0x01, 0x00}};
  const std::vector<Bytes> payloads = {{0x08},
                                       {0x19, 0x5A},
                                       {0x5A, 0x55},
                                       {0x21},
                                       {0x02, 0x00, 0x00, 0x01},
                                       {0x00, 0x01, 0x00, 0x00},
                                       to_ram,
                                       to_ram,
                                       {0, 0},
                                       {0x08}};
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(setup_of(seen[i]), setups[i]) << "transfer " << i;
    if (i != 8) {
      EXPECT_EQ(seen[i].data, payloads[i]) << "transfer " << i;
    }
    EXPECT_EQ(seen[i].ok, i != 8) << "transfer " << i;
  }
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A host's whole scan at 600 dpi colour: half an inch by a quarter over the chart's
// grey ramp, read a line at a time; the image, or empty when a call failed.
Bytes scan_window() {
  ScanParameter p{};
  p.xRes = p.yRes = 600;
  p.BitsPerPixel = 24;
  p.ScanningArea = {4 * 600, 4 * 1000, 4 * 1200, 4 * 600};  // 2400 dpi units x 4
  uint8_t status = 2;
  if (SetLamp(nullptr, QRX_LAMP_FLATBED) != QRX_TRUE || SetScanParameter(nullptr, &p) != QRX_TRUE ||
      StartScanEx(nullptr, nullptr) != QRX_TRUE) {
    return {};
  }
  for (int poll = 0; status == 2 && poll < 100000; ++poll) {
    if (GetCalibrationStatus(nullptr, &status) != QRX_TRUE) return {};
  }
  DataStatus data{};
  if (status != 0 || GetDataStatus(nullptr, &data) != QRX_TRUE) return {};
  Bytes image(static_cast<size_t>(data.LineBytes) * data.LinesLeft);
  bool read_all = true;
  for (uint32_t line = 0; read_all && line < data.LinesLeft; ++line) {
    read_all = ReadScan(nullptr, nullptr, image.data() + size_t{line} * data.LineBytes,
                        data.LineBytes) == QRX_TRUE;
  }
  const bool stopped = StopScanEx(nullptr, nullptr) == QRX_TRUE;
  return read_all && stopped ? image : Bytes{};
}

TEST_F(UsbChannelTest, BringUpCalibrationAndAScanThroughLibusbMatchTheInProcessChannel) {
  auto scanner = new_scanner();
  UsbfsNode* node = plug(1, 11, scanner);
  ASSERT_NE(node, nullptr);
  // A scanner without a serial number keeps its calibration under its port.
  const std::string shading = temp.scanner_dir("usb-port-1-11") + "QRX7730D.SHD";

  ASSERT_TRUE(find("usb:" + label)) << std::hex << last_error();
  ASSERT_EQ(InitializeScanner(nullptr), QRX_TRUE) << std::hex << last_error();
  EXPECT_NEAR(api::library().status_block.home_offset(), scanner->expected_home_offset(), 2);
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 600), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(scanner->carriage_steps(), 0.0);
  const std::string through_usb = read_file(shading);
  const size_t bulk_before_scan = node->bulk_urbs();
  const Bytes image_through_usb = scan_window();
  ASSERT_FALSE(image_through_usb.empty()) << std::hex << last_error();
  // 300 x 150 pixels of three bytes, from dark to light along the ramp.
  EXPECT_EQ(image_through_usb.size(), 300u * 150 * 3);
  const auto [darkest, lightest] =
      std::minmax_element(image_through_usb.begin(), image_through_usb.end());
  EXPECT_GT(*lightest - *darkest, 100);
  TerminateScanner(nullptr);
  EXPECT_GT(bulk_before_scan, 100u) << "the calibration's lines came through the bulk endpoint";
  EXPECT_GT(node->bulk_urbs(), bulk_before_scan + 10) << "so did the scan's";
  EXPECT_THAT(node->events(), ElementsAre("claim 1", "release 1"));
  ASSERT_EQ(through_usb.size(), 13u + 16 * 5136);

  // The same scanner model behind the in-process channel computes the same shading
  // and gives the same image.
  ASSERT_NE(emu::reset_inprocess_scanner(emu::Options{}), nullptr);
  ASSERT_TRUE(find("sim:" + label));
  ASSERT_EQ(InitializeScanner(nullptr), QRX_TRUE);
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 600), QRX_TRUE);
  EXPECT_TRUE(read_file(temp.scanner_dir("sim-seed-7730" + label) + "QRX7730D.SHD") ==
              through_usb)
      << "shading differs between the channels";
  EXPECT_TRUE(scan_window() == image_through_usb) << "the image differs between the channels";
}

TEST_F(UsbChannelTest, UnpluggedDuringABulkTransferTheCallFailsAndNothingHangs) {
  auto scanner = new_scanner();
  UsbfsNode* node = plug(1, 11, scanner);
  ASSERT_NE(node, nullptr);
  const std::string path = "usb:" + label;
  ASSERT_TRUE(find(path));

  node->unplug_at_bulk_in(3);  // amid the reference search's line reads
  EXPECT_EQ(InitializeScanner(nullptr), QRX_FALSE);
  EXPECT_NE(last_error(), QRX_OK);
  EXPECT_EQ(api::library().status_block.busy(), 0u);
  EXPECT_THAT(node->events(), ElementsAre("claim 1", "unplugged"));
  uint8_t value = 0;
  EXPECT_EQ(ReadRegister(0x41, &value), QRX_FALSE) << "every later request fails too";
  TerminateScanner(nullptr);
  EXPECT_FALSE(find(path));
  EXPECT_EQ(last_error(), QRX_E_DEVICE_OPEN);
}

TEST_F(UsbChannelTest, BulkTransfersWholeShortRefusedAndUnanswered) {
  auto scanner = new_scanner();
  UsbfsNode* node = plug(1, 11, scanner);
  ASSERT_NE(node, nullptr);
  transport::UsbTimeouts timeouts;
  timeouts.bulk_ms = 200;
  auto channel = transport::open_usb_channel(label, timeouts);
  ASSERT_NE(channel, nullptr);
  const Bytes ram = header(0x10000100, 61440);
  const auto announce = [&] { return channel->control_write(0x82, 0, ram.data(), 8); };
  Bytes pattern(61440), buffer(61440);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7 + i / 251);
  uint32_t moved = 0;

  // A whole piece travels as several URBs, each way.
  ASSERT_TRUE(channel->control_write(0x82, 1, ram.data(), 8));
  ASSERT_TRUE(channel->bulk_write(pattern.data(), 61440, moved));
  EXPECT_EQ(moved, 61440u);
  ASSERT_TRUE(announce());
  ASSERT_TRUE(channel->bulk_read(buffer.data(), 61440, moved));
  EXPECT_EQ(moved, 61440u);
  EXPECT_TRUE(buffer == pattern);
  const uint64_t urbs = node->bulk_urbs();
  EXPECT_GT(urbs, 2u) << "the pieces were cut into several URBs";

  // The scanner hands out less: the read ends short with what came, in place.
  scanner->set_bulk_in_limit(10000);
  std::fill(buffer.begin(), buffer.end(), 0);
  ASSERT_TRUE(announce());
  ASSERT_TRUE(channel->bulk_read(buffer.data(), 61440, moved));
  EXPECT_EQ(moved, 10000u);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 10000, pattern.begin()));
  EXPECT_EQ(buffer[10000], 0);
  scanner->set_bulk_in_limit(0);

  // The scanner refuses a read: the endpoint stalls, and its halt is cleared.
  scanner->fail_request({emu::RequestKind::BulkIn, -1, -1}, 1);
  ASSERT_TRUE(announce());
  EXPECT_FALSE(channel->bulk_read(buffer.data(), 4, moved));
  EXPECT_EQ(moved, 0u);
  EXPECT_THAT(node->events(), ElementsAre("claim 1", "clear-halt 0x82"));
  ASSERT_TRUE(announce());
  EXPECT_TRUE(channel->bulk_read(buffer.data(), 4, moved));
  EXPECT_EQ(moved, 4u);

  // The scanner never answers a read: it ends by its timeout, and the next goes through.
  node->hold_bulk(true);
  ASSERT_TRUE(announce());
  EXPECT_FALSE(channel->bulk_read(buffer.data(), 4, moved));
  EXPECT_EQ(moved, 0u);
  node->hold_bulk(false);
  ASSERT_TRUE(announce());
  EXPECT_TRUE(channel->bulk_read(buffer.data(), 4, moved));
  EXPECT_EQ(moved, 4u);
}

TEST_F(UsbChannelTest, ClaimsItsInterfaceDetachingAKernelDriverAndGivesBothBack) {
  UsbfsNode* node = plug(1, 11, new_scanner(), /*kernel_driver=*/true);
  ASSERT_NE(node, nullptr);
  {
    auto first = transport::open_usb_channel(label);
    ASSERT_NE(first, nullptr);
    EXPECT_THAT(node->events(), ElementsAre("detach 1", "claim 1"));
    EXPECT_EQ(transport::open_usb_channel(label), nullptr) << "the interface is taken";
  }
  EXPECT_THAT(node->events(), ElementsAre("detach 1", "claim 1", "release 1", "attach 1"));
  EXPECT_NE(transport::open_usb_channel(label), nullptr);
}

TEST_F(UsbChannelTest, DiscoveryListsTheScannersAndPathsOpenOnlyThem) {
  UsbfsNode* other = plug(1, 4, new_scanner(), false, QRX7730_USB_PRODUCT_ID + 1);
  auto scanner_a = new_scanner();
  auto scanner_b = new_scanner();
  UsbfsNode* a = plug(1, 9, scanner_a);
  UsbfsNode* b = plug(3, 2, scanner_b);
  ASSERT_TRUE(other && a && b);

  EXPECT_THAT(transport::list_usb_scanners(), ElementsAre("usb:001:009", "usb:003:002"));
  const auto opens = [&](const std::string& path) {
    const int before_a = a->opens(), before_b = b->opens();
    auto channel = transport::open_device_channel(path);
    return std::make_pair(channel != nullptr ? a->opens() - before_a : -1,
                          channel != nullptr ? b->opens() - before_b : -1);
  };
  EXPECT_EQ(opens("usb:"), std::make_pair(1, 0)) << "the first in bus and address order";
  EXPECT_EQ(opens("usb:" + label), std::make_pair(1, 0));
  EXPECT_EQ(opens("usb:3:2"), std::make_pair(0, 1));
  EXPECT_EQ(opens("usb:003:002" + label), std::make_pair(0, 1));
  for (const char* path : {"usb:1:4", "usb:2:2", "usb:1", "usb:1:", "usb::9", "usb:1:9:0",
                           "usb:x:9", "usb:0:9", "usb:1:256", "usb:1:0009", "usb:-1:9"}) {
    EXPECT_EQ(transport::open_device_channel(path), nullptr) << path;
  }
  EXPECT_EQ(other->opens(), 0) << "a device with other ids is never opened";
}

}  // namespace
}  // namespace qrx::test
