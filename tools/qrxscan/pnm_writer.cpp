// PNM files: P5 (grey) or P6 (RGB), maxval 255 or 65535 with 16-bit samples
// big-endian. The format has no resolution field.
#include <vector>

#include "image_writer.h"

namespace qrx::qrxscan {
namespace {

class PnmWriter final : public ImageWriter {
 public:
  explicit PnmWriter(std::FILE* file) : file_(file) {}

  bool begin(const ImageSpec& spec, std::string& error) override {
    line_bytes_ = size_t{spec.width} * spec.channels * (spec.depth / 8);
    wide_ = spec.depth == 16;
    if (std::fprintf(file_, "P%c\n%u %u\n%u\n", spec.channels == 1 ? '5' : '6', spec.width,
                     spec.height, wide_ ? 65535u : 255u) < 0) {
      return fail(error);
    }
    swapped_.resize(wide_ ? line_bytes_ : 0);
    return true;
  }

  bool write_line(const uint8_t* line, std::string& error) override {
    const uint8_t* out = line;
    if (wide_) {
      for (size_t i = 0; i + 1 < line_bytes_; i += 2) {
        swapped_[i] = line[i + 1];
        swapped_[i + 1] = line[i];
      }
      out = swapped_.data();
    }
    if (std::fwrite(out, 1, line_bytes_, file_) != line_bytes_) return fail(error);
    return true;
  }

  bool finish(std::string& error) override {
    if (std::fflush(file_) != 0) return fail(error);
    return true;
  }

 private:
  static bool fail(std::string& error) {
    error = "PNM: cannot write the file";
    return false;
  }

  std::FILE* file_;
  size_t line_bytes_ = 0;
  bool wide_ = false;
  std::vector<uint8_t> swapped_;
};

}  // namespace

std::unique_ptr<ImageWriter> make_pnm_writer(std::FILE* file) {
  return std::make_unique<PnmWriter>(file);
}

}  // namespace qrx::qrxscan
