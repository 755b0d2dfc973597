// The document encoder (see document_encoder.h).
//
// The PDF is written front to back without seeking: the catalog, the page and
// the image's dictionary first, the image stream (the JPEG file itself, which
// PDF readers decode with DCTDecode) as it is encoded, and the stream's length,
// which is known only at its end, as an indirect object after it; then the
// cross-reference table of the byte offsets counted on the way.
#include "document_encoder.h"

#include <cinttypes>
#include <cstdarg>
#include <cstring>

namespace qrx::escl {
namespace {

// PDF objects: 1 catalog, 2 pages, 3 page, 4 image, 5 contents, 6 image length.
constexpr int kObjects = 6;

std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string format_text(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

}  // namespace

DocumentEncoder::DocumentEncoder(DocumentFormat format, Sink sink)
    : format_(format), sink_(std::move(sink)) {}

DocumentEncoder::~DocumentEncoder() {
  writer_.reset();
  if (file_ != nullptr) std::fclose(file_);
}

ssize_t DocumentEncoder::cookie_write(void* self, const char* data, size_t size) {
  auto* encoder = static_cast<DocumentEncoder*>(self);
  if (encoder->sink_failed_ || !encoder->sink_(reinterpret_cast<const uint8_t*>(data), size)) {
    encoder->sink_failed_ = true;
    return -1;
  }
  encoder->bytes_ += size;
  return static_cast<ssize_t>(size);
}

bool DocumentEncoder::emit(const std::string& text) {
  if (sink_failed_) return false;
  if (!sink_(reinterpret_cast<const uint8_t*>(text.data()), text.size())) {
    sink_failed_ = true;
    return false;
  }
  bytes_ += text.size();
  return true;
}

bool DocumentEncoder::begin(const qrxscan::ImageSpec& asked, std::string& error) {
  qrxscan::ImageSpec spec = asked;
  narrow_ = spec.depth == 16 && format_ != DocumentFormat::kPng;
  if (narrow_) {
    spec.depth = 8;
    narrow_line_.resize(size_t{spec.width} * spec.channels);
  }
  spec_ = spec;
  cookie_io_functions_t functions{};
  functions.write = &DocumentEncoder::cookie_write;
  file_ = fopencookie(this, "w", functions);
  if (file_ == nullptr) {
    error = "no stream for the encoder";
    return false;
  }
  const qrxscan::ImageFormat image =
      format_ == DocumentFormat::kPng ? qrxscan::ImageFormat::kPng : qrxscan::ImageFormat::kJpeg;
  writer_ = qrxscan::make_image_writer(image, file_);
  if (writer_ == nullptr) {
    error = "this build cannot write the format";
    return false;
  }
  if (format_ == DocumentFormat::kPdf) {
    // The page is the scanned area at its size: points are 1/72 inch.
    const double width_pt = spec.width * 72.0 / spec.dpi;
    const double height_pt = spec.height * 72.0 / spec.dpi;
    bool ok = emit("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    offsets_[1] = bytes_;
    ok = ok && emit("1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
    offsets_[2] = bytes_;
    ok = ok && emit("2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n");
    offsets_[3] = bytes_;
    ok = ok && emit(format_text("3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %.3f %.3f] "
                                "/Resources << /XObject << /Im0 4 0 R >> >> /Contents 5 0 R >>"
                                "\nendobj\n",
                                width_pt, height_pt));
    offsets_[4] = bytes_;
    ok = ok && emit(format_text("4 0 obj\n<< /Type /XObject /Subtype /Image /Width %u /Height %u "
                                "/ColorSpace /%s /BitsPerComponent 8 /Filter /DCTDecode "
                                "/Length 6 0 R >>\nstream\n",
                                spec.width, spec.height,
                                spec.channels == 1 ? "DeviceGray" : "DeviceRGB"));
    stream_start_ = bytes_;
    if (!ok) {
      error = "the client stopped reading";
      return false;
    }
  }
  if (!writer_->begin(spec, error)) return false;
  return true;
}

bool DocumentEncoder::write_line(const uint8_t* line, std::string& error) {
  if (narrow_) {
    // Little-endian samples: the high byte is the second.
    for (size_t i = 0; i < narrow_line_.size(); ++i) narrow_line_[i] = line[2 * i + 1];
    line = narrow_line_.data();
  }
  if (!writer_->write_line(line, error)) return false;
  if (sink_failed_) {
    error = "the client stopped reading";
    return false;
  }
  return true;
}

bool DocumentEncoder::finish(std::string& error) {
  if (!writer_->finish(error)) return false;
  if (std::fflush(file_) != 0 || sink_failed_) {
    error = "the client stopped reading";
    return false;
  }
  if (format_ != DocumentFormat::kPdf) return true;
  const uint64_t stream_length = bytes_ - stream_start_;
  const std::string contents =
      format_text("q %.3f 0 0 %.3f 0 0 cm /Im0 Do Q\n", spec_.width * 72.0 / spec_.dpi,
                  spec_.height * 72.0 / spec_.dpi);
  bool ok = emit("\nendstream\nendobj\n");
  offsets_[5] = bytes_;
  ok = ok && emit(format_text("5 0 obj\n<< /Length %zu >>\nstream\n", contents.size()) + contents +
                  "endstream\nendobj\n");
  offsets_[6] = bytes_;
  ok = ok && emit(format_text("6 0 obj\n%" PRIu64 "\nendobj\n", stream_length));
  const uint64_t xref = bytes_;
  std::string table = format_text("xref\n0 %d\n0000000000 65535 f \n", kObjects + 1);
  for (int object = 1; object <= kObjects; ++object) {
    table += format_text("%010" PRIu64 " 00000 n \n", offsets_[object]);
  }
  table += format_text("trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%" PRIu64 "\n%%%%EOF\n",
                       kObjects + 1, xref);
  ok = ok && emit(table);
  if (!ok) error = "the client stopped reading";
  return ok;
}

}  // namespace qrx::escl
