// zlib stream decompression: a bounds-checked inflate with a table-driven Huffman decoder.
#include "emulator/inflate.h"

#include <array>
#include <cstring>

namespace qrx::emu {
namespace {

constexpr int kMaxBits = 15;
constexpr int kFastBits = 9;

// Canonical Huffman code: a fast table for short codes, counts and sorted symbols
// for the rest.
struct Huffman {
  std::array<uint16_t, kMaxBits + 1> count{};
  std::array<uint16_t, 288> symbol{};
  std::array<uint16_t, 1 << kFastBits> fast{};  // (symbol << 4) | length, 0 = slow path

  // Builds the code from code lengths; false when the lengths over-subscribe the code.
  bool build(const uint8_t* lengths, int n) {
    count.fill(0);
    for (int i = 0; i < n; ++i) ++count[lengths[i]];
    count[0] = 0;
    int left = 1;
    for (int len = 1; len <= kMaxBits; ++len) {
      left <<= 1;
      left -= count[len];
      if (left < 0) return false;
    }
    std::array<uint16_t, kMaxBits + 2> offs{};
    for (int len = 1; len <= kMaxBits; ++len) offs[len + 1] = offs[len] + count[len];
    for (int i = 0; i < n; ++i)
      if (lengths[i] != 0) symbol[offs[lengths[i]]++] = static_cast<uint16_t>(i);
    // Fast table: walk the canonical codes of length <= kFastBits.
    fast.fill(0);
    int code = 0, index = 0;
    for (int len = 1; len <= kFastBits; ++len) {
      for (int k = 0; k < count[len]; ++k, ++index, ++code) {
        // Codes are stored MSB-first; the bit reader yields LSB-first, so reverse.
        int rev = 0;
        for (int b = 0; b < len; ++b) rev |= ((code >> b) & 1) << (len - 1 - b);
        for (int fill = rev; fill < (1 << kFastBits); fill += 1 << len)
          fast[fill] = static_cast<uint16_t>((symbol[index] << 4) | len);
      }
      code <<= 1;
    }
    return true;
  }
};

class Inflater {
 public:
  Inflater(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size)
      : in_(in), in_size_(in_size), out_(out), out_size_(out_size) {}

  bool run(std::string& error) {
    for (;;) {
      int last = 0, type = 0;
      if (!bits(1, last) || !bits(2, type)) return fail(error, "compressed data ends early");
      bool ok = false;
      if (type == 0) ok = stored(error);
      else if (type == 1) ok = fixed(error);
      else if (type == 2) ok = dynamic(error);
      else return fail(error, "invalid compressed block type");
      if (!ok) return false;
      if (last) break;
    }
    byte_pos_ = bit_pos_ == 0 ? byte_pos_ : byte_pos_ + 1;  // align for the checksum
    if (out_pos_ != out_size_) return fail(error, "image data is shorter than the image");
    return true;
  }
  size_t consumed() const { return byte_pos_; }

 private:
  static bool fail(std::string& error, const char* message) {
    error = message;
    return false;
  }

  bool bits(int n, int& value) {
    value = 0;
    for (int i = 0; i < n; ++i) {
      if (byte_pos_ >= in_size_) return false;
      value |= ((in_[byte_pos_] >> bit_pos_) & 1) << i;
      if (++bit_pos_ == 8) {
        bit_pos_ = 0;
        ++byte_pos_;
      }
    }
    return true;
  }

  // Peeks up to kFastBits bits (fewer near the end of input, padded with zeros).
  int peek_fast() const {
    int value = 0;
    size_t byte = byte_pos_;
    int bit = bit_pos_;
    for (int i = 0; i < kFastBits && byte < in_size_; ++i) {
      value |= ((in_[byte] >> bit) & 1) << i;
      if (++bit == 8) {
        bit = 0;
        ++byte;
      }
    }
    return value;
  }

  // Decodes one symbol; -1 on a bad code or the end of input.
  int decode(const Huffman& h) {
    const uint16_t entry = h.fast[peek_fast()];
    if (entry != 0) {
      const int len = entry & 15;
      const size_t avail_bits = (in_size_ - byte_pos_) * 8 - bit_pos_;
      if (static_cast<size_t>(len) > avail_bits) return -1;
      int skip = 0;
      bits(len, skip);
      return entry >> 4;
    }
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= kMaxBits; ++len) {
      int bit = 0;
      if (!bits(1, bit)) return -1;
      code |= bit;
      const int count = h.count[len];
      if (code - count < first) return h.symbol[index + (code - first)];
      index += count;
      first += count;
      first <<= 1;
      code <<= 1;
    }
    return -1;
  }

  bool stored(std::string& error) {
    if (bit_pos_ != 0) {
      bit_pos_ = 0;
      ++byte_pos_;
    }
    if (byte_pos_ > in_size_ || in_size_ - byte_pos_ < 4) return fail(error, "stored block header cut short");
    const unsigned len = in_[byte_pos_] | (in_[byte_pos_ + 1] << 8);
    const unsigned nlen = in_[byte_pos_ + 2] | (in_[byte_pos_ + 3] << 8);
    byte_pos_ += 4;
    if ((len ^ 0xFFFFu) != nlen) return fail(error, "stored block length check failed");
    if (in_size_ - byte_pos_ < len) return fail(error, "stored block cut short");
    if (out_size_ - out_pos_ < len) return fail(error, "image data is longer than the image");
    std::memcpy(out_ + out_pos_, in_ + byte_pos_, len);
    out_pos_ += len;
    byte_pos_ += len;
    return true;
  }

