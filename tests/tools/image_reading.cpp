// Image files read back with libpng, libtiff and libjpeg (see image_reading.h).
#include "image_reading.h"

#include <png.h>
#include <tiffio.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include <jpeglib.h>

namespace qrx::test {

std::vector<uint8_t> file_bytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

ReadImage read_png(const std::string& path) {
  ReadImage image;
  // The low-level reader keeps the file's own samples (no gamma conversions).
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    image.error = "cannot open " + path;
    return image;
  }
  png_structp reader = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(reader);
  if (setjmp(png_jmpbuf(reader))) {
    png_destroy_read_struct(&reader, &info, nullptr);
    std::fclose(file);
    image.error = "libpng refused " + path;
    image.ok = false;
    return image;
  }
  png_init_io(reader, file);
  png_read_png(reader, info, PNG_TRANSFORM_IDENTITY, nullptr);
  image.width = png_get_image_width(reader, info);
  image.height = png_get_image_height(reader, info);
  image.depth = png_get_bit_depth(reader, info);
  image.channels = png_get_channels(reader, info);
  png_uint_32 x = 0, y = 0;
  int unit = 0;
  if (png_get_pHYs(reader, info, &x, &y, &unit) && unit == PNG_RESOLUTION_METER) {
    image.x_dpi = x * 0.0254;
    image.y_dpi = y * 0.0254;
  }
  png_bytepp rows = png_get_rows(reader, info);
  for (uint32_t r = 0; r < image.height; ++r) {
    for (uint32_t i = 0; i < image.width * image.channels; ++i) {
      if (image.depth < 8) {
        // Samples packed into bytes from the top bit, as many as fit.
        const uint32_t per_byte = 8 / image.depth;
        const uint8_t byte = rows[r][i / per_byte];
        const int shift = 8 - image.depth * int(i % per_byte + 1);
        image.samples.push_back((byte >> shift) & ((1u << image.depth) - 1));
      } else {
        image.samples.push_back(image.depth == 16 ? (rows[r][2 * i] << 8) | rows[r][2 * i + 1]
                                                  : rows[r][i]);
      }
    }
  }
  png_destroy_read_struct(&reader, &info, nullptr);
  std::fclose(file);
  image.ok = true;
  return image;
}

ReadImage read_tiff(const std::string& path) {
  ReadImage image;
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (tiff == nullptr) {
    image.error = "libtiff refused " + path;
    return image;
  }
  uint16_t bits = 0, samples = 0, unit = 0;
  float x = 0, y = 0;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &image.width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &image.height);
  TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  image.depth = bits;
  image.channels = samples;
  if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x) && TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y) &&
      TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit) && unit == RESUNIT_INCH) {
    image.x_dpi = x;
    image.y_dpi = y;
  }
  std::vector<uint8_t> row(TIFFScanlineSize(tiff));
  for (uint32_t r = 0; r < image.height; ++r) {
    if (TIFFReadScanline(tiff, row.data(), r, 0) != 1) {
      image.error = "cannot read row " + std::to_string(r);
      TIFFClose(tiff);
      return image;
    }
    for (uint32_t i = 0; i < image.width * image.channels; ++i) {
      uint16_t v = row[i];
      if (bits == 16) std::memcpy(&v, row.data() + 2 * i, 2);  // in this machine's order
      image.samples.push_back(v);
    }
  }
  TIFFClose(tiff);
  image.ok = true;
  return image;
}

namespace {

struct JpegErrors {
  jpeg_error_mgr base;
  std::jmp_buf back;
};

void jpeg_failed(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->back, 1);
}

}  // namespace

ReadImage read_jpeg(const std::string& path) {
  ReadImage image;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    image.error = "cannot open " + path;
    return image;
  }
  jpeg_decompress_struct jpeg{};
  JpegErrors errors;
  jpeg.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = jpeg_failed;
  if (setjmp(errors.back)) {
    jpeg_destroy_decompress(&jpeg);
    std::fclose(file);
    image.error = "libjpeg refused " + path;
    return image;
  }
  jpeg_create_decompress(&jpeg);
  jpeg_stdio_src(&jpeg, file);
  jpeg_read_header(&jpeg, TRUE);
  jpeg_start_decompress(&jpeg);
  image.width = jpeg.output_width;
  image.height = jpeg.output_height;
  image.channels = jpeg.output_components;
  image.depth = 8;
  if (jpeg.density_unit == 1) {
    image.x_dpi = jpeg.X_density;
    image.y_dpi = jpeg.Y_density;
  }
  std::vector<uint8_t> row(size_t{image.width} * image.channels);
  while (jpeg.output_scanline < jpeg.output_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&jpeg, rows, 1);
    image.samples.insert(image.samples.end(), row.begin(), row.end());
  }
  jpeg_finish_decompress(&jpeg);
  jpeg_destroy_decompress(&jpeg);
  std::fclose(file);
  image.ok = true;
  return image;
}

}  // namespace qrx::test
