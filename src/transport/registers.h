// The controller's register vocabulary: single and multi-byte registers, bit
// fields, the numbered input/output lines, the reset pulse, settings, and
// controller memory and image transfers. Every operation reports success only;
// the caller picks the status code. Nothing is cached: every read goes to the
// device and every write is sent at once.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "transport/device_link.h"

namespace qrx::transport {

// Marker the controller puts in the second byte of a valid register answer.
inline constexpr uint8_t kRegisterValidMarker = 0x55;

// Start and end (exclusive) of the memory range that is read word by word.
inline constexpr uint32_t kWordReadFirst = 0x01000000;
inline constexpr uint32_t kWordReadEnd = 0x04000000;

// Registers with a meaning used across the engine.
namespace reg {
inline constexpr uint8_t kScanControl = 0x01;   // bit 0 scan enable, bit 5 shading on
inline constexpr uint8_t kLamp = 0x03;          // bits 5..4 light select, bit 7 change strobe
inline constexpr uint8_t kPowerState = 0x06;    // bit 4: controller already set up
inline constexpr uint8_t kCountReset = 0x0D;    // bit 0 reset data count, bit 2 before homing
inline constexpr uint8_t kReset = 0x0E;         // reset pulse
inline constexpr uint8_t kStartStrobe = 0x0F;   // 0xFF starts a pass
inline constexpr uint8_t kShortestExposure = 0x19;
inline constexpr uint8_t kStatus = 0x41;        // bit 0 motor, 1 AFE busy, 2 light, 3 home
inline constexpr uint8_t kBufferedData = 0x42;  // 32 bits, 0x42..0x45
inline constexpr uint8_t kDataCount = 0x4B;     // 24 bits, 0x4B..0x4D
inline constexpr uint8_t kButtons = 0x6D;
}  // namespace reg

// Bits of the status register.
namespace status_bit {
inline constexpr uint8_t kMotorRunning = 0x01;
inline constexpr uint8_t kAfeBusy = 0x02;
inline constexpr uint8_t kLightOn = 0x04;
inline constexpr uint8_t kAtHome = 0x08;
}  // namespace status_bit

bool read_register(DeviceLink& link, uint8_t number, uint8_t& value);
bool write_register(DeviceLink& link, uint8_t number, uint8_t value);

// Multi-byte registers: the most significant byte at the lowest number. Reads
// leave value untouched on failure; writes stop at the first failed register.
bool read_register16(DeviceLink& link, uint8_t first, uint16_t& value);
bool read_register24(DeviceLink& link, uint8_t first, uint32_t& value);
bool read_register32(DeviceLink& link, uint8_t first, uint32_t& value);
bool write_register16(DeviceLink& link, uint8_t first, uint16_t value);
bool write_register24(DeviceLink& link, uint8_t first, uint32_t value);

// Replaces bits low..high of r by value (shifted to low, cut to the field width).
uint8_t merge_bit_field(uint8_t r, uint8_t high, uint8_t low, uint8_t value);
// Bits low..high of byte, shifted down.
uint8_t extract_bit_field(uint8_t byte, uint8_t high, uint8_t low);
// Read-modify-write of bits low..high (0 <= low <= high <= 7; anything else fails
// without touching the device). A failed read writes nothing.
bool write_bit_field(DeviceLink& link, uint8_t number, uint8_t high, uint8_t low, uint8_t value);

// Numbered input/output lines 1 to 33 (register bits): 1-8 reg 0x6D, 9-16 0x6C,
// 17-24 0xA6, 25-27 0xA8 bits 0-2, 28-33 0xA9 bits 0-5.
struct LineBit {
  uint8_t number;
  uint8_t bit;
};
// False for a line outside 1 to 33.
bool line_register(uint8_t line, LineBit& where);
bool set_line(DeviceLink& link, uint8_t line, uint8_t value);
bool read_line(DeviceLink& link, uint8_t line, uint8_t& value);

// Register 0x0E = 1, 1 ms, register 0x0E = 0.
bool reset_pulse(DeviceLink& link, platform::Clock& clock);

// One controller setting byte (request 0x8C).
bool write_setting(DeviceLink& link, uint8_t setting, uint8_t value);

// Controller memory: a bulk write; a read goes word by word for addresses from
// 0x01000000 up to 0x04000000 and by bulk read (through a temporary buffer)
// elsewhere. An odd count leaves the last byte of a word-wise read untouched.
bool write_memory(DeviceLink& link, uint32_t address, const uint8_t* data, uint32_t count);
bool read_memory(DeviceLink& link, uint32_t address, uint8_t* data, uint32_t count);

// Image data: a bulk read with the image address in the header.
bool read_image_data(DeviceLink& link, uint8_t* data, uint32_t count);

}  // namespace qrx::transport
