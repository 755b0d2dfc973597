// The register vocabulary: the valid marker, multi-byte order, bit fields, lines,
// the reset pulse and memory reads.
#include <gtest/gtest.h>

#include <vector>

#include "platform/clock.h"
#include "support/scripted_channel.h"
#include "transport/registers.h"

namespace qrx::test {
namespace {

using namespace transport;

struct RegistersTest : ::testing::Test {
  std::shared_ptr<ScriptedDevice> device = std::make_shared<ScriptedDevice>();
  DeviceLink link;
  void SetUp() override { link.attach(std::make_unique<ScriptedChannel>(device)); }
  std::vector<std::pair<uint8_t, uint8_t>> register_writes() {
    std::vector<std::pair<uint8_t, uint8_t>> writes;
    for (const ChannelCall& c : device->calls) {
      if (c.kind == ChannelCall::kControlWrite && c.request == 0x83) {
        writes.emplace_back(c.data[0], c.data[1]);
      }
    }
    return writes;
  }
};

TEST_F(RegistersTest, ReadUsesTheRegisterIndexAndNeedsTheValidMarker) {
  device->registers[0x41] = 0x09;
  uint8_t value = 0xEE;
  ASSERT_TRUE(read_register(link, 0x41, value));
  EXPECT_EQ(value, 0x09);
  EXPECT_EQ(device->calls.back().index, 0x41 * 256 + 0x22);
  EXPECT_EQ(device->calls.back().length, 2u);

  device->register_marker = 0x54;
  value = 0xEE;
  EXPECT_FALSE(read_register(link, 0x41, value));
  EXPECT_EQ(value, 0xEE) << "a failed read leaves the caller's byte alone";
}

TEST_F(RegistersTest, MultiByteRegistersAreMostSignificantByteFirst) {
  ASSERT_TRUE(write_register16(link, 0xE0, 0x01AC));
  ASSERT_TRUE(write_register24(link, 0x77, 0x00009F));
  EXPECT_EQ(register_writes(), (std::vector<std::pair<uint8_t, uint8_t>>{
                                   {0xE0, 0x01}, {0xE1, 0xAC}, {0x77, 0x00}, {0x78, 0x00}, {0x79, 0x9F}}));
  device->registers[0x42] = 0x12;
  device->registers[0x43] = 0x34;
  device->registers[0x44] = 0x56;
  device->registers[0x45] = 0x78;
  uint32_t v32 = 0;
  ASSERT_TRUE(read_register32(link, 0x42, v32));
  EXPECT_EQ(v32, 0x12345678u);
  uint32_t v24 = 0;
  ASSERT_TRUE(read_register24(link, 0x43, v24));
  EXPECT_EQ(v24, 0x345678u);
  uint16_t v16 = 0;
  ASSERT_TRUE(read_register16(link, 0x44, v16));
  EXPECT_EQ(v16, 0x5678u);
}

TEST_F(RegistersTest, MultiByteWriteStopsAtTheFirstFailure) {
  device->fail_request = 0x83;
  EXPECT_FALSE(write_register24(link, 0x60, 0x123456));
  EXPECT_EQ(device->count(ChannelCall::kControlWrite, 0x83), 1u);
  device->fail_request = 0x8E;
  uint32_t value = 7;
  EXPECT_FALSE(read_register24(link, 0x60, value));
  EXPECT_EQ(value, 7u);
}

TEST(BitFieldTest, MergeAndExtract) {
  EXPECT_EQ(merge_bit_field(0x00, 2, 2, 1), 0x04);
  EXPECT_EQ(merge_bit_field(0x00, 2, 2, 3), 0x04) << "the value is cut to the field width";
  EXPECT_EQ(merge_bit_field(0xFF, 7, 5, 5), 0xBF);
  EXPECT_EQ(merge_bit_field(0xFF, 2, 2, 0), 0xFB);
  EXPECT_EQ(merge_bit_field(0x00, 7, 0, 0xA5), 0xA5);
  EXPECT_EQ(extract_bit_field(0xBF, 7, 5), 5);
  EXPECT_EQ(extract_bit_field(0x04, 2, 2), 1);
  EXPECT_EQ(extract_bit_field(0xA5, 7, 0), 0xA5);
}

TEST_F(RegistersTest, BitFieldWriteIsReadModifyWriteAndRefusesBadRanges) {
  device->registers[0x02] = 0xF0;
  ASSERT_TRUE(write_bit_field(link, 0x02, 2, 1, 3));
  EXPECT_EQ(device->registers[0x02], 0xF6);
  const size_t before = device->calls.size();
  EXPECT_FALSE(write_bit_field(link, 0x02, 1, 2, 1)) << "low above high";
  EXPECT_FALSE(write_bit_field(link, 0x02, 8, 0, 1)) << "beyond bit 7";
  EXPECT_EQ(device->calls.size(), before) << "refused ranges never reach the device";

  device->fail_request = 0x8E;
  EXPECT_FALSE(write_bit_field(link, 0x02, 0, 0, 1));
  EXPECT_EQ(device->count(ChannelCall::kControlWrite, 0x83), 1u) << "nothing written after a failed read";
}

TEST_F(RegistersTest, LinesMapToTheirRegisterBits) {
  ASSERT_TRUE(set_line(link, 19, 1));
  EXPECT_EQ(device->registers[0xA6], 0x04);
  ASSERT_TRUE(set_line(link, 16, 1));
  EXPECT_EQ(device->registers[0x6C], 0x80);
  ASSERT_TRUE(set_line(link, 1, 1));
  EXPECT_EQ(device->registers[0x6D], 0x01);
  ASSERT_TRUE(set_line(link, 27, 1));
  EXPECT_EQ(device->registers[0xA8], 0x04);
  ASSERT_TRUE(set_line(link, 33, 1));
  EXPECT_EQ(device->registers[0xA9], 0x20);
  ASSERT_TRUE(set_line(link, 16, 0));
  EXPECT_EQ(device->registers[0x6C], 0x00);

  uint8_t value = 9;
  ASSERT_TRUE(read_line(link, 19, value));
  EXPECT_EQ(value, 1);
  ASSERT_TRUE(read_line(link, 20, value));
  EXPECT_EQ(value, 0);
  EXPECT_FALSE(set_line(link, 0, 1));
  EXPECT_FALSE(set_line(link, 34, 1));
  EXPECT_FALSE(read_line(link, 34, value));
}

TEST_F(RegistersTest, ResetPulseWritesOneWaitsThenZero) {
  platform::VirtualClock clock;
  const uint64_t start = clock.now_us();
  ASSERT_TRUE(reset_pulse(link, clock));
  EXPECT_EQ(register_writes(),
            (std::vector<std::pair<uint8_t, uint8_t>>{{0x0E, 1}, {0x0E, 0}}));
  EXPECT_EQ(clock.now_us() - start, 1000u);
}

TEST_F(RegistersTest, SettingsUseRequest8C) {
  ASSERT_TRUE(write_setting(link, 0x10, 0x0B));
  const ChannelCall& call = device->calls.back();
  EXPECT_EQ(call.request, 0x8C);
  EXPECT_EQ(call.index, 0x10);
  EXPECT_EQ(call.data, (std::vector<uint8_t>{0x0B}));
}

TEST_F(RegistersTest, GammaMemoryIsReadWordByWord) {
  uint8_t out[7] = {0, 0, 0, 0, 0, 0, 0xCC};
  ASSERT_TRUE(read_memory(link, 0x01000000, out, 7));
  std::vector<uint32_t> selected;
  for (const ChannelCall& c : device->calls) {
    if (c.request == 0x8B) {
      EXPECT_EQ(c.index, 6);
      selected.push_back(c.data[0] | (c.data[1] << 8) | (c.data[2] << 16) |
                         (static_cast<uint32_t>(c.data[3]) << 24));
    }
  }
  EXPECT_EQ(selected, (std::vector<uint32_t>{0x01000000, 0x01000002, 0x01000004}));
  EXPECT_EQ(device->count(ChannelCall::kControlRead, 0x8A), 3u);
  // The scripted memory answers each word with its own address's low bytes.
  EXPECT_EQ(out[0], 0x00);
  EXPECT_EQ(out[2], 0x02);
  EXPECT_EQ(out[4], 0x04);
  EXPECT_EQ(out[6], 0xCC) << "an odd count leaves the last byte untouched";
  EXPECT_EQ(device->count(ChannelCall::kBulkRead), 0u);
}

TEST_F(RegistersTest, OtherMemoryIsReadByBulkTransfer) {
  std::vector<uint8_t> out(100);
  ASSERT_TRUE(read_memory(link, 0x10000000, out.data(), 100));
  EXPECT_EQ(device->count(ChannelCall::kControlWrite, 0x82), 1u);
  EXPECT_EQ(device->count(ChannelCall::kControlWrite, 0x8B), 0u);
  EXPECT_EQ(out[99], 99);
  ASSERT_TRUE(read_memory(link, 0x04000000, out.data(), 2));
  EXPECT_EQ(device->count(ChannelCall::kControlWrite, 0x82), 2u) << "0x04000000 is past the word range";
}

}  // namespace
}  // namespace qrx::test
