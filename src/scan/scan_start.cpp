// The scan start (see scan_start.h).
#include "scan/scan_start.h"

#include <algorithm>
#include <memory>

#include "calibration/channel_lines.h"
#include "calibration/shading_files.h"
#include "calibration/shading_math.h"
#include "imaging/image_ring.h"
#include "imaging/reader_thread.h"
#include "pass/carriage.h"
#include "pass/motor_plan.h"
#include "pass/scan_program.h"
#include "qrx7730.h"
#include "scan/scan_stop.h"
#include "settings/scanner_model.h"
#include "tone_curves/data_file.h"
#include "transport/registers.h"

namespace qrx::scan {
namespace {

// Output line that is off while a scan runs.
constexpr uint8_t kScanLine = 10;
// The gain factor of a scan: 1.0 in 4.12 fixed point.
constexpr uint16_t kUnitGain = 4096;
// Below 1200 dpi the scanner reads a little more than the window, to the left.
constexpr uint32_t kReadLeadIn[2] = {128, 112};  // by board variant
constexpr uint32_t kFullSensorWidth = 20544;
constexpr uint32_t kSensorReadAtFullWidth = 1200;

bool film_light(uint8_t light) {
  return (light & 0x0C) != 0;
}

// Offsets from a fresh dark reference, with the gains of the loaded calibration:
// the dark level drifts with temperature faster than the white response does.
uint16_t fresh_dark(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                    const ScanStartEnvironment& environment) {
  uint16_t status = pass::home_and_step_out(context, setting);
  if (status != QRX_OK) return status;
  const uint32_t resolution = context.scan_x_res;
  transport::ExposureSet dark_exposure;
  const calibration::ReferencePass dark_pass{.kind = calibration::PassKind::kDark,
                                             .resolution = resolution,
                                             .lamp_mode = calibration::kLampFlatbed,
                                             .environment = environment.pass};
  status = calibration::reference_pass(context, setting, dark_pass, dark_exposure,
                                       {context.shading_white, context.shading_offset});
  if (status != QRX_OK) return status;
  const calibration::ShadingFormat format{
      .pixel_count = calibration::shading_pixels(calibration::kLampFlatbed, resolution),
      .lamp_mode = calibration::kLampFlatbed,
      .resolution = resolution,
      .bits_per_pixel = context.bit_depth,
      .port_type = context.link.port_type()};
  calibration::compute_shading(setting, format, context.shading_white, context.shading_offset);
  return QRX_OK;
}

// Exposure times scaled by the service rates, never below the shortest the
// controller can make.
uint16_t apply_exposure_rates(transport::ScannerContext& context,
                              const settings::ScannerSetting& setting,
                              transport::ExposureSet& exposure) {
  uint8_t shortest = 0;
  if (!transport::read_register(context.link, transport::reg::kShortestExposure, shortest)) {
    return QRX_E_SCAN_EXPOSURE_REGISTER;
  }
  const double rates[4] = {setting.SPECIAL_R_EXPOSURE_RATE(), setting.SPECIAL_G_EXPOSURE_RATE(),
                           setting.SPECIAL_B_EXPOSURE_RATE(), setting.SPECIAL_IR_EXPOSURE_RATE()};
  const uint32_t floor = static_cast<uint32_t>(shortest) + 1;
  for (size_t c = 0; c < 4; ++c) {
    uint32_t value = static_cast<uint32_t>(exposure.exposure[c] * rates[c]);
    if (value < floor) value = floor;
    exposure.exposure[c] = static_cast<uint16_t>(std::min<uint32_t>(value, UINT16_MAX));
  }
  return QRX_OK;
}

bool fast_feed_for(const transport::ScannerContext& context, uint16_t special_mode) {
  const uint32_t y = context.scan_y_res;
  if (context.link.port_type() == 2 && (y == 1200 || y == 2400) && context.bit_depth == 8) {
    return false;
  }
  return (special_mode & kSpecialFastFeed) != 0 || y >= 1200;
}

// The ring and the reader thread that fills it.
uint16_t start_reader(transport::ScannerContext& context) {
  auto ring = std::make_shared<imaging::ImageRing>();
  if (!ring->create(imaging::kScanRingBytes)) return QRX_E_IMAGE_RING;
  context.image_ring = std::move(ring);
  context.stop_reader.store(0);
  context.reader_thread = platform::Thread::start(&imaging::image_reader_thread, &context);
  if (!context.reader_thread) return QRX_E_READER_THREAD;
  return QRX_OK;
}

}  // namespace

bool scan_running(const transport::ScannerContext& context) {
  return context.image_ring != nullptr || context.reader_thread != nullptr;
}

uint16_t start_scan(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                    const ScanStartEnvironment& environment) {
  context.scan_line_count =
      static_cast<uint32_t>(static_cast<uint64_t>(context.window.length) * context.scan_y_res /
                            settings::kOpticalResolution);
  context.lines_to_read.store(context.scan_line_count);
  context.read_counters = {};
  context.vertical_above_horizontal = context.scan_x_res < context.scan_y_res ? 1 : 0;

  const uint8_t light = context.lamp_select;
  transport::ExposureSet exposure;
  const calibration::ShadingScan shading{.resolution = context.scan_x_res,
                                         .lamp_mode = light,
                                         .bits_per_pixel = context.bit_depth,
                                         .count = true};
  uint16_t status = calibration::load_shading_for_scan(context, setting, shading, exposure);
  if (status != QRX_OK) return status;
  if (light == pass::kFlatbedLight) {
    status = fresh_dark(context, setting, environment);
    if (status != QRX_OK) return status;
  }

  pass::ScanSetup image;
  image.x_resolution = context.scan_x_res;
  image.y_resolution = context.scan_y_res;
  image.bit_depth = context.bit_depth;
  image.light_source = light;
  image.channels = context.color_channels;
  image.port_type = static_cast<uint8_t>(context.link.port_type());
  image.oversampling = context.low_res_oversample;
  pass::MotorPlan plan;
  pass::plan_motor(context, setting, image, plan);
  // Motor steps (1/1200 inch) from the step-out position to the window's first line.
  const uint32_t to_window = context.window.y / 2 + context.reference_offset;
  uint32_t feed = to_window > plan.slots[0].steps ? to_window - plan.slots[0].steps : 1;
  const uint16_t special = setting.SPECIALMODE();
  if ((special & kSpecialShortFeed) != 0) {
    feed = 4;
  } else {
    status = pass::fast_approach(context, setting, feed);
    if (status != QRX_OK) return status;
  }

  if (environment.data_file != nullptr) {
    status = tone_curves::compose_with_data_file(context, *environment.data_file);
    if (status != QRX_OK) return status;
  }

  image.feed_steps = feed;
  image.window_x = context.window.x;
  image.window_width = context.window.width;
  // An 8-bit scan reads one line more than it delivers.
  image.lines = context.scan_line_count + (context.bit_depth == 8 ? 1 : 0);
  image.exposure = exposure;
  if (film_light(light)) {
    for (size_t c = 0; c < 3; ++c) image.exposure.exposure[c] = 1;
  }
  if ((special & kSpecialExposureRates) != 0) {
    status = apply_exposure_rates(context, setting, image.exposure);
    if (status != QRX_OK) return status;
  }
  image.shading_on = 1;
  image.no_motor = 0;
  image.gamma_on = context.bit_depth != 48 ? 1 : 0;
  image.fast_feed = fast_feed_for(context, special) ? 1 : 0;
  image.lamp_on = 1;
  image.shading_pass = 0;

  pass::ScanSetup read = image;
  if (context.scan_x_res >= kSensorReadAtFullWidth) {
    read.window_x = 0;
    read.window_width = kFullSensorWidth;
  } else {
    read.window_width += kReadLeadIn[context.board_variant != 0 ? 1 : 0];
  }
  // A programme that did not reach the chip would start a pass nobody described.
  status = pass::program_scan(context, setting, image, read);
  if (status != QRX_OK) return status;

  context.gain_factor = kUnitGain;
  if (!transport::set_line(context.link, kScanLine, 0)) return QRX_E_LINE10;
  status = pass::start_motor(context);
  if (status != QRX_OK) return status;

  status = start_reader(context);
  if (status != QRX_OK) {
    // The pass runs: abandon it rather than leave the carriage out with no reader.
    stop_now(context, setting);
    return status;
  }
  return QRX_OK;
}

}  // namespace qrx::scan
