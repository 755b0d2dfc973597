// The test document and the fit of a scan (see scan_document.h).
#include "scan_document.h"

#include <cmath>
#include <cstdio>

namespace qrx::test {

Document make_document(uint32_t width, uint32_t height) {
  Document document;
  document.width = width;
  document.height = height;
  document.rgb.resize(size_t{width} * height * 3);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t r, g, b;
      // A ramp from dark to light across the page.
      r = g = b = static_cast<uint8_t>(40 + 190 * x / (width - 1));
      const bool band = y >= height / 8 && y < height / 8 + 120;
      if (band && x >= width / 8 && x < width / 8 + 150) r = g = b = 5;            // black
      if (band && x >= width / 2 && x < width / 2 + 90) r = 220, g = b = 30;       // red
      if (y >= height / 2 && y < height / 2 + 90 && x < 120) g = 220, r = b = 30;  // green
      if (y >= height / 2 && y < height / 2 + 90 && x >= width - 120) b = 220, r = g = 30;
      if (y >= 3 * height / 4 && (x / 24) % 2 == 0) r = g = b = 15;  // bars 2 mm wide
      uint8_t* pixel = &document.rgb[(size_t{y} * width + x) * 3];
      pixel[0] = r;
      pixel[1] = g;
      pixel[2] = b;
    }
  }
  return document;
}

bool write_pnm(const Document& document, const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  std::fprintf(file, "P6\n%u %u\n255\n", document.width, document.height);
  const bool written =
      std::fwrite(document.rgb.data(), 1, document.rgb.size(), file) == document.rgb.size();
  return std::fclose(file) == 0 && written;
}

Fit best_fit(const Document& document, const std::vector<uint16_t>& samples, uint32_t width,
             uint32_t height, int channels, int max_shift) {
  Fit best;
  for (int dy = -max_shift; dy <= max_shift; ++dy) {
    for (int dx = -max_shift; dx <= max_shift; ++dx) {
      double n = 0, sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
      for (uint32_t y = 0; y < height; ++y) {
        const long dyy = long(y) + dy;
        if (dyy < 0 || dyy >= long(document.height)) continue;
        for (uint32_t x = 0; x < width; ++x) {
          const long dxx = long(x) + dx;
          if (dxx < 0 || dxx >= long(document.width)) continue;
          for (int c = 0; c < channels; ++c) {
            const double a = samples[(size_t{y} * width + x) * channels + c];
            const double b = document.at(uint32_t(dxx), uint32_t(dyy), channels == 1 ? 1 : c);
            n += 1;
            sa += a;
            sb += b;
            saa += a * a;
            sbb += b * b;
            sab += a * b;
          }
        }
      }
      const double covariance = sab - sa * sb / n;
      const double spread = std::sqrt((saa - sa * sa / n) * (sbb - sb * sb / n));
      const double correlation = spread > 0 ? covariance / spread : -1;
      if (correlation > best.correlation) best = {correlation, dx, dy};
    }
  }
  return best;
}

}  // namespace qrx::test
