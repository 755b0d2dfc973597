// Image files out of scan lines: PNG (libpng), TIFF (libtiff), JPEG (libjpeg-turbo)
// and PNM. Every writer takes the lines as the library delivers them: 8-bit
// samples, or 16-bit samples in little-endian order; grey or RGB interleaved.
// The Windows build has none of the three libraries and writes PNM only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qrx::qrxscan {

enum class ImageFormat { kPng, kTiff, kJpeg, kPnm };

struct ImageSpec {
  uint32_t width = 0;   // pixels per line
  uint32_t height = 0;  // lines
  int channels = 3;     // 1 grey, 3 RGB
  int depth = 8;        // bits per sample: 8 or 16
  uint16_t dpi = 0;     // resolution, stored in the file's resolution fields
};

class ImageWriter {
 public:
  virtual ~ImageWriter() = default;
  // Writes the header. False with a message when the image cannot be written so.
  virtual bool begin(const ImageSpec& spec, std::string& error) = 0;
  // One line of width * channels samples.
  virtual bool write_line(const uint8_t* line, std::string& error) = 0;
  // Completes the file after the last line and flushes it.
  virtual bool finish(std::string& error) = 0;
};

// A writer for the format onto file, which the caller opened for binary writing
// and closes after finish(). nullptr when this build cannot write the format.
std::unique_ptr<ImageWriter> make_image_writer(ImageFormat format, std::FILE* file);

// Whether this build writes the format; whether it can hold 16-bit samples; and
// whether it needs a seekable file (TIFF does).
bool format_available(ImageFormat format);
bool format_holds_16_bits(ImageFormat format);
bool format_needs_seekable_file(ImageFormat format);

// "png", "tiff", "jpeg", "pnm"; and back (also "tif", "jpg"), case-insensitive.
const char* format_name(ImageFormat format);
std::optional<ImageFormat> format_from_name(std::string_view name);
// The format a file name's extension asks for (.png, .tif/.tiff, .jpg/.jpeg,
// .pnm/.ppm/.pgm); nothing for another or no extension.
std::optional<ImageFormat> format_from_file_name(std::string_view path);

// Per-format writers, for make_image_writer.
std::unique_ptr<ImageWriter> make_png_writer(std::FILE* file);
std::unique_ptr<ImageWriter> make_tiff_writer(std::FILE* file);
std::unique_ptr<ImageWriter> make_jpeg_writer(std::FILE* file);
std::unique_ptr<ImageWriter> make_pnm_writer(std::FILE* file);

}  // namespace qrx::qrxscan
