// The scan sources the SANE option "source" offers, from the ability record: the
// flatbed glass under the scanner's own light, and the film adapter's area under
// its film light where the record has one. Each source has its area and the
// resolutions it is scanned at (a film window is taken from 300 dpi up).
#pragma once

#include <sane/sane.h>

#include <cstdint>
#include <vector>

#include "abilities.h"
#include "scan_geometry.h"

namespace qrx::sane {

inline constexpr char kFlatbedSource[] = "Flatbed";
inline constexpr char kFilmSource[] = "Transparency";
// The lowest resolution the scanner takes a film window at.
inline constexpr uint16_t kLowestFilmDpi = 300;

struct Source {
  const char* name = kFlatbedSource;
  uint8_t light = QRX_LAMP_FLATBED;  // SetLamp's code
  bool film = false;
  Glass area;
  std::vector<SANE_Word> resolutions;  // count first, as SANE word lists are

  uint16_t lowest_dpi() const { return static_cast<uint16_t>(resolutions.at(1)); }
  bool offers(SANE_Word dpi) const;
};

// The flatbed first; the film area when the record has one and a resolution it
// can be scanned at.
std::vector<Source> sources_of(const qrxscan::Abilities& abilities);

}  // namespace qrx::sane
