// Power-on (see power_on.h).
#include "device/power_on.h"

#include "platform/clock.h"
#include "platform/memory.h"
#include "qrx7730.h"
#include "transport/registers.h"

namespace qrx::device {
namespace {

using transport::set_line;
using transport::write_bit_field;
using transport::write_register;

// Clock rate 30 for the controller core, 60 for its second clock.
constexpr uint8_t kCoreClockBits = 0x20;   // register 0x0B bits 5..7
constexpr uint8_t kCoreClockSetting = 0x0B;
constexpr uint8_t kSecondClockSetting = 0x0E;
constexpr uint8_t kPortSetting = 4;        // setting 0x0F, port type 1 only

constexpr uint32_t kLineBufferBase = 0x10000000;
constexpr uint32_t kLineBufferBlock = 8192;
constexpr uint8_t kFirstLineBufferBlock = 10;
constexpr uint32_t kLayoutHeader = 40;  // memory units before the first segment

constexpr uint32_t kMemorySizes[] = {0x400, 0x1000, 0x2000, 0x4000, 0x8000, 0x10000};

uint16_t power_lines(transport::ScannerContext& context) {
  transport::DeviceLink& link = context.link;
  platform::Clock& clock = platform::clock();
  if (!write_register(link, 0x6E, 0xFF) || !write_register(link, 0x6F, 0x00) ||
      !write_register(link, 0xA7, 0x04) || !write_register(link, 0xA8, 0x00)) {
    return QRX_E_POWER_LINES;
  }
  // Lines 16, 14, 15, then register 0x0B bit 3, then lines 10 and 9, with time for
  // each supply to come up.
  if (!set_line(link, 16, 1)) return QRX_E_POWER_LINES;
  clock.sleep_ms(5);
  if (!set_line(link, 14, 1)) return QRX_E_POWER_LINES;
  clock.sleep_ms(5);
  if (!set_line(link, 15, 1)) return QRX_E_POWER_LINES;
  clock.sleep_ms(5);
  if (!write_bit_field(link, 0x0B, 3, 3, 1)) return QRX_E_POWER_LINES;
  clock.sleep_ms(5);
  if (!set_line(link, 10, 1)) return QRX_E_POWER_LINES;
  clock.sleep_ms(5);
  if (!set_line(link, 9, 1)) return QRX_E_POWER_LINES;
  return QRX_OK;
}

// Whether the work tables of an earlier power-on are all there.
bool work_tables_present(const transport::ScannerContext& context) {
  for (size_t channel = 0; channel < 3; ++channel) {
    if (context.gamma_table[channel].size() != transport::kGammaEntries ||
        context.caller_gamma[channel].size() != transport::kGammaEntries ||
        context.expand_table[channel].size() != transport::kExpandEntries) {
      return false;
    }
  }
  for (size_t channel = 0; channel < 4; ++channel) {
    if (context.shading_gain[channel].size() != transport::kShadingEntries ||
        context.shading_offset[channel].size() != transport::kShadingEntries ||
        context.shading_white[channel].size() != transport::kShadingEntries) {
      return false;
    }
  }
  return true;
}

bool allocate_work_tables(transport::ScannerContext& context) {
  context.gamma_memory = {0, 0x01000000, 0x01000200, 0x01000400};
  for (size_t channel = 0; channel < 3; ++channel) {
    auto& table = context.gamma_table[channel];
    auto& caller = context.caller_gamma[channel];
    if (!platform::try_resize(table, transport::kGammaEntries) ||
        !platform::try_resize(caller, transport::kGammaEntries)) {
      return false;
    }
    for (size_t i = 0; i < table.size(); ++i) table[i] = caller[i] = static_cast<uint16_t>(i);
  }
  for (auto& table : context.expand_table) {
    if (!platform::try_resize(table, transport::kExpandEntries)) return false;
    for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<uint16_t>(i * 256);
  }
  for (size_t channel = 0; channel < 4; ++channel) {
    if (!platform::try_resize(context.shading_gain[channel], transport::kShadingEntries) ||
        !platform::try_resize(context.shading_offset[channel], transport::kShadingEntries) ||
        !platform::try_resize(context.shading_white[channel], transport::kShadingEntries)) {
      return false;
    }
  }
  return true;
}

// False when a register could not be written: the chip would take a channel's
// lines and shading from the wrong place.
bool line_buffer_layout(transport::ScannerContext& context) {
  // Blocks of controller memory per channel for one full sensor line of 16-bit
  // samples (20544 x 2 bytes), stored 252 bytes in every 256.
  const float kilobytes = 41088.0f * 256.0f / 252.0f / 1024.0f;
  const uint32_t n = static_cast<uint32_t>(kilobytes) / 4 + 1;
  context.line_buffer_reserve = n * 3 * 4;
  uint8_t block = kFirstLineBufferBlock;
  for (size_t channel = 0; channel < 3; ++channel) {
    if (!write_register(context.link, static_cast<uint8_t>(0xD0 + channel), block)) return false;
    context.line_buffer_address[channel] = kLineBufferBase + block * kLineBufferBlock;
    block = static_cast<uint8_t>(block + n);
  }
  return true;
}

uint16_t layout_memory(transport::ScannerContext& context) {
  transport::DeviceLink& link = context.link;
  uint8_t size_register = 0, mode_register = 0;
  if (!transport::read_register(link, 0x0B, size_register)) return QRX_E_MEMORY_LAYOUT;
  if (!transport::read_register(link, 0x08, mode_register)) return QRX_E_MEMORY_LAYOUT;
  const MemoryLayout layout =
      memory_layout(size_register & 0x07, (mode_register & 0x80) != 0, context.line_buffer_reserve);
  context.buffer_segment = layout.segment;
  // A bound left unwritten would leave the chip's memory divided otherwise.
  for (int i = 0; i < 12; ++i) {
    if (!transport::write_register16(link, static_cast<uint8_t>(0xE0 + 2 * i), layout.bounds[i])) {
      return QRX_E_MEMORY_LAYOUT;
    }
  }
  if (!write_register(link, 0xF8, 0x01)) return QRX_E_MEMORY_LAYOUT;
  return QRX_OK;
}

}  // namespace

MemoryLayout memory_layout(uint8_t size_bits, bool doubled, uint32_t line_buffer_reserve) {
  // Size index = bits - 1. Codes 0 and 7 name no size; they are kept to the
  // nearest one rather than read outside the table.
  const uint32_t index = size_bits == 0 ? 0 : (size_bits > 6 ? 5u : size_bits - 1u);
  const uint32_t size = kMemorySizes[index] * (doubled ? 2 : 1);
  MemoryLayout layout{};
  layout.segment = (size - kLayoutHeader - line_buffer_reserve) / 2;
  const uint32_t start = line_buffer_reserve + kLayoutHeader;
  for (int pair = 0; pair < 3; ++pair) {
    const uint32_t a = start;
    const uint32_t b = a + layout.segment - 1;
    const uint32_t c = b + 1;
    const uint32_t d = c + layout.segment - 1;
    layout.bounds[4 * pair + 0] = static_cast<uint16_t>(a);
    layout.bounds[4 * pair + 1] = static_cast<uint16_t>(b);
    layout.bounds[4 * pair + 2] = static_cast<uint16_t>(c);
    layout.bounds[4 * pair + 3] = static_cast<uint16_t>(d);
  }
  return layout;
}

uint16_t check_power_state(transport::ScannerContext& context) {
  uint8_t power = 0;
  context.controller_was_set_up = false;
  if (!transport::read_register(context.link, transport::reg::kPowerState, power)) {
    return QRX_E_POWER_STATE;
  }
  context.controller_was_set_up = (power & 0x10) != 0;
  if ((power & 0x10) != 0) {
    uint8_t status = 0;
    if (!transport::read_register(context.link, transport::reg::kStatus, status)) {
      return QRX_E_STATUS_REGISTER;
    }
    if ((status & transport::status_bit::kMotorRunning) != 0) return QRX_E_CARRIAGE_MOVING;
  }
  return QRX_OK;
}

bool controller_still_set_up(transport::ScannerContext& context) {
  uint8_t power = 0;
  return transport::read_register(context.link, transport::reg::kPowerState, power) &&
         (power & 0x10) != 0;
}

namespace {

// The power-on sequence; the work tables are allocated afresh (curves back to
// identity) unless keep_tables says to keep those of an earlier power-on.
uint16_t power_on_sequence(transport::ScannerContext& context,
                           const settings::ScannerSetting& setting, bool keep_tables) {
  transport::DeviceLink& link = context.link;
  platform::Clock& clock = platform::clock();

  if (!transport::reset_pulse(link, clock)) return QRX_E_RESET;
  if (!set_line(link, 19, 1)) return QRX_E_RESET;
  clock.sleep_ms(500);

  for (const settings::RegisterPair& pair : setting.ASIC_REGISTER_SETTING()) {
    if (!write_register(link, pair[0], pair[1])) return QRX_E_POWER_ON_TABLE;
  }

  uint8_t board = 0;
  if (!transport::read_register(link, 0xA6, board)) return QRX_E_SETUP_REGISTER;
  context.board_variant = (board & 0x10) != 0 ? 1 : 0;
  if (!transport::write_register24(link, 0x77, context.board_variant == 1 ? 0x000000 : 0x00009F)) {
    return QRX_E_SETUP_REGISTER;
  }

  uint8_t clock_register = 0;
  if (!transport::read_register(link, 0x0B, clock_register) ||
      !write_register(link, 0x0B, static_cast<uint8_t>((clock_register & 0x1F) | kCoreClockBits)) ||
      !transport::write_setting(link, 0x10, kCoreClockSetting) ||
      !transport::write_setting(link, 0x13, kSecondClockSetting)) {
    return QRX_E_SETUP_REGISTER;
  }

  if (link.port_type() == 1 && !transport::write_setting(link, 0x0F, kPortSetting)) {
    return QRX_E_PORT_SETTING;
  }

  uint16_t status = power_lines(context);
  if (status != QRX_OK) return status;

  if (!(keep_tables && work_tables_present(context)) && !allocate_work_tables(context)) {
    return QRX_E_RESET;
  }
  if (!line_buffer_layout(context)) return QRX_E_LINE_BUFFER;
  return layout_memory(context);
}

}  // namespace

uint16_t power_on(transport::ScannerContext& context, const settings::ScannerSetting& setting) {
  return power_on_sequence(context, setting, false);
}

uint16_t set_up_controller_again(transport::ScannerContext& context,
                                 const settings::ScannerSetting& setting) {
  return power_on_sequence(context, setting, true);
}

}  // namespace qrx::device
