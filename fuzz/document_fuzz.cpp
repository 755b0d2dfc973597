// Fuzz target: document files for the emulator's glass (PNG through libpng, PNM).
// The first input byte picks the decoder, the rest is the file. A decoded image
// has the size it claims, within the pixel limit; a refused one says why.
#include <cstdint>
#include <string>

#include "emulator/image_file.h"
#include "fuzz_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qrx;
  if (size == 0) return 0;
  const bool png = (data[0] & 1) != 0;
  emu::Image image;
  std::string error;
  const bool decoded = png ? emu::decode_png(data + 1, size - 1, image, error)
                           : emu::decode_pnm(data + 1, size - 1, image, error);
  if (!decoded) {
    if (error.empty()) fuzz::fail("a refused document without a message");
    return 0;
  }
  const uint64_t pixels = static_cast<uint64_t>(image.width) * image.height;
  if (pixels == 0 || pixels > emu::kMaxImagePixels)
    fuzz::fail("image size", image.width, image.height);
  if (image.rgb.size() != pixels * 3) fuzz::fail("samples", image.rgb.size(), pixels * 3);
  if (image.dpi < 0) fuzz::fail("negative resolution");
  return 0;
}
