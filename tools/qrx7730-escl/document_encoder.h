// Encodes scan lines into the document a client asked for as they arrive, and
// hands the encoded bytes on at once: JPEG (libjpeg-turbo) and PNG (libpng)
// through the image writers qrxscan uses, PDF as one page holding the JPEG
// image. Nothing holds a whole page: each writer keeps a few lines at most.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image_writer.h"
#include "scan_settings.h"

namespace qrx::escl {

class DocumentEncoder {
 public:
  // Takes encoded bytes; false ends the document (the reader is gone).
  using Sink = std::function<bool(const uint8_t* data, size_t size)>;

  DocumentEncoder(DocumentFormat format, Sink sink);
  ~DocumentEncoder();
  DocumentEncoder(const DocumentEncoder&) = delete;
  DocumentEncoder& operator=(const DocumentEncoder&) = delete;

  // width x height pixels of spec.channels samples of spec.depth bits. JPEG and
  // PDF hold 8 bits a sample: 16-bit lines are written with their high bytes.
  bool begin(const qrxscan::ImageSpec& spec, std::string& error);
  // One line as the library delivers it (16-bit samples little-endian).
  bool write_line(const uint8_t* line, std::string& error);
  bool finish(std::string& error);

  uint64_t bytes_out() const { return bytes_; }

 private:
  static ssize_t cookie_write(void* self, const char* data, size_t size);
  bool emit(const std::string& text);

  DocumentFormat format_;
  Sink sink_;
  std::FILE* file_ = nullptr;  // what the image writer writes into
  std::unique_ptr<qrxscan::ImageWriter> writer_;
  qrxscan::ImageSpec spec_;
  bool narrow_ = false;          // 16-bit lines into an 8-bit format
  std::vector<uint8_t> narrow_line_;
  uint64_t bytes_ = 0;
  bool sink_failed_ = false;
  // PDF: where each object starts and where the image stream's bytes begin.
  uint64_t offsets_[8] = {};
  uint64_t stream_start_ = 0;
};

}  // namespace qrx::escl
