// TIFF files through libtiff: 8 or 16 bits per sample, grey or RGB, Deflate with
// the horizontal predictor, the resolution in XResolution/YResolution (inch).
// libtiff writes through the caller's file with seeks, so the file must be seekable.
#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "image_writer.h"

namespace qrx::qrxscan {
namespace {

std::FILE* file_of(thandle_t handle) {
  return static_cast<std::FILE*>(handle);
}

tmsize_t read_proc(thandle_t handle, void* data, tmsize_t size) {
  return static_cast<tmsize_t>(std::fread(data, 1, static_cast<size_t>(size), file_of(handle)));
}
tmsize_t write_proc(thandle_t handle, void* data, tmsize_t size) {
  return static_cast<tmsize_t>(std::fwrite(data, 1, static_cast<size_t>(size), file_of(handle)));
}
toff_t seek_proc(thandle_t handle, toff_t offset, int whence) {
  if (fseeko(file_of(handle), static_cast<off_t>(offset), whence) != 0)
    return static_cast<toff_t>(-1);
  return static_cast<toff_t>(ftello(file_of(handle)));
}
int close_proc(thandle_t handle) {
  return std::fflush(file_of(handle));
}  // the caller closes
toff_t size_proc(thandle_t handle) {
  std::FILE* file = file_of(handle);
  const off_t here = ftello(file);
  fseeko(file, 0, SEEK_END);
  const off_t end = ftello(file);
  fseeko(file, here, SEEK_SET);
  return static_cast<toff_t>(end);
}
int map_proc(thandle_t, void**, toff_t*) {
  return 0;
}
void unmap_proc(thandle_t, void*, toff_t) {}

class TiffWriter final : public ImageWriter {
 public:
  explicit TiffWriter(std::FILE* file) : file_(file) {}
  ~TiffWriter() override {
    if (tiff_ != nullptr) TIFFCleanup(tiff_);
  }

  bool begin(const ImageSpec& spec, std::string& error) override {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) return fail("out of memory", error);
    TIFFOpenOptionsSetErrorHandlerExtR(options, on_message, this);
    TIFFOpenOptionsSetWarningHandlerExtR(options, on_warning, this);
    tiff_ = TIFFClientOpenExt("scan", "w", file_, read_proc, write_proc, seek_proc, close_proc,
                              size_proc, map_proc, unmap_proc, options);
    TIFFOpenOptionsFree(options);
    if (tiff_ == nullptr) return fail(message_, error);
    const bool ok = TIFFSetField(tiff_, TIFFTAG_IMAGEWIDTH, spec.width) &&
                    TIFFSetField(tiff_, TIFFTAG_IMAGELENGTH, spec.height) &&
                    TIFFSetField(tiff_, TIFFTAG_BITSPERSAMPLE, spec.depth) &&
                    TIFFSetField(tiff_, TIFFTAG_SAMPLESPERPIXEL, spec.channels) &&
                    TIFFSetField(tiff_, TIFFTAG_PHOTOMETRIC,
                                 spec.channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB) &&
                    TIFFSetField(tiff_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
                    TIFFSetField(tiff_, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
                    TIFFSetField(tiff_, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
                    TIFFSetField(tiff_, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff_, 0)) &&
                    TIFFSetField(tiff_, TIFFTAG_SOFTWARE, "qrxscan") &&
                    (spec.dpi == 0 || (TIFFSetField(tiff_, TIFFTAG_XRESOLUTION, double(spec.dpi)) &&
                                       TIFFSetField(tiff_, TIFFTAG_YRESOLUTION, double(spec.dpi)) &&
                                       TIFFSetField(tiff_, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH)));
    if (!ok) return fail(message_, error);
    return true;
  }

  bool write_line(const uint8_t* line, std::string& error) override {
    // libtiff may encode in place (the predictor): hand it a copy.
    scratch_.assign(line, line + TIFFScanlineSize(tiff_));
    if (TIFFWriteScanline(tiff_, scratch_.data(), row_++, 0) != 1) return fail(message_, error);
    return true;
  }

  bool finish(std::string& error) override {
    const bool ok = TIFFFlush(tiff_) == 1;  // writes the directory
    TIFFCleanup(tiff_);
    tiff_ = nullptr;
    if (!ok || std::fflush(file_) != 0) return fail(message_, error);
    return true;
  }

 private:
  static int on_message(TIFF*, void* self, const char*, const char* format, va_list arguments) {
    char text[256];
    std::vsnprintf(text, sizeof text, format, arguments);
    static_cast<TiffWriter*>(self)->message_ = text;
    return 1;
  }
  static int on_warning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

  bool fail(const std::string& message, std::string& error) const {
    error = "TIFF: " + (message.empty() ? std::string("cannot write the file") : message);
    return false;
  }

  std::FILE* file_;
  TIFF* tiff_ = nullptr;
  uint32_t row_ = 0;
  std::string message_;
  std::vector<uint8_t> scratch_;
};

}  // namespace

std::unique_ptr<ImageWriter> make_tiff_writer(std::FILE* file) {
  return std::make_unique<TiffWriter>(file);
}

}  // namespace qrx::qrxscan
