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

// The whole stream as the ability record's table lists it, item by item, written
// out here from the table's literal values (not from the library's own record).
class ExpectedStream {
 public:
  void header(uint16_t tag, uint16_t kind, uint16_t length, uint16_t value) {
    for (uint16_t v : {tag, kind, length, value}) u16(v);
    // The value field means something only for immediate values.
    const bool meaningful = kind == 1;
    for (int i = 0; i < 6; ++i) checked.push_back(true);
    checked.push_back(meaningful);
    checked.push_back(meaningful);
  }
  void text(uint16_t tag, const char* value, uint16_t field) {
    header(tag, 2, field, 0);
    const size_t n = std::strlen(value);
    for (uint16_t i = 0; i < field; ++i) byte(i < n ? static_cast<uint8_t>(value[i]) : 0);
  }
  void u16(uint16_t v) {
    byte(static_cast<uint8_t>(v));
    byte(static_cast<uint8_t>(v >> 8));
  }
  void u32(uint32_t v) {
    u16(static_cast<uint16_t>(v));
    u16(static_cast<uint16_t>(v >> 16));
  }
  void byte(uint8_t v) {
    bytes.push_back(v);
    checked.push_back(true);
  }
  std::vector<uint8_t> bytes;
  std::vector<bool> checked;
};

ExpectedStream expected_stream(uint8_t port_type) {
  ExpectedStream e;
  e.text(1, "QUARN", 12);
  e.text(2, "RV-70413K", 20);
  e.text(3, "1.0.1.0", 8);
  e.text(4, "CIS2400", 12);
  e.header(5, 1, 1, port_type);
  e.header(6, 1, 1, 1);  // SensorType: CIS
  e.header(7, 1, 1, 3);  // SupportPortType
  e.header(8, 1, 1, 1);  // SupportMethod
  e.header(9, 3, 36, 0);
  for (uint32_t flag : {0, 0, 0, 0, 1, 1, 0, 0, 1}) e.u32(flag);
  e.header(10, 1, 2, 0xFFFF);
  e.header(11, 1, 2, 0xFFFF);
  e.header(12, 1, 2, 7);
  e.header(13, 3, 28, 0);
  for (uint16_t r : {75, 150, 300, 600, 1200, 2400, 4800}) {
    e.u16(r);
    e.u16(r);
  }
  e.header(14, 1, 2, 2400);
  e.header(15, 1, 2, 4800);
  e.header(16, 1, 2, 9600);
  for (uint16_t tag : {17, 38}) {
    e.header(tag, 3, 24, 0);
    for (uint32_t v : {0u, 0u, 81664u, 112256u}) e.u32(v);
    // PreviewRes, MaximumRes, MinimumRes, ReadingReference, BitsPerChannel,
    // ColorToGray, Rotation, Reserved[0].
    for (uint8_t v : {0, 6, 0, 0, 0x0D, 2, 0, 0}) e.byte(v);
  }
  for (uint16_t tag : {18, 19, 20, 21}) e.header(tag, 3, 0, 0);
  for (uint16_t first : {22, 26, 30, 34}) {
    e.header(first, 3, 0, 0);
    e.header(static_cast<uint16_t>(first + 1), 1, 1, 0);
    e.header(static_cast<uint16_t>(first + 2), 1, 1, 0);
    e.header(static_cast<uint16_t>(first + 3), 1, 2, 0);
  }
  e.header(0xFFFF, 0, 0, 0);
  return e;
}

TEST(AbilityRecordTest, EveryItemCarriesTheRecordsLiteralValues) {
  for (uint8_t port_type : {1, 2}) {
    const auto stream = stream_for(port_type);
    const ExpectedStream e = expected_stream(port_type);
    ASSERT_EQ(e.bytes.size(), 476u);
    ASSERT_EQ(stream.size(), e.bytes.size());
    for (size_t i = 0; i < stream.size(); ++i) {
      if (e.checked[i]) {
        EXPECT_EQ(stream[i], e.bytes[i]) << "byte " << i << ", port type " << int(port_type);
      }
    }
  }
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
