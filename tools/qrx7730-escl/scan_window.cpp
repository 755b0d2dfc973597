// The scan window (see scan_window.h).
#include "scan_window.h"

#include <algorithm>

namespace qrx::escl {

QRX_Area window_for(const Region& region, uint16_t dpi, const ScannerModel& model) {
  const uint64_t per_300th = model.area_unit / 300;
  // The pixels eSCL clients expect for an extent, rounded to the nearest; then
  // the window that many pixels take, in the library's unit, within the glass.
  const auto extent = [&](uint64_t start, uint64_t length, uint64_t glass) {
    const uint64_t pixels = (length * dpi + 150) / 300;
    const uint64_t units = (pixels * model.area_unit + dpi - 1) / dpi;
    return static_cast<uint32_t>(std::min(units, glass * per_300th - start * per_300th));
  };
  return {static_cast<uint32_t>(region.x * per_300th), static_cast<uint32_t>(region.y * per_300th),
          extent(region.x, region.width, model.max_width),
          extent(region.y, region.height, model.max_height)};
}

}  // namespace qrx::escl
