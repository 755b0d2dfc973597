// PNG decoding for documents on the glass: non-interlaced grey, grey+alpha, RGB, RGBA
// (8 or 16 bits) and palette or low-depth grey (1, 2, 4, 8 bits), alpha composed over
// white. Every chunk is length- and CRC-checked before use.
#include <array>
#include <cstring>

#include "emulator/image_file.h"
#include "emulator/inflate.h"

namespace qrx::emu {
namespace {

uint32_t be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

const std::array<uint32_t, 256>& crc_table() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  return table;
}

uint32_t crc32(const uint8_t* data, size_t size) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) c = crc_table()[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

bool fail(std::string& error, const std::string& message) {
  error = "PNG: " + message;
  return false;
}

uint8_t paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = p > a ? p - a : a - p;
  const int pb = p > b ? p - b : b - p;
  const int pc = p > c ? p - c : c - p;
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  return static_cast<uint8_t>(pb <= pc ? b : c);
}

// Reverses the per-row filters in place; raw holds height rows of 1 + row_bytes.
bool unfilter(std::vector<uint8_t>& raw, size_t height, size_t row_bytes, size_t bpp,
              std::string& error) {
  const size_t stride = row_bytes + 1;
  for (size_t y = 0; y < height; ++y) {
    uint8_t* row = raw.data() + y * stride + 1;
    const uint8_t* prev = y > 0 ? raw.data() + (y - 1) * stride + 1 : nullptr;
    const uint8_t filter = row[-1];
    for (size_t i = 0; i < row_bytes; ++i) {
      const int a = i >= bpp ? row[i - bpp] : 0;
      const int b = prev != nullptr ? prev[i] : 0;
      const int c = (prev != nullptr && i >= bpp) ? prev[i - bpp] : 0;
      switch (filter) {
        case 0: break;
        case 1: row[i] = static_cast<uint8_t>(row[i] + a); break;
        case 2: row[i] = static_cast<uint8_t>(row[i] + b); break;
        case 3: row[i] = static_cast<uint8_t>(row[i] + ((a + b) >> 1)); break;
        case 4: row[i] = static_cast<uint8_t>(row[i] + paeth(a, b, c)); break;
        default: return fail(error, "unknown row filter " + std::to_string(filter));
      }
    }
  }
  return true;
}

struct Header {
  uint32_t width = 0, height = 0;
  int depth = 0, color = 0, channels = 0;
};

bool check_header(const uint8_t* d, Header& h, std::string& error) {
  h.width = be32(d);
  h.height = be32(d + 4);
  h.depth = d[8];
  h.color = d[9];
  if (h.width == 0 || h.height == 0 || h.width > 0x7FFFFFFF || h.height > 0x7FFFFFFF)
    return fail(error, "bad image size");
  if (uint64_t{h.width} * h.height > kMaxImagePixels) return fail(error, "image too large");
  if (d[10] != 0 || d[11] != 0) return fail(error, "unknown compression or filter method");
  if (d[12] != 0) return fail(error, "interlaced images are not supported");
  const int depth = h.depth;
  switch (h.color) {
    case 0:
      h.channels = 1;
      if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16)
        return fail(error, "unsupported grey bit depth");
      break;
    case 3:
      h.channels = 1;
      if (depth != 1 && depth != 2 && depth != 4 && depth != 8)
        return fail(error, "unsupported palette bit depth");
      break;
    case 2: h.channels = 3; break;
    case 4: h.channels = 2; break;
    case 6: h.channels = 4; break;
    default: return fail(error, "unsupported colour type " + std::to_string(h.color));
  }
  if (h.color != 0 && h.color != 3 && depth != 8 && depth != 16)
    return fail(error, "unsupported bit depth " + std::to_string(depth));
  return true;
}

uint16_t over_white(uint32_t value, uint32_t alpha) {
  return static_cast<uint16_t>((value * alpha + 65535u * (65535u - alpha)) / 65535u);
}

}  // namespace

