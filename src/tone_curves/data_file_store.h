// DataFileStore: the tone curves of the scanner's data file "QRX7730N.dat", kept
// for the life of the process. Region 0 holds the file's three per-channel curves
// (65536 entries each); regions 1 and 2 (film and other lights) are never filled
// and stay zero. `filled` says which regions a load has filled. It also carries a
// tuning record of its own with the defaults.
#pragma once

#include <array>
#include <cstdint>

#include "settings/scanner_setting.h"

namespace qrx::tone_curves {

inline constexpr size_t kCurveEntries = 65536;
inline constexpr size_t kRegionEntries = 3 * kCurveEntries;  // channel c, entry i at c*65536+i

struct DataFileStore {
  settings::ScannerSetting setting;
  std::array<std::array<uint16_t, kRegionEntries>, 3> region{};
  std::array<bool, 3> filled{};
};

}  // namespace qrx::tone_curves
