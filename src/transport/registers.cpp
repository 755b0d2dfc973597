// Register, line, memory and image access on top of the channel primitives.
#include "transport/registers.h"

#include <cstring>
#include <vector>

#include "platform/memory.h"

namespace qrx::transport {

bool read_register(DeviceLink& link, uint8_t number, uint8_t& value) {
  uint8_t answer[2] = {0, 0};
  const uint16_t index = static_cast<uint16_t>(number * 256 + 0x22);
  if (!link.control_read(request::kReadStatus, index, 2, answer)) return false;
  if (answer[1] != kRegisterValidMarker) return false;
  value = answer[0];
  return true;
}

bool write_register(DeviceLink& link, uint8_t number, uint8_t value) {
  const uint8_t data[2] = {number, value};
  return link.control_write(request::kWriteRegister, 0, 2, data);
}

namespace {

bool read_bytes_msb_first(DeviceLink& link, uint8_t first, int count, uint32_t& value) {
  uint32_t result = 0;
  for (int i = 0; i < count; ++i) {
    uint8_t byte = 0;
    if (!read_register(link, static_cast<uint8_t>(first + i), byte)) return false;
    result = (result << 8) | byte;
  }
  value = result;
  return true;
}

bool write_bytes_msb_first(DeviceLink& link, uint8_t first, int count, uint32_t value) {
  for (int i = 0; i < count; ++i) {
    const int shift = 8 * (count - 1 - i);
    if (!write_register(link, static_cast<uint8_t>(first + i),
                        static_cast<uint8_t>(value >> shift))) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool read_register16(DeviceLink& link, uint8_t first, uint16_t& value) {
  uint32_t wide = 0;
  if (!read_bytes_msb_first(link, first, 2, wide)) return false;
  value = static_cast<uint16_t>(wide);
  return true;
}

bool read_register24(DeviceLink& link, uint8_t first, uint32_t& value) {
  return read_bytes_msb_first(link, first, 3, value);
}

bool read_register32(DeviceLink& link, uint8_t first, uint32_t& value) {
  return read_bytes_msb_first(link, first, 4, value);
}

bool write_register16(DeviceLink& link, uint8_t first, uint16_t value) {
  return write_bytes_msb_first(link, first, 2, value);
}

bool write_register24(DeviceLink& link, uint8_t first, uint32_t value) {
  return write_bytes_msb_first(link, first, 3, value);
}

uint8_t merge_bit_field(uint8_t r, uint8_t high, uint8_t low, uint8_t value) {
  const unsigned keep = ((0xFEu << high) | ~(0xFFu << low)) & 0xFFu;
  return static_cast<uint8_t>((r & keep) | ((static_cast<unsigned>(value) << low) & ~keep & 0xFFu));
}

uint8_t extract_bit_field(uint8_t byte, uint8_t high, uint8_t low) {
  return static_cast<uint8_t>(((byte >> low) & ~(0xFEu << (high - low))) & 0xFFu);
}

bool write_bit_field(DeviceLink& link, uint8_t number, uint8_t high, uint8_t low, uint8_t value) {
  if (low > high || high > 7) return false;
  uint8_t current = 0;
  if (!read_register(link, number, current)) return false;
  return write_register(link, number, merge_bit_field(current, high, low, value));
}

bool line_register(uint8_t line, LineBit& where) {
  if (line >= 1 && line <= 8) {
    where = {0x6D, static_cast<uint8_t>(line - 1)};
  } else if (line >= 9 && line <= 16) {
    where = {0x6C, static_cast<uint8_t>(line - 9)};
  } else if (line >= 17 && line <= 24) {
    where = {0xA6, static_cast<uint8_t>(line - 17)};
  } else if (line >= 25 && line <= 27) {
    where = {0xA8, static_cast<uint8_t>(line - 25)};
  } else if (line >= 28 && line <= 33) {
    where = {0xA9, static_cast<uint8_t>(line - 28)};
  } else {
    return false;
  }
  return true;
}

bool set_line(DeviceLink& link, uint8_t line, uint8_t value) {
  LineBit where{};
  if (!line_register(line, where)) return false;
  return write_bit_field(link, where.number, where.bit, where.bit, static_cast<uint8_t>(value & 1));
}

bool read_line(DeviceLink& link, uint8_t line, uint8_t& value) {
  LineBit where{};
  if (!line_register(line, where)) return false;
  uint8_t current = 0;
  if (!read_register(link, where.number, current)) return false;
  value = (current >> where.bit) & 1;
  return true;
}

bool reset_pulse(DeviceLink& link, platform::Clock& clock) {
  if (!write_register(link, reg::kReset, 1)) return false;
  clock.sleep_ms(1);
  return write_register(link, reg::kReset, 0);
}

bool write_setting(DeviceLink& link, uint8_t setting, uint8_t value) {
  return link.control_write(request::kWriteSetting, setting, 1, &value);
}

bool write_memory(DeviceLink& link, uint32_t address, const uint8_t* data, uint32_t count) {
  return link.bulk_write(address, data, count);
}

bool read_memory(DeviceLink& link, uint32_t address, uint8_t* data, uint32_t count) {
  if (data == nullptr && count != 0) return false;
  if (address >= kWordReadFirst && address < kWordReadEnd) {
    for (uint32_t i = 0; i < count / 2; ++i) {
      uint8_t word_address[4];
      const uint32_t a = address + 2 * i;
      word_address[0] = static_cast<uint8_t>(a);
      word_address[1] = static_cast<uint8_t>(a >> 8);
      word_address[2] = static_cast<uint8_t>(a >> 16);
      word_address[3] = static_cast<uint8_t>(a >> 24);
      if (!link.control_write(request::kSelectMemoryWord, 6, 4, word_address)) return false;
      uint8_t answer[4] = {0, 0, 0, 0};
      if (!link.control_read(request::kReadMemoryWord, 5, 4, answer)) return false;
      data[2 * i] = answer[0];
      data[2 * i + 1] = answer[1];
    }
    return true;
  }
  std::vector<uint8_t> temporary;
  if (!platform::try_resize(temporary, count)) return false;
  if (!link.bulk_read(address, temporary.data(), count)) return false;
  if (count != 0) std::memcpy(data, temporary.data(), count);
  return true;
}

bool read_image_data(DeviceLink& link, uint8_t* data, uint32_t count) {
  return link.bulk_read(kImageDataAddress, data, count);
}

}  // namespace qrx::transport
