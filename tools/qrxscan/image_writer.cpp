// Choosing an image writer (see image_writer.h).
#include "image_writer.h"

#include <cctype>
#include <string>

namespace qrx::qrxscan {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

bool format_available(ImageFormat format) {
#ifdef QRXSCAN_HAVE_IMAGE_LIBRARIES
  (void)format;
  return true;
#else
  return format == ImageFormat::kPnm;
#endif
}

bool format_holds_16_bits(ImageFormat format) {
  return format != ImageFormat::kJpeg;
}

bool format_needs_seekable_file(ImageFormat format) {
  return format == ImageFormat::kTiff;
}

std::unique_ptr<ImageWriter> make_image_writer(ImageFormat format, std::FILE* file) {
  if (!format_available(format)) return nullptr;
  switch (format) {
#ifdef QRXSCAN_HAVE_IMAGE_LIBRARIES
    case ImageFormat::kPng:
      return make_png_writer(file);
    case ImageFormat::kTiff:
      return make_tiff_writer(file);
    case ImageFormat::kJpeg:
      return make_jpeg_writer(file);
#endif
    case ImageFormat::kPnm:
      return make_pnm_writer(file);
    default:
      return nullptr;
  }
}

const char* format_name(ImageFormat format) {
  switch (format) {
    case ImageFormat::kPng:
      return "png";
    case ImageFormat::kTiff:
      return "tiff";
    case ImageFormat::kJpeg:
      return "jpeg";
    case ImageFormat::kPnm:
      return "pnm";
  }
  return "?";
}

std::optional<ImageFormat> format_from_name(std::string_view name) {
  const std::string n = lower(name);
  if (n == "png") return ImageFormat::kPng;
  if (n == "tiff" || n == "tif") return ImageFormat::kTiff;
  if (n == "jpeg" || n == "jpg") return ImageFormat::kJpeg;
  if (n == "pnm") return ImageFormat::kPnm;
  return std::nullopt;
}

std::optional<ImageFormat> format_from_file_name(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  const std::string extension = lower(name.substr(dot + 1));
  if (extension == "ppm" || extension == "pgm") return ImageFormat::kPnm;
  return format_from_name(extension);
}

}  // namespace qrx::qrxscan
