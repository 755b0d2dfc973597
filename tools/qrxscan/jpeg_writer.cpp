// JPEG files through libjpeg(-turbo): 8 bits per sample, grey or RGB, quality 90,
// the resolution in the JFIF density fields (dots per inch).
#include <csetjmp>
#include <cstdio>  // before jpeglib.h, which uses FILE

#include <jpeglib.h>

#include "image_writer.h"

namespace qrx::qrxscan {
namespace {

constexpr int kQuality = 90;

// libjpeg's error manager with a way back: its errors longjmp to the call that
// met them instead of ending the process.
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf back;
  char message[JMSG_LENGTH_MAX];
};

void on_error(j_common_ptr info) {
  auto* manager = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, manager->message);
  std::longjmp(manager->back, 1);
}

class JpegWriter final : public ImageWriter {
 public:
  explicit JpegWriter(std::FILE* file) : file_(file) {
    jpeg_.err = jpeg_std_error(&errors_.base);
    errors_.base.error_exit = on_error;
    errors_.message[0] = '\0';
  }
  ~JpegWriter() override {
    if (created_) jpeg_destroy_compress(&jpeg_);
  }

  bool begin(const ImageSpec& spec, std::string& error) override {
    if (spec.depth != 8) {
      error = "JPEG: holds 8 bits per sample only";
      return false;
    }
    if (setjmp(errors_.back)) return fail(error);
    jpeg_create_compress(&jpeg_);
    created_ = true;
    jpeg_stdio_dest(&jpeg_, file_);
    jpeg_.image_width = spec.width;
    jpeg_.image_height = spec.height;
    jpeg_.input_components = spec.channels;
    jpeg_.in_color_space = spec.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&jpeg_);
    jpeg_set_quality(&jpeg_, kQuality, TRUE);
    jpeg_.write_JFIF_header = TRUE;
    jpeg_.density_unit = 1;  // dots per inch
    jpeg_.X_density = spec.dpi;
    jpeg_.Y_density = spec.dpi;
    jpeg_start_compress(&jpeg_, TRUE);
    return true;
  }

  bool write_line(const uint8_t* line, std::string& error) override {
    if (setjmp(errors_.back)) return fail(error);
    JSAMPROW row = const_cast<JSAMPROW>(line);
    jpeg_write_scanlines(&jpeg_, &row, 1);
    return true;
  }

  bool finish(std::string& error) override {
    if (setjmp(errors_.back)) return fail(error);
    jpeg_finish_compress(&jpeg_);
    if (std::fflush(file_) != 0) {
      error = "JPEG: cannot write the file";
      return false;
    }
    return true;
  }

 private:
  bool fail(std::string& error) const {
    error = std::string("JPEG: ") + errors_.message;
    return false;
  }

  std::FILE* file_;
  ErrorManager errors_;
  jpeg_compress_struct jpeg_{};
  bool created_ = false;
};

}  // namespace

std::unique_ptr<ImageWriter> make_jpeg_writer(std::FILE* file) {
  return std::make_unique<JpegWriter>(file);
}

}  // namespace qrx::qrxscan
