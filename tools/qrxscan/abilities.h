// What the scanner says it can do, read from the ability stream of
// GetScannerAbilityXp: names, resolutions, the size of the glass and, on a
// scanner with a film adapter, where its film area lies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qrx::qrxscan {

struct Abilities {
  std::string vendor, model, firmware, sensor;
  unsigned port_type = 0;
  std::vector<uint16_t> resolutions;  // dpi, as the list pairs them (across = down)
  uint16_t optical_dpi = 0;
  uint16_t area_unit = 0;    // areas are in 1/area_unit inch
  uint32_t glass_width = 0;  // flatbed area, in 1/area_unit inch
  uint32_t glass_length = 0;
  // The film adapter's area for its colour light (x and y from the scan origin),
  // in 1/area_unit inch; all 0 when the scanner offers none.
  uint32_t film_x = 0, film_y = 0, film_width = 0, film_length = 0;

  bool has_film_area() const { return film_width != 0 && film_length != 0; }
  bool offers(uint16_t dpi) const;
  double glass_width_mm() const;
  double glass_length_mm() const;
};

// Reads the tagged items of a stream of size bytes. False with a message when an
// item runs past the end, the end item is missing, or a needed item is absent.
bool parse_abilities(const uint8_t* stream, size_t size, Abilities& abilities, std::string& error);

// Asks the library (GetScannerAbilitySize, GetScannerAbilityXp) and parses it.
bool query_abilities(Abilities& abilities, std::string& error);

}  // namespace qrx::qrxscan
