// One scan as the data source runs it through the library: set up from the
// negotiated settings (which fixes the image's size before the application asks
// for it), started, read row by row as TWAIN samples, stopped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scanner_library.h"
#include "settings.h"

namespace qrx::twain {

// The image a scan delivers.
struct ImageShape {
  uint32_t width = 0, height = 0;  // pixels
  int samples = 3, depth = 8;      // samples per pixel, bits per sample
  uint16_t dpi = 300;
  uint32_t row_bytes() const { return (width * samples * depth + 7) / 8; }
  int bits_per_pixel() const { return samples * depth; }
};

class Scan {
 public:
  explicit Scan(ScannerLibrary& library) : library_(library) {}
  ~Scan() { stop(); }
  // Sets the scan up (light, window, mode); false with a reason and the library's
  // status. The frame is the settings' frame, clipped to the glass.
  bool prepare(const Settings& settings, std::string& error, uint16_t& status);
  const ImageShape& shape() const { return shape_; }
  // Starts the scan and waits while the scanner calibrates, calling `waiting`
  // with the seconds so far every poll; `waiting` returning false cancels.
  bool start(const std::function<bool(double)>& waiting, std::string& error, uint16_t& status);
  bool running() const { return running_; }
  uint32_t rows_read() const { return rows_read_; }
  // The next row as TWAIN lays it out: top-down, RGB order, samples packed
  // (16-bit little-endian; black and white 1 bit per pixel, most significant
  // first, 1 for white).
  bool read_row(uint8_t* out, std::string& error, uint16_t& status);
  // Stops the scan (at its end or part way); the scanner is free again.
  void stop();

 private:
  uint8_t tone8(double value) const;
  uint16_t tone16(double value) const;
  ScannerLibrary& library_;
  Settings settings_;
  ImageShape shape_;
  uint32_t line_bytes_ = 0;
  std::vector<uint8_t> line_;
  bool running_ = false;
  uint32_t rows_read_ = 0;
};

}  // namespace qrx::twain