bool decode_png(const uint8_t* data, size_t size, Image& image, std::string& error) {
  static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (data == nullptr || size < 8 || std::memcmp(data, kSignature, 8) != 0)
    return fail(error, "not a PNG file");
  Header h;
  bool have_header = false, have_end = false;
  std::vector<uint8_t> idat;
  std::array<uint16_t, 256 * 4> palette{};  // r, g, b, a as 16-bit
  size_t palette_size = 0;
  double dpi = 0;
  size_t pos = 8;
  while (!have_end) {
    if (size - pos < 12) return fail(error, "file ends inside a chunk");
    const uint32_t length = be32(data + pos);
    if (length > size - pos - 12) return fail(error, "chunk longer than the file");
    const uint8_t* type = data + pos + 4;
    const uint8_t* body = data + pos + 8;
    if (crc32(type, length + 4) != be32(body + length)) return fail(error, "chunk CRC mismatch");
    const std::string name(reinterpret_cast<const char*>(type), 4);
    if (!have_header && name != "IHDR") return fail(error, "IHDR is not the first chunk");
    if (name == "IHDR") {
      if (have_header || length != 13) return fail(error, "bad IHDR chunk");
      if (!check_header(body, h, error)) return false;
      have_header = true;
    } else if (name == "PLTE") {
      if (length % 3 != 0 || length / 3 > 256 || length == 0) return fail(error, "bad palette");
      palette_size = length / 3;
      for (size_t i = 0; i < palette_size; ++i) {
        for (int c = 0; c < 3; ++c) palette[i * 4 + c] = static_cast<uint16_t>(body[i * 3 + c] * 257);
        palette[i * 4 + 3] = 65535;
      }
    } else if (name == "tRNS") {
      if (h.color == 3) {
        if (length > palette_size) return fail(error, "transparency longer than the palette");
        for (size_t i = 0; i < length; ++i) palette[i * 4 + 3] = static_cast<uint16_t>(body[i] * 257);
      }
    } else if (name == "pHYs") {
      if (length != 9) return fail(error, "bad pHYs chunk");
      if (body[8] == 1) dpi = be32(body) * 0.0254;
    } else if (name == "IDAT") {
      if (idat.size() + length > (size_t{1} << 31)) return fail(error, "too much image data");
      idat.insert(idat.end(), body, body + length);
    } else if (name == "IEND") {
      have_end = true;
    } else if ((type[0] & 0x20) == 0) {
      return fail(error, "unknown critical chunk " + name);
    }
    pos += size_t{length} + 12;
  }
  if (h.color == 3 && palette_size == 0) return fail(error, "palette image without a palette");
  const uint64_t bits_per_pixel = uint64_t(h.channels) * h.depth;
  const uint64_t row_bytes = (uint64_t{h.width} * bits_per_pixel + 7) / 8;
  const uint64_t raw_size = (row_bytes + 1) * h.height;
  std::vector<uint8_t> raw(raw_size);
  if (!zlib_decompress(idat.data(), idat.size(), raw.data(), raw.size(), error))
    return fail(error, error);
  const size_t bpp = bits_per_pixel >= 8 ? bits_per_pixel / 8 : 1;
  if (!unfilter(raw, h.height, row_bytes, bpp, error)) return false;

  image.width = h.width;
  image.height = h.height;
  image.dpi = dpi;
  image.rgb.assign(size_t{h.width} * h.height * 3, 0);
  const int depth = h.depth;
  const uint32_t max_low = (1u << (depth < 8 ? depth : 8)) - 1;
  for (uint32_t y = 0; y < h.height; ++y) {
    const uint8_t* row = raw.data() + y * (row_bytes + 1) + 1;
    uint16_t* out = image.rgb.data() + size_t{y} * h.width * 3;
    for (uint32_t x = 0; x < h.width; ++x) {
      uint32_t s[4] = {0, 0, 0, 65535};
      if (depth < 8) {
        const uint64_t bit = uint64_t{x} * depth;
        const uint32_t v = (row[bit / 8] >> (8 - depth - bit % 8)) & max_low;
        s[0] = v;
      } else {
        for (int c = 0; c < h.channels; ++c) {
          s[c] = depth == 16 ? (uint32_t{row[(size_t{x} * h.channels + c) * 2]} << 8) |
                                   row[(size_t{x} * h.channels + c) * 2 + 1]
                             : uint32_t{row[size_t{x} * h.channels + c]} * 257;
        }
      }
      uint32_t r = 0, g = 0, b = 0, a = 65535;
      if (h.color == 3) {
        if (s[0] >= palette_size) return fail(error, "palette index out of range");
        r = palette[s[0] * 4];
        g = palette[s[0] * 4 + 1];
        b = palette[s[0] * 4 + 2];
        a = palette[s[0] * 4 + 3];
      } else if (h.color == 0 || h.color == 4) {
        const uint32_t grey = depth < 8 ? s[0] * 65535 / max_low : s[0];
        r = g = b = grey;
        if (h.color == 4) a = s[1];
      } else {
        r = s[0];
        g = s[1];
        b = s[2];
        if (h.color == 6) a = s[3];
      }
      out[size_t{x} * 3] = over_white(r, a);
      out[size_t{x} * 3 + 1] = over_white(g, a);
      out[size_t{x} * 3 + 2] = over_white(b, a);
    }
  }
  return true;
}

}  // namespace qrx::emu
