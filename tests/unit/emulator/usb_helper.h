// Test helper: formats the requests the driver library sends (register read and write,
// bulk header and bulk transfers in 61440-byte pieces with the five-empty-reads rule,
// word-wise memory reads) and programs a pass by hand.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "emulator/scanner.h"

namespace qrx::emu::test {

class Usb {
 public:
  explicit Usb(UsbPort& port) : port_(port) {}

  std::optional<uint8_t> read(uint8_t reg) {
    uint8_t answer[2] = {0, 0};
    if (!port_.control_in(0x8E, static_cast<uint16_t>(reg * 256 + 0x22), answer, 2)) return std::nullopt;
    if (answer[1] != 0x55) return std::nullopt;
    return answer[0];
  }
  uint8_t must_read(uint8_t reg) { return read(reg).value_or(0xEE); }
  bool write(uint8_t reg, uint8_t value) {
    const uint8_t data[2] = {reg, value};
    return port_.control_out(0x83, 0, data, 2);
  }
  bool write16(uint8_t reg, uint32_t v) { return write(reg, uint8_t(v >> 8)) && write(reg + 1, uint8_t(v)); }
  bool write24(uint8_t reg, uint32_t v) {
    return write(reg, uint8_t(v >> 16)) && write(reg + 1, uint8_t(v >> 8)) && write(reg + 2, uint8_t(v));
  }
  bool set_bits(uint8_t reg, int high, int low, uint8_t value) {
    auto r = read(reg);
    if (!r) return false;
    const uint8_t keep = static_cast<uint8_t>(((0xFE << high) | ~(0xFF << low)) & 0xFF);
    return write(reg, static_cast<uint8_t>((*r & keep) | ((value << low) & ~keep & 0xFF)));
  }
  uint32_t read_be(uint8_t reg, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | must_read(static_cast<uint8_t>(reg + i));
    return v;
  }
  bool header(uint32_t address, uint32_t count, bool to_device) {
    const uint8_t h[8] = {uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16),
                          uint8_t(address >> 24), uint8_t(count), uint8_t(count >> 8),
                          uint8_t(count >> 16), uint8_t(count >> 24)};
    return port_.control_out(0x82, to_device ? 1 : 0, h, 8);
  }
  bool write_memory(uint32_t address, const std::vector<uint8_t>& data) {
    if (!header(address, static_cast<uint32_t>(data.size()), true)) return false;
    return transfer(const_cast<uint8_t*>(data.data()), static_cast<uint32_t>(data.size()), false);
  }
  // Bulk read of count bytes at address (0x10000000: image data while a pass has some).
  bool read_bulk(uint32_t address, uint32_t count, std::vector<uint8_t>& out) {
    out.assign(count, 0);
    if (!header(address, count, false)) return false;
    return transfer(out.data(), count, true);
  }
  std::optional<uint16_t> read_word(uint32_t address) {
    const uint8_t a[4] = {uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16), uint8_t(address >> 24)};
    if (!port_.control_out(0x8B, 6, a, 4)) return std::nullopt;
    uint8_t w[4] = {};
    if (!port_.control_in(0x8A, 5, w, 4)) return std::nullopt;
    return static_cast<uint16_t>(w[0] | (w[1] << 8));
  }
  // Buffered image bytes as the image reader computes them (counter times 4).
  uint32_t buffered() { return read_be(0x42, 4) * 4; }

  // The start sequence: reset the count, wait for it, enable, strobe.
  bool start() {
    if (!set_bits(0x0D, 0, 0, 1)) return false;
    if (read_be(0x4B, 3) != 0) return false;
    return set_bits(0x01, 0, 0, 1) && write(0x0F, 0xFF);
  }

 private:
  bool transfer(uint8_t* data, uint32_t count, bool in) {
    int tries = 5;
    while (count > 0) {
      const uint32_t piece = count < 61440 ? count : 61440;
      uint32_t moved = 0;
      const bool ok = in ? port_.bulk_in(data, piece, moved) : port_.bulk_out(data, piece, moved);
      if (!ok) return false;
      if (moved == 0) {
        if (--tries == 0) return false;
        continue;
      }
      tries = 5;
      data += moved;
      count -= moved;
    }
    return true;
  }
  UsbPort& port_;
};

// A pass programmed by hand, the way the driver's register programme lays it out.
struct PassSetup {
  uint32_t resolution = 300;    // across and along
  uint32_t x = 0;               // read window, 2400 dpi units
  uint32_t width = 2400;
  int depth = 48;               // 8 (grey), 16 (grey), 24, 48
  uint32_t lines = 4;
  uint32_t feed_steps = 10;     // full steps
  uint32_t accel_steps = 16;    // full steps in slot 0 (multiple of 8 at step mode 0)
  uint32_t decel_steps = 8;
  bool motor = true;
  bool toward_home = false;
  bool leds = true;
  uint32_t exposure = 8000;
  uint32_t line_period = 20000;
  bool shading = false;
  int step_mode = 0;            // 2^mode micro-steps per full step
};

inline bool program_pass(Usb& usb, Scanner& scanner, const PassSetup& s) {
  const int channels = (s.depth == 8 || s.depth == 16) ? 1 : 3;
  // Constant slope tables whose speed moves 1200 / resolution full steps per line.
  const uint32_t micro_per_line = (1200u << s.step_mode) / s.resolution;
  const uint32_t step_ticks = s.line_period * channels / micro_per_line;
  std::vector<uint8_t> slope(2 * 256);
  for (int i = 0; i < 256; ++i) {
    slope[2 * i] = uint8_t(step_ticks);
    slope[2 * i + 1] = uint8_t(step_ticks >> 8);
  }
  if (!usb.write_memory(0x10000000, slope) || !usb.write_memory(0x10008000, slope)) return false;
  const uint32_t sensor = s.resolution <= 600 ? 600 : s.resolution <= 1200 ? 1200 : 2400;
  const uint8_t code = sensor == 600 ? 0 : sensor == 1200 ? 1 : 2;
  const uint32_t skip = 2400 / s.resolution;
  const uint32_t start = (s.x / skip) * skip * sensor / 2400 + 320;
  const uint32_t pixels = s.resolution * s.width / 2400;
  const uint32_t end = start + pixels * sensor / s.resolution;
  const uint32_t micro = 1u << s.step_mode;
  bool ok = usb.write(0x60, uint8_t(s.step_mode << 5)) && usb.write(0x1C, 0) && usb.write(0x1E, 0) &&
            usb.write(0x21, uint8_t(s.accel_steps * micro / 8)) &&
            usb.write(0x69, uint8_t(s.decel_steps * micro / 8)) &&
            usb.write24(0x3D, s.feed_steps << s.step_mode) && usb.write24(0x25, s.lines * channels + 6) &&
            usb.write16(0x38, s.line_period) &&
            usb.write(0x02, uint8_t((s.motor ? 0x10 : 0) | (s.toward_home ? 0x04 : 0))) &&
            usb.write16(0x2C, s.resolution) && usb.write(0x05, uint8_t(code << 6)) &&
            usb.write16(0x30, start) && usb.write16(0x32, end) &&
            usb.write(0x04, uint8_t((s.depth == 16 || s.depth == 48) ? 0x40 : s.depth == 8 ? 0x08 : 0)) &&
            usb.write(0x03, s.leds ? 0x10 : 0x00) && usb.write16(0x10, s.exposure) &&
            usb.write16(0x12, s.exposure) && usb.write16(0x14, s.exposure) &&
            usb.write(0x01, s.shading ? 0x20 : 0x00);
  (void)scanner;
  return ok;
}

}  // namespace qrx::emu::test
