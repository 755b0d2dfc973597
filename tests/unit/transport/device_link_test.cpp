// The channel primitives: identification, bulk pieces, the empty-read rule and
// closing.
#include <gtest/gtest.h>

#include <vector>

#include "qrx7730.h"
#include "support/scripted_channel.h"
#include "transport/device_link.h"

namespace qrx::test {
namespace {

using transport::DeviceLink;

struct LinkTest : ::testing::Test {
  std::shared_ptr<ScriptedDevice> device = std::make_shared<ScriptedDevice>();
  DeviceLink link;
  void SetUp() override { link.attach(std::make_unique<ScriptedChannel>(device)); }
  std::vector<uint32_t> bulk_read_sizes() {
    std::vector<uint32_t> sizes;
    for (const ChannelCall& c : device->calls) {
      if (c.kind == ChannelCall::kBulkRead) sizes.push_back(c.length);
    }
    return sizes;
  }
};

TEST_F(LinkTest, IdentifyTakesPortTypeFromBit3AndChecksBothProductIds) {
  device->status_byte = 0x08;
  ASSERT_TRUE(link.identify(QRX7730_USB_PRODUCT_ID));
  EXPECT_EQ(link.port_type(), 1u);
  EXPECT_EQ(link.device_release(), 0x0100u);

  device->status_byte = 0xF7;  // every bit but bit 3
  ASSERT_TRUE(link.identify(QRX7730_USB_PRODUCT_ID));
  EXPECT_EQ(link.port_type(), 2u);

  EXPECT_FALSE(link.identify(QRX7730_USB_PRODUCT_ID + 1)) << "caller asked for another model";
  device->product_id = QRX7730_USB_PRODUCT_ID + 1;
  EXPECT_FALSE(link.identify(QRX7730_USB_PRODUCT_ID)) << "same maker, other product";
  device->product_id = QRX7730_USB_PRODUCT_ID;
  device->vendor_id = QRX7730_USB_VENDOR_ID + 1;
  EXPECT_FALSE(link.identify(QRX7730_USB_PRODUCT_ID)) << "other maker";
}

TEST_F(LinkTest, IdentifyFailsWhenTheStatusReadFails) {
  device->fail_request = 0x8E;
  EXPECT_FALSE(link.identify(QRX7730_USB_PRODUCT_ID));
  EXPECT_EQ(device->count(ChannelCall::kDescriptor), 0u);
}

TEST_F(LinkTest, BulkReadAnnouncesItselfAndMovesPiecesOfAtMost61440Bytes) {
  std::vector<uint8_t> buffer(150000);
  ASSERT_TRUE(link.bulk_read(0x10000000, buffer.data(), 150000));
  EXPECT_EQ(bulk_read_sizes(), (std::vector<uint32_t>{61440, 61440, 27120}));
  const ChannelCall& header = device->calls.front();
  EXPECT_EQ(header.kind, ChannelCall::kControlWrite);
  EXPECT_EQ(header.request, 0x82);
  EXPECT_EQ(header.index, 0);  // to the host
  EXPECT_EQ(header.data, (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x10, 0xF0, 0x49, 0x02, 0x00}));
  // Bytes arrive in order, straight into the caller's buffer.
  for (size_t i = 0; i < buffer.size(); i += 997) EXPECT_EQ(buffer[i], static_cast<uint8_t>(i));
}

TEST_F(LinkTest, ShortReadsAskForTheRestAndFourEmptyReadsAreTolerated) {
  device->bulk_read_script = {1000, 0, 0, 0, 0, 500};
  std::vector<uint8_t> buffer(2000);
  ASSERT_TRUE(link.bulk_read(0x10000000, buffer.data(), 2000));
  EXPECT_EQ(bulk_read_sizes(), (std::vector<uint32_t>{2000, 1000, 1000, 1000, 1000, 1000, 500}));
}

TEST_F(LinkTest, FiveEmptyReadsInARowFailTheTransfer) {
  device->bulk_read_script = {100, 0, 0, 0, 0, 0, 900};
  std::vector<uint8_t> buffer(1000);
  EXPECT_FALSE(link.bulk_read(0x10000000, buffer.data(), 1000));
  EXPECT_EQ(bulk_read_sizes().size(), 6u);
}

TEST_F(LinkTest, EmptyReadCountRestartsAfterEveryNonEmptyRead) {
  device->bulk_read_script = {0, 0, 0, 0, 10, 0, 0, 0, 0, 10};
  std::vector<uint8_t> buffer(20);
  EXPECT_TRUE(link.bulk_read(0x10000000, buffer.data(), 20));
}

TEST_F(LinkTest, BulkWriteUsesIndex1AndTheSamePieces) {
  std::vector<uint8_t> data(70000, 0xA5);
  device->bulk_write_script = {0, 0, 30000};
  ASSERT_TRUE(link.bulk_write(0x10004000, data.data(), 70000));
  EXPECT_EQ(device->calls.front().index, 1);
  EXPECT_EQ(device->bulk_written.size(), 70000u);
  std::vector<uint32_t> sizes;
  for (const ChannelCall& c : device->calls) {
    if (c.kind == ChannelCall::kBulkWrite) sizes.push_back(c.length);
  }
  EXPECT_EQ(sizes, (std::vector<uint32_t>{61440, 61440, 61440, 40000}));
}

TEST_F(LinkTest, ZeroCountSucceedsAfterTheHeaderAlone) {
  uint8_t unused = 0;
  EXPECT_TRUE(link.bulk_read(0x10000000, &unused, 0));
  EXPECT_EQ(device->count(ChannelCall::kControlWrite, 0x82), 1u);
  EXPECT_EQ(device->count(ChannelCall::kBulkRead), 0u);
}

TEST_F(LinkTest, AFailedHeaderOrTransferFailsTheWholeRead) {
  std::vector<uint8_t> buffer(10);
  device->fail_request = 0x82;
  EXPECT_FALSE(link.bulk_read(0x10000000, buffer.data(), 10));
  EXPECT_EQ(device->count(ChannelCall::kBulkRead), 0u);
  device->fail_request = -1;
  device->fail_bulk = true;
  EXPECT_FALSE(link.bulk_read(0x10000000, buffer.data(), 10));
}

TEST_F(LinkTest, ClosingTwiceOrAfterAFailedOpenIsHarmlessAndRequestsThenFail) {
  link.close();
  link.close();
  uint8_t b = 0;
  EXPECT_FALSE(link.control_read(0x8E, 0, 1, &b));
  EXPECT_EQ(link.state(), DeviceLink::State::kClosed);

  DeviceLink other;
  EXPECT_FALSE(other.open("no-such-backend:device"));
  EXPECT_EQ(other.state(), DeviceLink::State::kOpenFailed);
  EXPECT_FALSE(other.control_write(0x83, 0, 2, &b));
  other.close();
  EXPECT_EQ(other.state(), DeviceLink::State::kClosed);
}

}  // namespace
}  // namespace qrx::test
