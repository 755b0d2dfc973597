// Reading image files back with the format libraries' own readers, for the tests
// of qrxscan's writers and of whole scans.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qrx::test {

struct ReadImage {
  bool ok = false;
  std::string error;
  uint32_t width = 0, height = 0;
  int channels = 0;
  int depth = 0;
  double x_dpi = 0, y_dpi = 0;    // 0 when the file states no resolution
  std::vector<uint16_t> samples;  // row by row, channels interleaved, as the file's values
                                  // (unpacked below 8 bits: one a sample)
};

ReadImage read_png(const std::string& path);
ReadImage read_tiff(const std::string& path);
ReadImage read_jpeg(const std::string& path);
// The bytes of a file.
std::vector<uint8_t> file_bytes(const std::string& path);

}  // namespace qrx::test
