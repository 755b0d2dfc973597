// The scan window and the image parameters (see scan_geometry.h).
#include "scan_geometry.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace qrx::sane {
namespace {

// Millimetres (SANE_Fixed) in 1/unit inch, to the nearest unit.
long long units(SANE_Fixed mm, uint16_t unit) {
  return std::llround(SANE_UNFIX(mm) * unit / 25.4);
}

int channels(const ScanSettings& settings) {
  return settings.colour && !settings.lineart ? 3 : 1;
}

SANE_Int bytes_per_line(const ScanSettings& settings, SANE_Int pixels) {
  if (settings.lineart) return (pixels + 7) / 8;
  return pixels * channels(settings) * settings.depth / 8;
}

SANE_Parameters image_of(const ScanSettings& settings, SANE_Int pixels, SANE_Int lines) {
  SANE_Parameters parameters{};
  parameters.format = channels(settings) == 3 ? SANE_FRAME_RGB : SANE_FRAME_GRAY;
  parameters.last_frame = SANE_TRUE;
  parameters.depth = settings.sane_depth();
  parameters.pixels_per_line = pixels;
  parameters.lines = lines;
  parameters.bytes_per_line = bytes_per_line(settings, pixels);
  return parameters;
}

}  // namespace

bool window_on_glass(const ScanSettings& settings, const Glass& glass, ScanWindow& window,
                     std::string& error) {
  long long x0 = units(settings.tl_x, glass.unit), x1 = units(settings.br_x, glass.unit);
  long long y0 = units(settings.tl_y, glass.unit), y1 = units(settings.br_y, glass.unit);
  if (x1 < x0) std::swap(x0, x1);
  if (y1 < y0) std::swap(y0, y1);
  char text[200];
  if (x0 < 0 || y0 < 0 || x1 > glass.width || y1 > glass.length) {
    std::snprintf(text, sizeof text, "the scan area reaches past the %s (%.1f x %.1f mm)",
                  settings.film ? "film area" : "glass", glass.width * 25.4 / glass.unit,
                  glass.length * 25.4 / glass.unit);
    error = text;
    return false;
  }
  const long long minimum = (kMinimumExtent * glass.unit + 9599) / 9600;
  if (x1 - x0 < minimum || y1 - y0 < minimum) {
    std::snprintf(
        text, sizeof text, "the scan area is %.2f x %.2f mm; the scanner takes at least %.2f mm",
        (x1 - x0) * 25.4 / glass.unit, (y1 - y0) * 25.4 / glass.unit, minimum * 25.4 / glass.unit);
    error = text;
    return false;
  }
  window = {uint32_t(x0 + glass.x), uint32_t(y0 + glass.y), uint32_t(x1 - x0), uint32_t(y1 - y0)};
  return true;
}

ScanParameter scan_parameter(const ScanSettings& settings, const ScanWindow& window) {
  ScanParameter parameter{};
  parameter.xRes = parameter.yRes = settings.dpi;
  parameter.ScanningArea = {window.x, window.y, window.width, window.length};
  parameter.FilmArea = settings.film ? 1 : 0;
  parameter.BitsPerPixel = static_cast<uint8_t>(channels(settings) * settings.depth);
  return parameter;
}

SANE_Parameters expected_parameters(const ScanSettings& settings, const ScanWindow& window,
                                    const Glass& glass) {
  return image_of(settings,
                  static_cast<SANE_Int>(uint64_t{window.width} * settings.dpi / glass.unit),
                  static_cast<SANE_Int>(uint64_t{window.length} * settings.dpi / glass.unit));
}

SANE_Parameters announced_parameters(const ScanSettings& settings, uint32_t line_bytes,
                                     uint32_t lines) {
  const uint32_t pixel_bytes = static_cast<uint32_t>(channels(settings) * settings.depth / 8);
  return image_of(settings, static_cast<SANE_Int>(line_bytes / pixel_bytes),
                  static_cast<SANE_Int>(lines));
}

}  // namespace qrx::sane
