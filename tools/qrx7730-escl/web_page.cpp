// The web page (see web_page.h). The page's text is web_page.html, turned into
// the array below at build time.
#include "web_page.h"

namespace qrx::escl {
namespace {

const unsigned char kPage[] = {
#include "web_page.inc"
};

std::string escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

std::string web_page(std::string_view name) {
  std::string page(reinterpret_cast<const char*>(kPage), sizeof kPage);
  const std::string marker = "{{NAME}}";
  const std::string value = escaped(name);
  for (size_t at = page.find(marker); at != std::string::npos;
       at = page.find(marker, at + value.size())) {
    page.replace(at, marker.size(), value);
  }
  return page;
}

}  // namespace qrx::escl

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "image_writer.h"

namespace qrx::escl {

std::string icon_png() {
  constexpr uint32_t kSize = 128;
  char* data = nullptr;
  size_t size = 0;
  std::FILE* file = open_memstream(&data, &size);
  if (file == nullptr) return {};
  std::string error;
  bool ok = false;
  {
    auto writer = qrxscan::make_png_writer(file);
    qrxscan::ImageSpec spec;
    spec.width = spec.height = kSize;
    spec.channels = 3;
    spec.depth = 8;
    spec.dpi = 72;
    ok = writer->begin(spec, error);
    std::vector<uint8_t> line(kSize * 3);
    for (uint32_t y = 0; ok && y < kSize; ++y) {
      for (uint32_t x = 0; x < kSize; ++x) {
        // A grey body with a dark lid line and a blue glass with a light bar.
        const bool body = y >= 40 && y < 100 && x >= 8 && x < 120;
        const bool lid = y >= 40 && y < 46 && body;
        const bool glass = y >= 56 && y < 88 && x >= 20 && x < 108;
        const bool bar = glass && x >= 60 && x < 66;
        uint8_t r = 255, g = 255, b = 255;
        if (body) r = g = b = 170;
        if (lid) r = g = b = 70;
        if (glass) r = 60, g = 110, b = 200;
        if (bar) r = 240, g = 250, b = 255;
        line[x * 3] = r;
        line[x * 3 + 1] = g;
        line[x * 3 + 2] = b;
      }
      ok = writer->write_line(line.data(), error);
    }
    ok = ok && writer->finish(error);
  }
  std::fclose(file);
  std::string png = ok ? std::string(data, size) : std::string();
  std::free(data);
  return png;
}

}  // namespace qrx::escl
