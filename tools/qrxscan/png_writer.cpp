// PNG files through libpng: 8 or 16 bits per sample, grey or RGB, the resolution
// in the pHYs chunk (pixels per metre).
#include <png.h>

#include <cmath>
#include <csetjmp>

#include "image_writer.h"

namespace qrx::qrxscan {
namespace {

class PngWriter final : public ImageWriter {
 public:
  explicit PngWriter(std::FILE* file) : file_(file) {}
  ~PngWriter() override {
    if (png_ != nullptr) png_destroy_write_struct(&png_, &info_);
  }

  bool begin(const ImageSpec& spec, std::string& error) override {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, this, on_error, on_warning);
    if (png_ == nullptr) return fail("out of memory", error);
    info_ = png_create_info_struct(png_);
    if (info_ == nullptr) return fail("out of memory", error);
    if (setjmp(png_jmpbuf(png_))) return fail(message_, error);
    png_init_io(png_, file_);
    png_set_IHDR(png_, info_, spec.width, spec.height, spec.depth,
                 spec.channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (spec.dpi != 0) {
      const auto per_metre = static_cast<png_uint_32>(std::lround(spec.dpi / 0.0254));
      png_set_pHYs(png_, info_, per_metre, per_metre, PNG_RESOLUTION_METER);
    }
    png_write_info(png_, info_);
    // The library's 16-bit samples are little-endian; PNG stores them big-endian.
    if (spec.depth == 16) png_set_swap(png_);
    return true;
  }

  bool write_line(const uint8_t* line, std::string& error) override {
    if (setjmp(png_jmpbuf(png_))) return fail(message_, error);
    png_write_row(png_, line);
    return true;
  }

  bool finish(std::string& error) override {
    if (setjmp(png_jmpbuf(png_))) return fail(message_, error);
    png_write_end(png_, nullptr);
    if (std::fflush(file_) != 0) return fail("cannot write the file", error);
    return true;
  }

 private:
  static void on_error(png_structp png, png_const_charp message) {
    static_cast<PngWriter*>(png_get_error_ptr(png))->message_ = message;
    png_longjmp(png, 1);
  }
  static void on_warning(png_structp, png_const_charp) {}

  static bool fail(const std::string& message, std::string& error) {
    error = "PNG: " + message;
    return false;
  }

  std::FILE* file_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
  std::string message_;
};

}  // namespace

std::unique_ptr<ImageWriter> make_png_writer(std::FILE* file) {
  return std::make_unique<PngWriter>(file);
}

}  // namespace qrx::qrxscan
