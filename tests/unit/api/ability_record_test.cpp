// The ability stream handed to the host.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "api/ability_record.h"
#include "support/api_fixture.h"

namespace qrx::test {
namespace {

struct Item {
  uint16_t tag, kind, length, value;
  size_t payload;  // offset of the payload in the stream
};

std::vector<Item> parse(const std::vector<uint8_t>& s) {
  std::vector<Item> items;
  size_t at = 0;
  auto u16 = [&](size_t o) { return static_cast<uint16_t>(s[o] | (s[o + 1] << 8)); };
  while (at + 8 <= s.size()) {
    Item item{u16(at), u16(at + 2), u16(at + 4), u16(at + 6), at + 8};
    items.push_back(item);
    at += 8;
    if (item.kind == 2 || item.kind == 3) at += item.length;
    if (item.kind == 0) break;
  }
  EXPECT_EQ(at, s.size()) << "the stream ends exactly after its end item";
  return items;
}

std::vector<uint8_t> stream_for(uint32_t port_type) {
  api::AbilityRecord record(port_type);
  std::vector<uint8_t> bytes(record.stream_size() + 16, 0xCD);
  EXPECT_EQ(record.write_stream(bytes.data()), record.stream_size());
  for (size_t i = record.stream_size(); i < bytes.size(); ++i) EXPECT_EQ(bytes[i], 0xCD);
  bytes.resize(record.stream_size());
  return bytes;
}

TEST(AbilityRecordTest, StreamIs476BytesAndOnlyThePortTypeDependsOnThePort) {
  const auto one = stream_for(1);
  const auto two = stream_for(2);
  ASSERT_EQ(one.size(), 476u);
  ASSERT_EQ(two.size(), 476u);
  size_t differing = 0;
  for (size_t i = 0; i < one.size(); ++i) differing += one[i] != two[i];
  EXPECT_EQ(differing, 1u);
  const auto items = parse(one);
  ASSERT_GE(items.size(), 5u);
  EXPECT_EQ(items[4].tag, 5);
  EXPECT_EQ(items[4].value, 1);
  EXPECT_EQ(parse(two)[4].value, 2);
  EXPECT_EQ(stream_for(0)[items[4].payload - 2], 2) << "an unknown port type reports 2";
}

TEST(AbilityRecordTest, ItemsCarryTheScannersValues) {
  const auto s = stream_for(1);
  const auto items = parse(s);
  ASSERT_EQ(items.size(), 39u);  // 38 items and the end
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&s[items[0].payload])), "QUARN");
  EXPECT_EQ(items[0].length, 12);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&s[items[1].payload])), "RV-70413K");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&s[items[3].payload])), "CIS2400");
  const Item& support = items[8];
  EXPECT_EQ(support.tag, 9);
  EXPECT_EQ(support.length, 36);
  const uint32_t flags[9] = {0, 0, 0, 0, 1, 1, 0, 0, 1};
  EXPECT_EQ(std::memcmp(&s[support.payload], flags, 36), 0);
  EXPECT_EQ(items[11].tag, 12);
  EXPECT_EQ(items[11].value, 7);
  const Item& list = items[12];
  EXPECT_EQ(list.length, 28);
  EXPECT_EQ(s[list.payload + 24] | (s[list.payload + 25] << 8), 4800);
  EXPECT_EQ(items[14].value, 4800);  // MaximumResolution
  EXPECT_EQ(items[15].value, 9600);  // ConversionResolution
  const Item& flatbed = items[16];
  EXPECT_EQ(flatbed.tag, 17);
  uint32_t area[4];
  std::memcpy(area, &s[flatbed.payload], 16);
  EXPECT_EQ(area[2], 81664u);
  EXPECT_EQ(area[3], 112256u);
  EXPECT_EQ(s[flatbed.payload + 17], 6) << "MaximumRes is the index of 4800";
  EXPECT_EQ(s[flatbed.payload + 20], 0x0D);
  EXPECT_EQ(items[17].tag, 38);
  EXPECT_EQ(std::memcmp(&s[items[17].payload], &s[flatbed.payload], 24), 0);
  // No transparency unit: a header with no payload.
  EXPECT_EQ(items[18].tag, 18);
  EXPECT_EQ(items[18].kind, 3);
  EXPECT_EQ(items[18].length, 0);
  // Film holders: empty frame lists.
  for (int holder = 0; holder < 4; ++holder) {
    const Item& frames = items[22 + 4 * holder];
    EXPECT_EQ(frames.tag, 22 + 4 * holder);
    EXPECT_EQ(frames.length, 0);
  }
  EXPECT_EQ(items.back().tag, 0xFFFF);
  EXPECT_EQ(items.back().kind, 0);
}

TEST(AbilityRecordTest, SensorTypeLabels) {
  EXPECT_STREQ(api::sensor_type_label(1), "CIS");
  EXPECT_STREQ(api::sensor_type_label(3), "CCD_WLED2");
  EXPECT_STREQ(api::sensor_type_label(4), "Error");
}

using AbilityExportTest = ApiTest;

TEST_F(AbilityExportTest, ExportsReportTheSameStreamEveryTime) {
  uint16_t size = 0;
  ASSERT_EQ(GetScannerAbilitySize(nullptr, &size), QRX_TRUE);
  EXPECT_EQ(size, 476);
  std::vector<uint8_t> a(size), b(size);
  ASSERT_EQ(GetScannerAbilityXp(nullptr, a.data()), QRX_TRUE);
  ASSERT_EQ(GetScannerAbilityXp(nullptr, b.data()), QRX_TRUE);
  EXPECT_EQ(a, b);
}

}  // namespace
}  // namespace qrx::test
