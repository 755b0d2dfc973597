// The library's scan window for a region of the glass: as many pixels as eSCL
// clients reckon for the region ((300ths x dpi) / 300, to the nearest), in the
// library's area unit, cut at the glass's edge.
#pragma once

#include <cstdint>

#include "qrx7730.h"
#include "scan_settings.h"

namespace qrx::escl {

QRX_Area window_for(const Region& region, uint16_t dpi, const ScannerModel& model);

}  // namespace qrx::escl
