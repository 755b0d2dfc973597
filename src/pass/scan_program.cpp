// The register programme (see scan_program.h).
#include "pass/scan_program.h"

#include "pass/memory_upload.h"
#include "pass/motor_plan.h"
#include "pass/motor_program.h"
#include "pass/sensor_setup.h"
#include "qrx7730.h"
#include "transport/registers.h"

namespace qrx::pass {
namespace {

using transport::write_bit_field;

constexpr uint32_t kSlopeTableBase = 0x10000000;
constexpr uint32_t kSlopeTableStride = 0x4000;
constexpr uint32_t kShadingPassResolution = 600;
constexpr uint16_t kShadingMemoryOff = 0x80;  // SPECIALMODE: never apply shading

uint32_t speed_class_of(uint32_t resolution) {
  if (resolution <= 600) return 0;
  if (resolution <= 1200) return 1;
  if (resolution <= 2400) return 2;
  return 3;
}

uint32_t buffer_threshold(const transport::ScannerContext& context, uint32_t line_bytes,
                          uint32_t depth, uint32_t vertical_resolution) {
  const uint32_t bytes = depth == 8 ? (line_bytes & ~1u) : ((line_bytes / 2) & ~1u);
  if (context.vertical_above_horizontal != 0) return bytes / 4;
  return bytes * 2400 / vertical_resolution / 4;
}

}  // namespace

bool set_memory_map(transport::ScannerContext& context, uint32_t speed_class) {
  if (speed_class > 3) return false;
  for (size_t slot = 0; slot < context.memory_map.slope_table.size(); ++slot) {
    context.memory_map.slope_table[slot] =
        kSlopeTableBase + static_cast<uint32_t>(slot) * kSlopeTableStride;
  }
  for (size_t channel = 0; channel < 3; ++channel) {
    context.memory_map.shading[channel] = context.line_buffer_address[channel];
  }
  context.memory_map.shading[3] = 0;
  return true;
}

uint16_t program_scan(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                      const ScanSetup& image, ScanSetup& read) {
  transport::DeviceLink& link = context.link;
  const uint8_t move_selector = read.move_row;
  // Resolutions the chip cannot be programmed for would divide by zero below.
  if (read.x_resolution == 0 || read.x_resolution > 2400 || read.y_resolution == 0 ||
      image.x_resolution == 0) {
    return QRX_E_RESOLUTION;
  }
  const uint32_t depth = read.shading_pass != 0 ? 48 : read.bit_depth;

  if (!set_memory_map(context, speed_class_of(read.x_resolution))) return QRX_E_MEMORY_MAP;
  if (!write_bit_field(link, 0x05, 3, 3, read.gamma_on != 0 ? 1 : 0)) return QRX_E_MEMORY_MAP;
  if (read.gamma_on != 0) {
    // A curve the chip cannot take leaves its previous one; the pass goes on.
    for (int channel = 0; channel < 3; ++channel) upload_gamma(context, channel);
  }

  uint16_t status = program_sensor_resolution(context, setting, read.x_resolution);
  if (status != QRX_OK) return status;

  // The chip reads an even number of pixels.
  uint16_t pixels = static_cast<uint16_t>(read.window_width * read.x_resolution / 2400);
  if ((pixels & 1) != 0) {
    ++pixels;
    read.window_width = static_cast<uint16_t>(pixels * 2400u / read.x_resolution);
  }
  status = program_pixel_window(context, read);
  if (status != QRX_OK) return status;

  if (context.output_x_res == 75 && image.x_resolution == 150) {
    context.image_line_bytes =
        2 * bytes_per_line(image.window_width * 75 / 2400, depth, image.channels);
    context.read_line_bytes =
        2 * bytes_per_line(read.window_width * 75 / 2400, depth, read.channels);
  } else {
    context.image_line_bytes =
        bytes_per_line(image.window_width * image.x_resolution / 2400, depth, image.channels);
    context.read_line_bytes =
        bytes_per_line(read.window_width * read.x_resolution / 2400, depth, read.channels);
  }

  const uint32_t threshold =
      buffer_threshold(context, context.read_line_bytes, depth, read.y_resolution);
  if (!transport::write_register24(link, 0x35, threshold)) return QRX_E_BUFFER_THRESHOLD;
  if (!write_bit_field(link, 0x02, 4, 4, read.no_motor == 0 ? 1 : 0)) return QRX_E_MODE_BITS;

  MotorPlan plan;
  if (read.shading_pass != 0) {
    ScanSetup planned = read;
    planned.y_resolution = kShadingPassResolution;
    plan_motor(context, setting, planned, plan);
    plan.line_period = timing_lookup(setting, read, read.y_resolution).line_period;
  } else {
    plan_motor(context, setting, read, plan);
    if (move_selector == kScanPass) {
      // The chip takes a line every line period (times the multiplier) per channel,
      // and the slope tables run the carriage one line down in that time. The sensor
      // needs the period of the resolution across, so the motor is timed by that
      // period too: its speed then follows the resolution down, and a scan whose two
      // resolutions differ takes its lines at the pitch asked for. When they are
      // equal, as for every calibration pass, nothing changes.
      const Timing sensor = timing_lookup(setting, read, read.x_resolution);
      plan.line_period = sensor.line_period;
      plan.vertical_multiplier = static_cast<uint8_t>(sensor.vertical_multiplier);
    }
  }
  // A mode without a line period has no motor timing: nothing sensible can run.
  if (plan.line_period == 0) return QRX_E_SCAN_MODE;
  plan.step_divider = step_divider(plan.line_period);
  if (read.shading_pass != 0 && setting.SHADING_SCAN_UP_STEP() != 0) {
    plan.slots[0].steps = setting.SHADING_SCAN_UP_STEP();
  }

  status = program_motor(context, setting, read, plan);
  if (status != QRX_OK) return status;

  status = program_sensor_timing(context, setting, read, plan);
  if (status != QRX_OK) return status;

  if ((setting.SPECIALMODE() & kShadingMemoryOff) != 0) read.shading_on = 0;
  if (!write_bit_field(link, 0x01, 5, 5, read.shading_on != 0 ? 1 : 0)) {
    return QRX_E_BUFFER_THRESHOLD;
  }
  if (read.shading_on != 0) {
    status = upload_shading(context, read);
    if (status != QRX_OK) return status;
  }

  if (!write_bit_field(link, 0x03, 4, 4, read.lamp_on != 0 ? 1 : 0)) return QRX_E_MODE_BITS;
  const bool eight_bit = depth == 8;
  const bool byte_samples = depth == 8 || depth == 24;
  // Channel mode: 2 one channel, 3 four (the infrared block after the colours), 0 three.
  const uint8_t channel_mode = eight_bit ? 2 : (read.channels == 4 ? 3 : 0);
  if (!write_bit_field(link, 0x04, 3, 2, channel_mode) ||
      !write_bit_field(link, 0x04, 6, 6, byte_samples ? 0 : 1) ||
      !write_bit_field(link, 0x0C, 3, 0, eight_bit ? 0 : 2)) {
    return QRX_E_MODE_BITS;
  }
  return QRX_OK;
}

}  // namespace qrx::pass
