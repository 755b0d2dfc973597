// Sensor resolution, AFE, pixel window and sensor timing.
#include "pass/sensor_setup.h"

#include "platform/clock.h"
#include "qrx7730.h"
#include "settings/tuning_index.h"
#include "transport/registers.h"

namespace qrx::pass {
namespace {

using transport::write_bit_field;
using transport::write_register;
using transport::write_register16;

constexpr uint8_t kAfeAddress = 0x51;
constexpr uint8_t kAfeValue = 0x3A;  // 16 bits, 0x3A and 0x3B
constexpr int kAfeTries = 5;
constexpr int kStatusSettleReads = 5;
constexpr uint32_t kAfeRetryMs = 10;
constexpr uint16_t kPixelOffset = 320;  // sensor pixel of the window origin

// Reads the status register until two successive reads agree.
bool settled_status(transport::DeviceLink& link, uint8_t& value) {
  uint8_t previous = 0;
  if (!transport::read_register(link, transport::reg::kStatus, previous)) return false;
  for (int i = 1; i < kStatusSettleReads; ++i) {
    uint8_t current = 0;
    if (!transport::read_register(link, transport::reg::kStatus, current)) return false;
    if (current == previous) {
      value = current;
      return true;
    }
    previous = current;
  }
  return false;
}

uint8_t log2_of(uint8_t power_of_two) {
  uint8_t log = 0;
  while ((1u << log) < power_of_two && log < 7) ++log;
  return log;
}

}  // namespace

SensorMode sensor_mode(uint32_t r) {
  if (r <= 600) return {600, 0, 10};
  if (r <= 1200) return {1200, 1, 8};
  if (r <= 2400) return {2400, 2, 6};
  return {4800, 3, 4};
}

bool write_afe_register(transport::DeviceLink& link, platform::Clock& clock, uint8_t address,
                        uint16_t value) {
  for (int attempt = 0; attempt < kAfeTries; ++attempt) {
    uint8_t status = 0;
    if (!settled_status(link, status)) return false;
    if ((status & transport::status_bit::kAfeBusy) != 0) {
      clock.sleep_ms(kAfeRetryMs);
      continue;
    }
    return write_register(link, kAfeAddress, address) &&
           write_register16(link, kAfeValue, static_cast<uint16_t>(value % 512));
  }
  return false;
}

uint16_t program_sensor_resolution(transport::ScannerContext& context,
                                   const settings::ScannerSetting& setting,
                                   uint32_t read_resolution) {
  transport::DeviceLink& link = context.link;
  const SensorMode mode = sensor_mode(read_resolution);
  const int variant = context.board_variant != 0 ? 1 : 0;
  const int res = settings::resolution_index(read_resolution);
  context.sensor_resolution = mode.resolution;
  context.timing_code = mode.timing_code;
  bool ok = write_bit_field(link, 0x05, 7, 6, mode.code) &&
            write_register16(link, 0x2C, static_cast<uint16_t>(read_resolution)) &&
            transport::write_register24(link, 0x74, setting.CK1MAP_SETTING(variant, res)) &&
            write_bit_field(link, 0x7D, 7, 7, setting.CK1NEG_SETTING(variant, res)) &&
            write_afe_register(link, platform::clock(), 0, 128);
  if (ok) {
    for (const settings::RegisterPair& pair : setting.AFE_REGISTER_SETTING(variant, res)) {
      if (!write_afe_register(link, platform::clock(), pair[0], pair[1])) {
        ok = false;
        break;
      }
    }
  }
  return ok ? QRX_OK : QRX_E_SENSOR_RESOLUTION;
}

PixelWindow pixel_window(uint32_t r, uint32_t s, uint32_t window_x, uint32_t window_width) {
  const uint8_t skip = static_cast<uint8_t>(2400 / r);
  const uint16_t aligned = static_cast<uint16_t>((window_x / skip) * skip);
  const uint16_t start = static_cast<uint16_t>(aligned * s / 2400 + kPixelOffset);
  const uint16_t pixels = static_cast<uint16_t>(r * window_width / 2400);
  const uint16_t end = static_cast<uint16_t>(start + pixels * s / r);
  return {start, end};
}

uint16_t program_pixel_window(transport::ScannerContext& context, const ScanSetup& read) {
  const PixelWindow w =
      pixel_window(read.x_resolution, context.sensor_resolution, read.window_x, read.window_width);
  if (!write_register16(context.link, 0x30, w.start) ||
      !write_register16(context.link, 0x32, w.end)) {
    return QRX_E_PIXEL_WINDOW;
  }
  return QRX_OK;
}

uint16_t program_sensor_timing(transport::ScannerContext& context,
                               const settings::ScannerSetting& setting, const ScanSetup& read,
                               const MotorPlan& plan) {
  transport::DeviceLink& link = context.link;
  const Timing timing = timing_lookup(setting, read, read.x_resolution);
  const uint32_t d = plan.step_divider;
  if (!write_bit_field(link, 0x1C, 2, 0, log2_of(plan.step_divider))) return QRX_E_TIMING_CODE;
  if (!write_bit_field(link, 0x1E, 3, 0, static_cast<uint8_t>(plan.vertical_multiplier - 1))) {
    return QRX_E_TIMING_MULTIPLIER;
  }
  if (!write_register16(link, 0x38, static_cast<uint16_t>(timing.line_period / d))) {
    return QRX_E_TIMING_LINE_PERIOD;
  }
  if (!write_register16(link, 0x10, static_cast<uint16_t>(read.exposure.exposure[0] / d)) ||
      !write_register16(link, 0x12, static_cast<uint16_t>(read.exposure.exposure[1] / d)) ||
      !write_register16(link, 0x14, static_cast<uint16_t>(read.exposure.exposure[2] / d))) {
    return QRX_E_TIMING_EXPOSURE;
  }
  if (!write_bit_field(link, 0x17, 5, 0, context.timing_code)) return QRX_E_TIMING_CODE;
  if (!write_bit_field(link, 0x1D, 4, 0, 4)) return QRX_E_TIMING_SAMPLING;
  if (!write_register(link, 0x34, static_cast<uint8_t>(context.timing_code + 8))) {
    return QRX_E_TIMING_CODE;
  }
  if (!write_bit_field(link, 0x16, 5, 5, 0) || !write_bit_field(link, 0x16, 4, 4, 1) ||
      !write_bit_field(link, 0x16, 1, 1, 0) || !write_bit_field(link, 0x1D, 5, 5, 0)) {
    return QRX_E_STATUS_REGISTER;
  }
  return QRX_OK;
}

}  // namespace qrx::pass
