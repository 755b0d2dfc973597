// PNM decoding (P2, P3 text and P5, P6 binary, maxval up to 65535) and the file
// loader that picks PNG or PNM from the first bytes.
#include <fstream>
#include <iterator>

#include "emulator/image_file.h"

namespace qrx::emu {
namespace {

bool fail(std::string& error, const std::string& message) {
  error = "PNM: " + message;
  return false;
}

class Tokens {
 public:
  Tokens(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // Reads one unsigned decimal number, skipping white space and '#' comments.
  bool number(uint32_t& value) {
    skip_space();
    if (pos_ >= size_ || data_[pos_] < '0' || data_[pos_] > '9') return false;
    uint64_t v = 0;
    while (pos_ < size_ && data_[pos_] >= '0' && data_[pos_] <= '9') {
      v = v * 10 + (data_[pos_++] - '0');
      if (v > 0xFFFFFFFFull) return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
  }
  // After the header's maxval exactly one white-space byte precedes binary data.
  bool single_space() {
    if (pos_ >= size_ || !is_space(data_[pos_])) return false;
    ++pos_;
    return true;
  }
  size_t pos() const { return pos_; }

 private:
  static bool is_space(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
  void skip_space() {
    while (pos_ < size_) {
      if (is_space(data_[pos_])) {
        ++pos_;
      } else if (data_[pos_] == '#') {
        while (pos_ < size_ && data_[pos_] != '\n' && data_[pos_] != '\r') ++pos_;
      } else {
        break;
      }
    }
  }
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace

bool decode_pnm(const uint8_t* data, size_t size, Image& image, std::string& error) {
  if (data == nullptr || size < 2 || data[0] != 'P') return fail(error, "not a PNM file");
  const char kind = static_cast<char>(data[1]);
  if (kind != '2' && kind != '3' && kind != '5' && kind != '6')
    return fail(error, "only P2, P3, P5 and P6 are supported");
  const bool colour = kind == '3' || kind == '6';
  const bool binary = kind == '5' || kind == '6';
  Tokens tokens(data + 2, size - 2);
  uint32_t width = 0, height = 0, maxval = 0;
  if (!tokens.number(width) || !tokens.number(height) || !tokens.number(maxval))
    return fail(error, "bad header");
  if (width == 0 || height == 0) return fail(error, "bad image size");
  if (uint64_t{width} * height > kMaxImagePixels) return fail(error, "image too large");
  if (maxval == 0 || maxval > 65535) return fail(error, "maxval must be 1 to 65535");
  const int channels = colour ? 3 : 1;
  const uint64_t samples = uint64_t{width} * height * channels;
  std::vector<uint16_t> values(samples);
  if (binary) {
    if (!tokens.single_space()) return fail(error, "no separator before the pixel data");
    const size_t start = 2 + tokens.pos();
    const uint64_t bytes = samples * (maxval > 255 ? 2 : 1);
    if (size - start < bytes) return fail(error, "pixel data cut short");
    const uint8_t* p = data + start;
    for (uint64_t i = 0; i < samples; ++i) {
      values[i] = maxval > 255 ? static_cast<uint16_t>((p[2 * i] << 8) | p[2 * i + 1]) : p[i];
    }
  } else {
    for (uint64_t i = 0; i < samples; ++i) {
      uint32_t v = 0;
      if (!tokens.number(v)) return fail(error, "pixel data cut short or malformed");
      values[i] = static_cast<uint16_t>(v > 65535 ? 65535 : v);
    }
  }
  image.width = width;
  image.height = height;
  image.dpi = 0;
  image.rgb.assign(uint64_t{width} * height * 3, 0);
  for (uint64_t px = 0; px < uint64_t{width} * height; ++px) {
    for (int c = 0; c < 3; ++c) {
      uint32_t v = values[px * channels + (colour ? c : 0)];
      if (v > maxval) v = maxval;
      image.rgb[px * 3 + c] = static_cast<uint16_t>(uint64_t{v} * 65535 / maxval);
    }
  }
  return true;
}

bool load_image(const std::string& path, Image& image, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  file.seekg(0, std::ios::end);
  const std::streamoff length = file.tellg();
  if (length < 0 || length > (std::streamoff{1} << 30)) {
    error = "cannot read " + path + " (unreadable or larger than 1 GiB)";
    return false;
  }
  file.seekg(0, std::ios::beg);
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  if (length > 0 && !file.read(reinterpret_cast<char*>(bytes.data()), length)) {
    error = "cannot read " + path;
    return false;
  }
  bool ok = false;
  if (bytes.size() >= 4 && bytes[0] == 0x89 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G')
    ok = decode_png(bytes.data(), bytes.size(), image, error);
  else if (bytes.size() >= 2 && bytes[0] == 'P')
    ok = decode_pnm(bytes.data(), bytes.size(), image, error);
  else
    error = "neither a PNG nor a PNM file";
  if (!ok) error = path + ": " + error;
  return ok;
}

}  // namespace qrx::emu
