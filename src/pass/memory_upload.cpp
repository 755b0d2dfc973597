// Shading and gamma uploads.
#include "pass/memory_upload.h"

#include "platform/memory.h"
#include "qrx7730.h"
#include "transport/registers.h"

namespace qrx::pass {
namespace {

constexpr uint32_t kBlockWords = 256;
constexpr uint32_t kBlockDataWords = 252;
constexpr uint8_t kPackedShading = 2;  // register 0x06 bits 7..5: no gaps in the stream

std::vector<uint8_t> little_endian_bytes(const std::vector<uint16_t>& words) {
  std::vector<uint8_t> bytes;
  if (!platform::try_resize(bytes, words.size() * 2)) return bytes;
  for (size_t i = 0; i < words.size(); ++i) {
    bytes[2 * i] = static_cast<uint8_t>(words[i]);
    bytes[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
  }
  return bytes;
}

bool upload_channel(transport::ScannerContext& context, const ScanSetup& read, int channel) {
  const std::vector<uint16_t>& offsets = context.shading_offset[channel];
  const std::vector<uint16_t>& gains = context.shading_gain[channel];
  if (offsets.empty() || gains.empty()) return false;
  uint8_t power_state = 0;
  if (!transport::read_register(context.link, transport::reg::kPowerState, power_state)) {
    return false;
  }
  const bool packed = transport::extract_bit_field(power_state, 7, 5) == kPackedShading;
  const uint32_t pixels = read.window_width * read.x_resolution / 2400;
  const uint32_t first = read.window_x * read.x_resolution / 2400;
  const std::vector<uint16_t> stream = shading_stream(offsets, gains, first, pixels, packed);
  if (stream.empty() && pixels != 0) return false;
  const std::vector<uint8_t> bytes = little_endian_bytes(stream);
  if (bytes.size() != stream.size() * 2) return false;
  return transport::write_memory(context.link, context.memory_map.shading[channel], bytes.data(),
                                 static_cast<uint32_t>(bytes.size()));
}

}  // namespace

std::vector<uint16_t> shading_stream(const std::vector<uint16_t>& offsets,
                                     const std::vector<uint16_t>& gains, uint32_t first_pixel,
                                     uint32_t pixels, bool packed) {
  std::vector<uint16_t> stream;
  const uint64_t end = static_cast<uint64_t>(first_pixel) + pixels;
  if (end > offsets.size() || end > gains.size()) return stream;  // never read past the arrays
  const size_t words = 2 * static_cast<size_t>(pixels);
  if (!platform::try_resize(stream, words + (packed ? 0 : words / kBlockDataWords * 4 + 4))) {
    stream.clear();
    return stream;
  }
  size_t at = 0;
  for (uint32_t i = 0; i < pixels; ++i) {
    stream[at++] = offsets[first_pixel + i];
    stream[at++] = gains[first_pixel + i];
    if (!packed && at % kBlockWords == kBlockDataWords) {
      for (int gap = 0; gap < 4; ++gap) stream[at++] = 0;
    }
  }
  stream.resize(at);
  return stream;
}

uint16_t upload_shading(transport::ScannerContext& context, const ScanSetup& read) {
  switch (read.channels) {
    case 1:
      return upload_channel(context, read, 1) ? QRX_OK : QRX_E_SHADING_UPLOAD_1;
    case 3:
      for (int c = 0; c < 3; ++c) {
        if (!upload_channel(context, read, c))
          return static_cast<uint16_t>(QRX_E_SHADING_UPLOAD_R + c);
      }
      return QRX_OK;
    case 4:
      for (int c = 0; c < 4; ++c) {
        // The memory map gives the infrared channel no shading area of its own: the
        // controller passes that block uncorrected, and there is nothing to load.
        if (c == 3 && context.memory_map.shading[3] == 0) break;
        if (!upload_channel(context, read, c))
          return static_cast<uint16_t>(QRX_E_SHADING_UPLOAD_4R + c);
      }
      return QRX_OK;
    default:
      return QRX_OK;
  }
}

bool upload_gamma(transport::ScannerContext& context, int channel) {
  const std::vector<uint16_t>& curve = context.gamma_table[channel];
  if (curve.size() != transport::kGammaEntries) return false;
  const bool decreasing = curve[0] > curve[65535];
  for (size_t i = 0; i + 1 < curve.size(); ++i) {
    if (decreasing ? curve[i + 1] > curve[i] : curve[i + 1] < curve[i]) return false;
  }
  const uint8_t flag_a = decreasing ? curve[65535] != 0 : curve[0] != 0;
  const uint8_t flag_b = decreasing ? curve[0] != 65280 : curve[65535] < 65280;
  std::vector<uint16_t> points(256);
  for (size_t i = 0; i < points.size(); ++i) points[i] = curve[i * 256];

  transport::DeviceLink& link = context.link;
  const uint8_t bit = static_cast<uint8_t>(channel);
  if (!transport::write_bit_field(link, 0xBD, bit, bit, flag_a) ||
      !transport::write_bit_field(link, 0xBE, bit, bit, flag_b) ||
      !transport::write_register16(link, static_cast<uint8_t>(0xC5 + 2 * channel), curve[0])) {
    return false;
  }
  const std::vector<uint8_t> bytes = little_endian_bytes(points);
  return bytes.size() == 512 &&
         transport::write_memory(link, context.gamma_memory[1 + channel], bytes.data(), 512);
}

}  // namespace qrx::pass
