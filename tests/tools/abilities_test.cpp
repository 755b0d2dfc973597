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
  EXPECT_FALSE(abilities.has_film_area());  // the film item is empty on this model
}

TEST(Abilities, AFilmAreaIsReadWhereTheRecordHasOne) {
  // The library's record with a film adapter's area put into its empty film item
  // (tag 18): the film window limits' corners, in 1/9600 inch.
  std::vector<uint8_t> stream = library_stream();
  size_t at = 0;
  while (at + 8 <= stream.size() && (stream[at] | stream[at + 1] << 8) != 18) {
    const uint16_t kind = stream[at + 2] | stream[at + 3] << 8;
    const uint16_t length = stream[at + 4] | stream[at + 5] << 8;
    at += 8 + (kind == QRX_ABILITY_KIND_BYTES || kind == QRX_ABILITY_KIND_BLOCK ? length : 0);
  }
  ASSERT_LT(at + 8, stream.size());
  ASSERT_EQ(stream[at + 4], 0);  // empty
  stream[at + 4] = 24;
  std::vector<uint8_t> area(24, 0);
  const uint32_t corners[4] = {71040, 21760, 23616, 182720};
  for (int i = 0; i < 16; ++i) area[i] = static_cast<uint8_t>(corners[i / 4] >> (8 * (i % 4)));
  stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(at + 8), area.begin(), area.end());
  qrxscan::Abilities abilities;
  std::string error;
  ASSERT_TRUE(qrxscan::parse_abilities(stream.data(), stream.size(), abilities, error)) << error;
  EXPECT_TRUE(abilities.has_film_area());
  EXPECT_EQ(abilities.film_x, 71040u);
  EXPECT_EQ(abilities.film_y, 21760u);
  EXPECT_EQ(abilities.film_width, 23616u);
  EXPECT_EQ(abilities.film_length, 182720u);
  EXPECT_EQ(abilities.glass_width, 81664u);  // the flatbed stays as it was
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
