// PNG decoding for documents on the glass, through libpng: every colour type and
// bit depth, interlaced or not, expanded to 16-bit RGB with alpha and the alpha
// composed over white. libpng checks the chunks' CRCs and the image data's
// checksum; a file with any error, even one libpng would only warn about (a stray
// palette index, image data left over), is refused.
//
// The Windows build has no libpng: it reads PNM documents only.
#include <cstring>

#include "emulator/image_file.h"

#ifdef QRX_EMULATOR_HAVE_LIBPNG

#include <png.h>

#include <csetjmp>

namespace qrx::emu {
namespace {

// Everything the decoding touches lives here, outside the frame that setjmp
// returns to, so that a longjmp out of libpng leaves it intact and destructible.
struct Decoding {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  std::string message;
  std::vector<uint8_t> pixels;  // the image as read: indexes, or RGBA of 16 bits
};

void on_error(png_structp png, png_const_charp message) {
  auto* decoding = static_cast<Decoding*>(png_get_error_ptr(png));
  decoding->message = message;
  png_longjmp(png, 1);
}

void on_warning(png_structp png, png_const_charp message) {
  // A warning is an error here: the emulator only places files it fully trusts.
  on_error(png, message);
}

void read_bytes(png_structp png, png_bytep out, png_size_t length) {
  auto* decoding = static_cast<Decoding*>(png_get_io_ptr(png));
  if (decoding->size - decoding->pos < length) png_error(png, "file ends early");
  std::memcpy(out, decoding->data + decoding->pos, length);
  decoding->pos += length;
}

uint16_t over_white(uint32_t value, uint32_t alpha) {
  return static_cast<uint16_t>((value * alpha + 65535u * (65535u - alpha)) / 65535u);
}

bool fail(std::string& error, const std::string& message) {
  error = "PNG: " + message;
  return false;
}

// The decoding proper. It holds no object with a destructor of its own: libpng
// errors longjmp back to its setjmp.
bool decode(Decoding& decoding, png_structp png, png_infop info, Image& image) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_read_fn(png, &decoding, read_bytes);
  // Stray palette indexes and left-over image data are errors, not warnings.
  png_set_benign_errors(png, 0);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  if (uint64_t{width} * height > kMaxImagePixels) png_error(png, "image too large");

  // Palette images are read as one index byte per pixel and looked up here, so
  // that an index beyond the palette is caught. Every other kind is read as
  // 16-bit RGBA: low grey depths expanded, transparency to alpha, grey copied to
  // three channels, samples in this machine's byte order.
  const bool palette = png_get_color_type(png, info) == PNG_COLOR_TYPE_PALETTE;
  if (palette) {
    png_set_packing(png);
  } else {
    png_set_expand(png);
    png_set_expand_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFFFF, PNG_FILLER_AFTER);
    png_set_swap(png);
  }
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t row_bytes = size_t{width} * (palette ? 1 : 8);
  if (png_get_rowbytes(png, info) != row_bytes) png_error(png, "unexpected row layout");

  png_uint_32 x_density = 0, y_density = 0;
  int unit = PNG_RESOLUTION_UNKNOWN;
  double dpi = 0;
  if (png_get_pHYs(png, info, &x_density, &y_density, &unit) != 0 && unit == PNG_RESOLUTION_METER) {
    dpi = x_density * 0.0254;
  }

  // Interlaced files fill the image in several passes over the rows: keep the
  // whole image until the last pass.
  std::vector<uint8_t>& pixels = decoding.pixels;
  pixels.assign(row_bytes * height, 0);
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < height; ++y)
      png_read_row(png, pixels.data() + y * row_bytes, nullptr);
  }
  png_read_end(png, nullptr);

  image.width = width;
  image.height = height;
  image.dpi = dpi;
  image.rgb.assign(size_t{width} * height * 3, 0);
  if (palette) {
    png_colorp colours = nullptr;
    int colour_count = 0;
    png_get_PLTE(png, info, &colours, &colour_count);
    png_bytep alphas = nullptr;
    int alpha_count = 0;
    png_get_tRNS(png, info, &alphas, &alpha_count, nullptr);
    for (size_t px = 0; px < size_t{width} * height; ++px) {
      const int index = pixels[px];
      if (index >= colour_count) png_error(png, "palette index out of range");
      const uint32_t alpha = index < alpha_count ? alphas[index] * 257u : 65535u;
      image.rgb[px * 3] = over_white(colours[index].red * 257u, alpha);
      image.rgb[px * 3 + 1] = over_white(colours[index].green * 257u, alpha);
      image.rgb[px * 3 + 2] = over_white(colours[index].blue * 257u, alpha);
    }
  } else {
    for (size_t px = 0; px < size_t{width} * height; ++px) {
      uint16_t rgba[4];
      std::memcpy(rgba, pixels.data() + px * 8, sizeof rgba);
      for (int c = 0; c < 3; ++c) image.rgb[px * 3 + c] = over_white(rgba[c], rgba[3]);
    }
  }
  return true;
}

}  // namespace

bool decode_png(const uint8_t* data, size_t size, Image& image, std::string& error) {
  if (data == nullptr || size < 8 || png_sig_cmp(data, 0, 8) != 0)
    return fail(error, "not a PNG file");
  Decoding decoding;
  decoding.data = data;
  decoding.size = size;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &decoding, on_error, on_warning);
  if (png == nullptr) return fail(error, "out of memory");
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return fail(error, "out of memory");
  }
  // A hostile header must not make libpng allocate without bound.
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_set_chunk_malloc_max(png, size_t{64} << 20);
  Image decoded;
  const bool ok = decode(decoding, png, info, decoded);
  png_destroy_read_struct(&png, &info, nullptr);
  if (!ok) return fail(error, decoding.message.empty() ? "cannot be decoded" : decoding.message);
  image = std::move(decoded);
  return true;
}

}  // namespace qrx::emu

#else  // no libpng

namespace qrx::emu {

bool decode_png(const uint8_t* /*data*/, size_t /*size*/, Image& /*image*/, std::string& error) {
  error = "PNG: this build reads PNM documents only (convert the document to PNM)";
  return false;
}

}  // namespace qrx::emu

#endif