  bool codes(const Huffman& lit, const Huffman& dist, std::string& error) {
    static constexpr uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,
                                              15, 17, 19, 23, 27, 31, 35, 43,  51,  59,
                                              67, 83, 99, 115, 131, 163, 195, 227, 258};
    static constexpr uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static constexpr uint16_t kDistBase[30] = {
        1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    for (;;) {
      const int sym = decode(lit);
      if (sym < 0) return fail(error, "bad literal/length code");
      if (sym < 256) {
        if (out_pos_ >= out_size_) return fail(error, "image data is longer than the image");
        out_[out_pos_++] = static_cast<uint8_t>(sym);
        continue;
      }
      if (sym == 256) return true;
      const int li = sym - 257;
      if (li >= 29) return fail(error, "bad length code");
      int extra = 0;
      if (!bits(kLenExtra[li], extra)) return fail(error, "compressed data ends early");
      const size_t len = kLenBase[li] + extra;
      const int ds = decode(dist);
      if (ds < 0 || ds >= 30) return fail(error, "bad distance code");
      if (!bits(kDistExtra[ds], extra)) return fail(error, "compressed data ends early");
      const size_t d = kDistBase[ds] + extra;
      if (d > out_pos_) return fail(error, "distance reaches before the start of the data");
      if (out_size_ - out_pos_ < len) return fail(error, "image data is longer than the image");
      for (size_t i = 0; i < len; ++i, ++out_pos_) out_[out_pos_] = out_[out_pos_ - d];
    }
  }

  bool fixed(std::string& error) {
    uint8_t lengths[288 + 30];
    int i = 0;
    for (; i < 144; ++i) lengths[i] = 8;
    for (; i < 256; ++i) lengths[i] = 9;
    for (; i < 280; ++i) lengths[i] = 7;
    for (; i < 288; ++i) lengths[i] = 8;
    for (; i < 318; ++i) lengths[i] = 5;
    Huffman lit, dist;
    lit.build(lengths, 288);
    dist.build(lengths + 288, 30);
    return codes(lit, dist, error);
  }

  bool dynamic(std::string& error) {
    static constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
    int nlen = 0, ndist = 0, ncode = 0;
    if (!bits(5, nlen) || !bits(5, ndist) || !bits(4, ncode))
      return fail(error, "compressed data ends early");
    nlen += 257;
    ndist += 1;
    ncode += 4;
    if (nlen > 286 || ndist > 30) return fail(error, "bad code counts");
    uint8_t lengths[320] = {};
    for (int i = 0; i < ncode; ++i) {
      int v = 0;
      if (!bits(3, v)) return fail(error, "compressed data ends early");
      lengths[kOrder[i]] = static_cast<uint8_t>(v);
    }
    Huffman lencode;
    if (!lencode.build(lengths, 19)) return fail(error, "bad code-length code");
    int index = 0;
    std::memset(lengths, 0, sizeof(lengths));
    while (index < nlen + ndist) {
      int sym = decode(lencode);
      if (sym < 0) return fail(error, "bad code-length symbol");
      if (sym < 16) {
        lengths[index++] = static_cast<uint8_t>(sym);
        continue;
      }
      int repeat = 0, value = 0, extra = 0;
      if (sym == 16) {
        if (index == 0) return fail(error, "repeat without a previous length");
        value = lengths[index - 1];
        if (!bits(2, extra)) return fail(error, "compressed data ends early");
        repeat = 3 + extra;
      } else if (sym == 17) {
        if (!bits(3, extra)) return fail(error, "compressed data ends early");
        repeat = 3 + extra;
      } else {
        if (!bits(7, extra)) return fail(error, "compressed data ends early");
        repeat = 11 + extra;
      }
      if (index + repeat > nlen + ndist) return fail(error, "too many code lengths");
      while (repeat-- > 0) lengths[index++] = static_cast<uint8_t>(value);
    }
    if (lengths[256] == 0) return fail(error, "no end-of-block code");
    Huffman lit, dist;
    if (!lit.build(lengths, nlen)) return fail(error, "bad literal/length code lengths");
    if (!dist.build(lengths + nlen, ndist)) return fail(error, "bad distance code lengths");
    return codes(lit, dist, error);
  }

  const uint8_t* in_;
  size_t in_size_;
  size_t byte_pos_ = 0;
  int bit_pos_ = 0;
  uint8_t* out_;
  size_t out_size_;
  size_t out_pos_ = 0;
};

uint32_t adler32(const uint8_t* data, size_t size) {
  uint32_t a = 1, b = 0;
  while (size > 0) {
    const size_t chunk = size < 5552 ? size : 5552;
    for (size_t i = 0; i < chunk; ++i) {
      a += data[i];
      b += a;
    }
    a %= 65521;
    b %= 65521;
    data += chunk;
    size -= chunk;
  }
  return (b << 16) | a;
}

}  // namespace

bool zlib_decompress(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size,
                     std::string& error) {
  if (in == nullptr || in_size < 6) {
    error = "compressed data too short";
    return false;
  }
  const unsigned cmf = in[0], flg = in[1];
  if ((cmf & 0x0F) != 8 || (cmf >> 4) > 7 || ((cmf << 8) | flg) % 31 != 0 || (flg & 0x20) != 0) {
    error = "bad zlib header";
    return false;
  }
  Inflater inflater(in + 2, in_size - 2, out, out_size);
  if (!inflater.run(error)) return false;
  const size_t pos = 2 + inflater.consumed();
  if (in_size < pos + 4) {
    error = "zlib checksum missing";
    return false;
  }
  const uint32_t stored = (uint32_t{in[pos]} << 24) | (uint32_t{in[pos + 1]} << 16) |
                          (uint32_t{in[pos + 2]} << 8) | in[pos + 3];
  if (stored != adler32(out, out_size)) {
    error = "zlib checksum mismatch";
    return false;
  }
  return true;
}

}  // namespace qrx::emu
