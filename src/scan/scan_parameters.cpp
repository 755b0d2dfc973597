// Scan parameters (see scan_parameters.h).
#include "scan/scan_parameters.h"

#include <cstring>

#include "pass/motor_plan.h"
#include "settings/scanner_model.h"
#include "settings/tuning_index.h"

namespace qrx::scan {
namespace {

// Flatbed area and smallest extent, in 1/9600 inch.
constexpr uint32_t kFlatbedWidth = 81664;
constexpr uint32_t kFlatbedLength = 112256;
constexpr uint32_t kMinimumExtent = 128;

// Film adapter area, in 1/9600 inch (four times its 2400 dpi constants).
constexpr uint32_t kFilmWidth = 23616;
constexpr uint32_t kFilmLeft = 71040;
constexpr uint32_t kFilmLength = 182720;
constexpr uint32_t kFilmTop = 21760;
constexpr uint32_t kFilmBottom = 204480;
constexpr uint32_t kFilmMinimumResolution = 300;

// Byte of the AG block where the three per-channel factors start.
constexpr size_t kAgFactorOffset = 36;
constexpr uint16_t kUnitFactor = 4096;  // 1.0 in 4.12 fixed point

// The scan fields of the device context that one call decides.
struct ScanFields {
  uint16_t scan_x_res, output_x_res, scan_y_res, output_y_res;
  uint8_t bit_depth, color_channels;
  uint32_t gray_from_color;
};

// The resolution a low one is read at, across or down: 75 dpi at 150, and with
// oversampling 75 and 150 dpi at 300; the read path combines 2 or 4 read pixels (or
// lines) into one. Each direction is decided on its own, so that a scan whose two
// resolutions differ still delivers the window at both of them.
uint16_t read_resolution(uint16_t asked, uint8_t oversample) {
  if (oversample != 0 && (asked == 75 || asked == 150)) return 300;
  if (oversample == 0 && asked == 75) return 150;
  return asked;
}

ScanFields derive_fields(const ScanParameter& working, uint8_t lamp_select) {
  ScanFields f{};
  f.bit_depth = working.BitsPerPixel;
  const bool grey = f.bit_depth == 8 || f.bit_depth == 16;
  f.color_channels = grey ? 1 : 3;
  if ((lamp_select & 8) != 0) f.color_channels = 4;  // infrared read as a fourth channel
  f.output_x_res = working.xRes;
  f.output_y_res = working.yRes;
  f.scan_x_res = read_resolution(working.xRes, working.LowResOversample);
  f.scan_y_res = read_resolution(working.yRes, working.LowResOversample);
  if ((lamp_select & 1) != 0 && f.bit_depth == 8 && f.scan_x_res <= 150) {
    f.bit_depth = 24;
    f.color_channels = 3;
    f.gray_from_color = 1;
  } else if (f.color_channels == 4 && f.bit_depth == 8) {
    // A read with the infrared channel is a colour read: 8-bit grey is its green.
    f.bit_depth = 24;
    f.gray_from_color = 1;
  } else if (f.bit_depth == 16) {
    // The scanner has no 16-bit one-channel timing: 16-bit grey is read as 48-bit
    // colour and the read path delivers the green samples.
    f.bit_depth = 48;
    if (f.color_channels == 1) f.color_channels = 3;
    f.gray_from_color = 1;
  }
  return f;
}

bool resolution_usable(uint32_t resolution) {
  const int index = settings::resolution_index(resolution);
  return resolution != 0 && index >= 0 && index < static_cast<int>(settings::kResolutionIndexes);
}

// Checks that the scanner can be read and moved as asked: resolutions it has
// timing for, never above the sensor's own across, and a sample depth it knows.
uint16_t check_mode(const transport::ScannerContext& context,
                    const settings::ScannerSetting& setting, const ScanParameter& working,
                    const ScanFields& fields, uint8_t lamp_select) {
  if (!resolution_usable(working.xRes) || !resolution_usable(working.yRes) ||
      !resolution_usable(fields.scan_y_res) || fields.scan_x_res > settings::kOpticalResolution) {
    return QRX_E_RESOLUTION;
  }
  const uint8_t depth = working.BitsPerPixel;
  if (depth != 8 && depth != 16 && depth != 24 && depth != 48) return QRX_E_SCAN_MODE;
  // The motor is planned for the resolution down and timed, like the sensor, by
  // the line period of the resolution across: both must exist.
  pass::ScanSetup mode;
  mode.light_source = lamp_select == pass::kFlatbedLight ? pass::kFlatbedLight : 0;
  mode.port_type = static_cast<uint8_t>(context.link.port_type());
  mode.bit_depth = fields.bit_depth;
  for (const uint32_t resolution : {fields.scan_y_res, fields.scan_x_res}) {
    if (pass::timing_lookup(setting, mode, resolution).line_period == 0) {
      return QRX_E_SCAN_MODE;
    }
  }
  return QRX_OK;
}

uint32_t to_sensor_units(uint32_t value) {
  const double factor = static_cast<double>(settings::kOpticalResolution) /
                        static_cast<double>(settings::kConversionResolution);
  return static_cast<uint32_t>(value * factor);
}

}  // namespace

uint16_t check_window(const ScanParameter& p) {
  const QRX_Area& a = p.ScanningArea;
  // Sums in 64 bits: a huge offset must not wrap round into a small one.
  const uint64_t right = static_cast<uint64_t>(a.x) + a.width;
  const uint64_t bottom = static_cast<uint64_t>(a.y) + a.length;
  if (p.FilmArea == 0) {
    if (a.x > kFlatbedWidth - kMinimumExtent) return QRX_E_FLATBED_X;
    if (a.width < kMinimumExtent || a.width > kFlatbedWidth) return QRX_E_FLATBED_WIDTH;
    if (right > kFlatbedWidth) return QRX_E_FLATBED_RIGHT;
    if (a.y > kFlatbedLength - kMinimumExtent) return QRX_E_FLATBED_Y;
    if (a.length < kMinimumExtent || a.length > kFlatbedLength) return QRX_E_FLATBED_LENGTH;
    if (bottom > kFlatbedLength) return QRX_E_FLATBED_BOTTOM;
    return QRX_OK;
  }
  if (p.xRes < kFilmMinimumResolution || p.yRes < kFilmMinimumResolution) {
    return QRX_E_FILM_RESOLUTION;
  }
  if (a.x > kFilmLeft + kFilmWidth - kMinimumExtent) return QRX_E_FILM_X;
  if (a.width < kMinimumExtent || a.width > kFilmWidth) return QRX_E_FILM_WIDTH;
  if (right > kFilmLeft + kFilmWidth) return QRX_E_FILM_RIGHT;
  if (a.y < kFilmTop) return QRX_E_FILM_Y;
  if (a.length < kMinimumExtent || a.length > kFilmLength) return QRX_E_FILM_LENGTH;
  if (bottom > kFilmBottom) return QRX_E_FILM_BOTTOM;
  return QRX_OK;
}

uint16_t set_scan_parameter(transport::ScannerContext& context,
                            const settings::ScannerSetting& setting, ScanValues& values,
                            const HostRequest& request) {
  const ScanParameter& parameter = request.parameter;
  const uint8_t lamp_select = request.lamp_select;
  ScanParameter working = parameter;
  working.ScanningArea.x = to_sensor_units(parameter.ScanningArea.x);
  working.ScanningArea.y = to_sensor_units(parameter.ScanningArea.y);
  working.ScanningArea.width = to_sensor_units(parameter.ScanningArea.width);
  working.ScanningArea.length = to_sensor_units(parameter.ScanningArea.length);

  // 4800 x 4800 is read at 2400 across and widened by the read path.
  uint32_t half_x_res = 0;
  if (working.yRes != settings::kOpticalResolution &&
      working.yRes == settings::kMaximumResolution && working.xRes > settings::kOpticalResolution) {
    working.xRes = static_cast<uint16_t>(working.xRes / 2);
    half_x_res = 1;
  }
  const uint32_t wide_samples =
      (parameter.WideSamples == 1 && (parameter.BitsPerPixel == 8 || parameter.BitsPerPixel == 24))
          ? 1
          : 0;

  // A refused record changes nothing: the scan set up before stays whole, its lines
  // still readable at the size the host was told.
  uint16_t status = check_window(parameter);
  if (status != QRX_OK) return status;
  const ScanFields fields = derive_fields(working, lamp_select);
  status = check_mode(context, setting, working, fields, lamp_select);
  if (status != QRX_OK) return status;

  values.half_x_res = half_x_res;
  values.wide_samples = wide_samples;
  values.stored = parameter;

  // The context update.
  context.lamp_select = lamp_select;
  context.light_selection = lamp_select;
  if (working.UseAGData == 1) {
    context.ag_in_use = 1;
    context.ag_block = request.ag_block;
  } else {
    for (size_t i = 0; i < 3; ++i) {
      std::memcpy(&context.ag_block[kAgFactorOffset + 2 * i], &kUnitFactor, sizeof kUnitFactor);
    }
    context.ag_in_use = 0;
  }
  context.film_type = working.FilmType;
  context.ag_flag = working.UseAGData;
  context.low_res_oversample = working.LowResOversample;
  context.bit_depth = fields.bit_depth;
  context.color_channels = fields.color_channels;
  context.scan_x_res = fields.scan_x_res;
  context.output_x_res = fields.output_x_res;
  context.scan_y_res = fields.scan_y_res;
  context.output_y_res = fields.output_y_res;
  context.gray_from_color = fields.gray_from_color;
  context.window.y = working.ScanningArea.y;
  context.window.x = working.ScanningArea.x;
  context.window.width = working.ScanningArea.width;
  context.window.length = working.ScanningArea.length;

  // The line values, from the asked (possibly halved) resolutions.
  values.line_pixels = working.ScanningArea.width * working.xRes / settings::kOpticalResolution;
  values.line_count = working.ScanningArea.length * working.yRes / settings::kOpticalResolution;
  values.line_bytes = values.line_pixels * parameter.BitsPerPixel / 8;
  if (values.wide_samples == 1) values.line_bytes *= 2;
  return QRX_OK;
}

}  // namespace qrx::scan
