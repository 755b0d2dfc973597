// The ability record as the library writes it, read back; and cut short.
#include "abilities.h"

#include <gtest/gtest.h>

#include <vector>

#include "qrx7730.h"

namespace qrx::test {
namespace {

std::vector<uint8_t> library_stream() {
  uint16_t size = 0;
  EXPECT_TRUE(GetScannerAbilitySize(nullptr, &size));
  std::vector<uint8_t> stream(size);
  EXPECT_TRUE(GetScannerAbilityXp(nullptr, stream.data()));
  return stream;
}

TEST(Abilities, TheLibrarysRecordReadsAsTheModelIs) {
  const std::vector<uint8_t> stream = library_stream();
  qrxscan::Abilities abilities;
  std::string error;
  ASSERT_TRUE(qrxscan::parse_abilities(stream.data(), stream.size(), abilities, error)) << error;
  EXPECT_EQ(abilities.vendor, "QUARN");
  EXPECT_EQ(abilities.model, "RV-70413K");
  EXPECT_EQ(abilities.firmware, "1.0.1.0");
  EXPECT_EQ(abilities.sensor, "CIS2400");
  EXPECT_EQ(abilities.resolutions, (std::vector<uint16_t>{75, 150, 300, 600, 1200, 2400, 4800}));
  EXPECT_EQ(abilities.optical_dpi, 2400);
  EXPECT_EQ(abilities.area_unit, 9600);
  EXPECT_EQ(abilities.glass_width, 81664u);
  EXPECT_EQ(abilities.glass_length, 112256u);
  EXPECT_NEAR(abilities.glass_width_mm(), 216.069, 0.001);
  EXPECT_TRUE(abilities.offers(1200));
  EXPECT_FALSE(abilities.offers(1000));
}

TEST(Abilities, EveryShortenedRecordIsRefusedWithoutReadingPastIt) {
  const std::vector<uint8_t> stream = library_stream();
  for (size_t size = 0; size < stream.size(); ++size) {
    // A copy of exactly size bytes, so that a read past it is caught by the sanitizers.
    std::vector<uint8_t> cut(stream.begin(), stream.begin() + size);
    qrxscan::Abilities abilities;
    std::string error;
    EXPECT_FALSE(qrxscan::parse_abilities(cut.data(), cut.size(), abilities, error)) << size;
  }
}

}  // namespace
}  // namespace qrx::test
