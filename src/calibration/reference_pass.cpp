// Reference passes (see reference_pass.h).
#include "calibration/reference_pass.h"

#include <algorithm>
#include <vector>

#include "calibration/acquisition.h"
#include "calibration/shading_math.h"
#include "platform/memory.h"
#include "qrx7730.h"
#include "transport/registers.h"

namespace qrx::calibration {
namespace {

constexpr uint16_t kDarkWithLightMode = 0x1000;

// Minimum exposure and both light-select bits written: 0 switches the light off
// for a dark read, 1 the film light back on after it.
bool set_reference_light(transport::ScannerContext& context, uint8_t bits, uint8_t lamp_select) {
  transport::DeviceLink& link = context.link;
  const bool ok = transport::write_register16(link, 0x10, 1) &&
                  transport::write_register16(link, 0x12, 1) &&
                  transport::write_register16(link, 0x14, 1) &&
                  transport::write_bit_field(link, transport::reg::kLamp, 5, 4, bits);
  if (ok) context.light_selection = lamp_select;
  return ok;
}

}  // namespace

uint16_t reference_pass(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                        const ReferencePass& pass, transport::ExposureSet& exposure,
                        const ReferenceLines& references) {
  const PassEnvironment& environment = pass.environment;
  const uint32_t resolution = pass.resolution;
  const uint8_t lamp_mode = pass.lamp_mode;
  ChannelLines& white = references.white;
  ChannelLines& dark = references.dark;
  const bool dark_pass = pass.kind == PassKind::kDark;
  uint16_t status = QRX_OK;
  uint32_t lines = 0;
  uint32_t led_on = 1;
  if (dark_pass) {
    status = dark_exposure(context, setting, exposure);
    if (status != QRX_OK) return status;
    led_on = (setting.SPECIALMODE() & kDarkWithLightMode) != 0 ? 1 : 0;
    lines = setting.SHADING_LINENUM_FOR_DARKSHADING();
    if (!set_reference_light(context, 0, environment.lamp_select)) return QRX_E_SETUP_REGISTER;
  } else {
    const ExposurePass white_pass{.resolution = resolution,
                                  .lamp_mode = lamp_mode,
                                  .dark = &dark,
                                  .environment = environment.exposure};
    status = adjust_exposure(context, setting, white_pass, exposure);
    if (status != QRX_OK) return status;
    lines = setting.SHADING_LINENUM_FOR_WHITESHADING();
  }

  AcquisitionRequest request;
  request.port_type = context.link.port_type();
  request.resolution = static_cast<uint16_t>(resolution);
  request.bits_per_pixel = 48;
  request.line_count = lines;
  request.start_pixel = 0;
  request.width = shading_width(lamp_mode);
  request.light_source = lamp_mode;
  request.channels = 3;
  request.exposure = exposure;
  request.no_motor = dark_pass ? 1 : 0;
  request.led_on = led_on;
  request.shading_pass = true;
  std::vector<uint8_t> block;
  status = calibration_lines(context, setting, request, block);
  if (status != QRX_OK) return status;

  if (!is_flatbed(lamp_mode) && dark_pass &&
      !set_reference_light(context, 3, environment.lamp_select)) {
    return QRX_E_SETUP_REGISTER;
  }

  const uint32_t line_bytes = static_cast<uint32_t>(block.size() / lines);
  const uint32_t samples = line_bytes / 2;
  std::vector<uint16_t> averaged;
  if (!platform::try_resize(averaged, samples)) return QRX_E_NOMEM_BUFFER;
  const uint32_t upper = dark_pass ? setting.DARK_UPPERLINE_CUT() : setting.WHITE_UPPERLINE_CUT();
  const uint32_t lower = dark_pass ? setting.DARK_LOWERLINE_CUT() : setting.WHITE_LOWERLINE_CUT();
  if (!average_lines({.data = block.data(), .lines = lines, .samples = samples}, upper, lower,
                     averaged.data())) {
    return QRX_E_NOMEM_AVERAGE;
  }

  ChannelLines& target = dark_pass ? dark : white;
  const uint32_t pixels = shading_pixels(lamp_mode, resolution);
  for (uint32_t c = 0; c < 3; ++c) {
    const uint64_t from = static_cast<uint64_t>(c) * pixels;
    if (from >= samples) break;
    const uint32_t n = std::min<uint32_t>(
        {pixels, static_cast<uint32_t>(samples - from), static_cast<uint32_t>(target[c].size())});
    std::copy_n(averaged.begin() + static_cast<ptrdiff_t>(from), n, target[c].begin());
  }
  return QRX_OK;
}

}  // namespace qrx::calibration
