// Documents for the glass: a decoded image (PNG or PNM) as linear reflectance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qrx::emu {

struct Image {
  uint32_t width = 0;
  uint32_t height = 0;
  double dpi = 0;              // resolution the file states; 0 when it states none
  std::vector<uint16_t> rgb;   // width * height * 3 samples, 0..65535, over white
};

// Largest image accepted (pixels), so that a hostile header cannot ask for gigabytes.
inline constexpr uint64_t kMaxImagePixels = 50'000'000;

// Reads a PNG or PNM file, telling the format from its first bytes.
bool load_image(const std::string& path, Image& image, std::string& error);

// Decoders of an in-memory file. Each returns false with a message on any malformed
// or unsupported input and never reads or writes outside its buffers.
bool decode_png(const uint8_t* data, size_t size, Image& image, std::string& error);
bool decode_pnm(const uint8_t* data, size_t size, Image& image, std::string& error);

}  // namespace qrx::emu
