// qrxscan's image writers, read back with the format libraries' own readers:
// size, depth, channels, resolution fields and samples, and a failing disk.
#include "image_writer.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "image_reading.h"
#include "support/temp_dir.h"

namespace qrx::test {
namespace {

using qrxscan::ImageFormat;
using qrxscan::ImageSpec;

// Writes lines (each a whole line of the image) in the format into path.
void write(ImageFormat format, const std::string& path, const ImageSpec& spec,
           const std::vector<std::vector<uint8_t>>& lines) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  auto writer = qrxscan::make_image_writer(format, file);
  ASSERT_NE(writer, nullptr);
  std::string error;
  ASSERT_TRUE(writer->begin(spec, error)) << error;
  for (const auto& line : lines) ASSERT_TRUE(writer->write_line(line.data(), error)) << error;
  ASSERT_TRUE(writer->finish(error)) << error;
  writer.reset();
  ASSERT_EQ(std::fclose(file), 0);
}

ImageSpec spec(uint32_t width, uint32_t height, int channels, int depth, uint16_t dpi) {
  ImageSpec s;
  s.width = width;
  s.height = height;
  s.channels = channels;
  s.depth = depth;
  s.dpi = dpi;
  return s;
}

// 16-bit samples as the library delivers them: little-endian.
std::vector<uint8_t> little_endian(std::initializer_list<uint16_t> samples) {
  std::vector<uint8_t> bytes;
  for (uint16_t v : samples) {
    bytes.push_back(static_cast<uint8_t>(v));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
  }
  return bytes;
}

TEST(ImageWriter, PngKeepsSizeDepthSamplesAndTheResolutionInPhys) {
  ScopedTempDir dir;
  const std::string path = dir.path() + "/a.png";
  write(ImageFormat::kPng, path, spec(3, 2, 3, 8, 300),
        {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {250, 251, 252, 253, 254, 255, 0, 10, 20}});
  ReadImage image = read_png(path);
  ASSERT_TRUE(image.ok) << image.error;
  EXPECT_EQ(image.width, 3u);
  EXPECT_EQ(image.height, 2u);
  EXPECT_EQ(image.channels, 3);
  EXPECT_EQ(image.depth, 8);
  // 300 dpi = 11811 pixels per metre (11811.02 rounded), read back as 299.9994 dpi.
  EXPECT_NEAR(image.x_dpi, 300, 0.01);
  EXPECT_NEAR(image.y_dpi, 300, 0.01);
  EXPECT_EQ(image.samples, (std::vector<uint16_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 250, 251, 252, 253,
                                                  254, 255, 0, 10, 20}));

  // 16-bit grey: the library's little-endian samples come out as the same values.
  write(ImageFormat::kPng, path, spec(2, 1, 1, 16, 1200), {little_endian({0x1234, 0xABCD})});
  image = read_png(path);
  ASSERT_TRUE(image.ok) << image.error;
  EXPECT_EQ(image.channels, 1);
  EXPECT_EQ(image.depth, 16);
  EXPECT_NEAR(image.x_dpi, 1200, 0.02);
  EXPECT_EQ(image.samples, (std::vector<uint16_t>{0x1234, 0xABCD}));
}

TEST(ImageWriter, TiffKeepsSizeDepthSamplesAndTheResolutionInInches) {
  ScopedTempDir dir;
  const std::string path = dir.path() + "/a.tiff";
  write(ImageFormat::kTiff, path, spec(2, 2, 3, 16, 600),
        {little_endian({1, 2, 3, 40000, 50000, 60000}), little_endian({65535, 0, 7, 8, 9, 10})});
  ReadImage image = read_tiff(path);
  ASSERT_TRUE(image.ok) << image.error;
  EXPECT_EQ(image.width, 2u);
  EXPECT_EQ(image.height, 2u);
  EXPECT_EQ(image.channels, 3);
  EXPECT_EQ(image.depth, 16);
  EXPECT_EQ(image.x_dpi, 600);
  EXPECT_EQ(image.y_dpi, 600);
  EXPECT_EQ(image.samples,
            (std::vector<uint16_t>{1, 2, 3, 40000, 50000, 60000, 65535, 0, 7, 8, 9, 10}));

  write(ImageFormat::kTiff, path, spec(3, 1, 1, 8, 75), {{9, 99, 199}});
  image = read_tiff(path);
  ASSERT_TRUE(image.ok) << image.error;
  EXPECT_EQ(image.channels, 1);
  EXPECT_EQ(image.depth, 8);
  EXPECT_EQ(image.x_dpi, 75);
  EXPECT_EQ(image.samples, (std::vector<uint16_t>{9, 99, 199}));
}

TEST(ImageWriter, JpegKeepsSizeAndTheDensityAndRefuses16Bits) {
  ScopedTempDir dir;
  const std::string path = dir.path() + "/a.jpg";
  // A flat grey field survives the lossy coding within a step or two.
  write(ImageFormat::kJpeg, path, spec(16, 8, 1, 8, 150),
        std::vector<std::vector<uint8_t>>(8, std::vector<uint8_t>(16, 200)));
  ReadImage image = read_jpeg(path);
  ASSERT_TRUE(image.ok) << image.error;
  EXPECT_EQ(image.width, 16u);
  EXPECT_EQ(image.height, 8u);
  EXPECT_EQ(image.channels, 1);
  EXPECT_EQ(image.x_dpi, 150);
  EXPECT_EQ(image.y_dpi, 150);
  for (uint16_t v : image.samples) EXPECT_NEAR(v, 200, 2);

  std::FILE* file = std::fopen(path.c_str(), "wb");
  auto writer = qrxscan::make_image_writer(ImageFormat::kJpeg, file);
  std::string error;
  EXPECT_FALSE(writer->begin(spec(2, 2, 3, 16, 300), error));
  EXPECT_NE(error.find("8 bits"), std::string::npos);
  std::fclose(file);
}

TEST(ImageWriter, PnmHeaderAndBigEndianSamples) {
  ScopedTempDir dir;
  const std::string path = dir.path() + "/a.pnm";
  write(ImageFormat::kPnm, path, spec(2, 1, 3, 16, 300),
        {little_endian({0x0102, 3, 4, 5, 6, 0xFFFE})});
  const std::string expected = std::string("P6\n2 1\n65535\n") +
                               std::string("\x01\x02\x00\x03\x00\x04\x00\x05\x00\x06\xFF\xFE", 12);
  const std::vector<uint8_t> bytes = file_bytes(path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected);
  write(ImageFormat::kPnm, path, spec(3, 1, 1, 8, 300), {{0, 128, 255}});
  const std::vector<uint8_t> grey = file_bytes(path);
  EXPECT_EQ(std::string(grey.begin(), grey.end()), std::string("P5\n3 1\n255\n\x00\x80\xFF", 14));
}

TEST(ImageWriter, AFullDiskIsReportedNotIgnored) {
  for (ImageFormat format : {ImageFormat::kPng, ImageFormat::kPnm, ImageFormat::kJpeg}) {
    std::FILE* file = std::fopen("/dev/full", "wb");
    ASSERT_NE(file, nullptr);
    auto writer = qrxscan::make_image_writer(format, file);
    std::string error;
    bool ok = writer->begin(spec(64, 64, 3, 8, 300), error);
    const std::vector<uint8_t> line(64 * 3, 77);
    for (int row = 0; ok && row < 64; ++row) ok = writer->write_line(line.data(), error);
    if (ok) ok = writer->finish(error);
    EXPECT_FALSE(ok) << qrxscan::format_name(format);
    EXPECT_FALSE(error.empty());
    writer.reset();
    std::fclose(file);
  }
}

}  // namespace
}  // namespace qrx::test
