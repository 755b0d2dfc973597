// The calibration driver (see calibration_driver.h).
#include "calibration/calibration_driver.h"

#include <algorithm>
#include <iterator>

#include "calibration/shading_files.h"
#include "calibration/shading_math.h"
#include "pass/carriage.h"
#include "qrx7730.h"
#include "settings/scanner_model.h"
#include "settings/tuning_index.h"

namespace qrx::calibration {
namespace {

// Film calibration reads its white on the film adapter's strip, this far past
// the reference edge.
constexpr uint32_t kFilmWhiteBeyondEdge = 937;
// 4800 dpi film is read at 2400 across, as on the flatbed: its calibration is 2400's.
constexpr uint32_t kFilmResolutions[] = {300, 600, 1200, 2400};

bool flatbed_mode(uint8_t lamp_mode) { return (lamp_mode & 0x0C) == 0; }

struct Buffers {
  ChannelLines white, dark, derived;
};

// The flatbed series at 300 dpi also leaves the 150 and 75 dpi files, with the
// 300 dpi exposure, fresh darks and whites derived from the 300 dpi white.
uint16_t flatbed_300(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                     ReferencePass pass, Buffers& b) {
  const uint8_t lamp_mode = pass.lamp_mode;
  const ReferenceLines references{b.white, b.dark};
  transport::ExposureSet exposure;
  pass.resolution = 300;
  pass.kind = PassKind::kDark;
  uint16_t status = reference_pass(context, setting, pass, exposure, references);
  if (status == QRX_OK) {
    pass.kind = PassKind::kWhite;
    status = reference_pass(context, setting, pass, exposure, references);
  }
  if (status != QRX_OK) return status;
  if (!save_shading(context, {.resolution = 300,
                              .lamp_mode = lamp_mode,
                              .exposure = exposure,
                              .white = b.white,
                              .dark = b.dark})) {
    return QRX_E_SHADING_SAVE;
  }
  const transport::ExposureSet kept = exposure;
  for (uint32_t target : {150u, 75u}) {
    pass.resolution = target;
    pass.kind = PassKind::kDark;
    status = reference_pass(context, setting, pass, exposure, references);
    if (status != QRX_OK) return status;
    status = low_resolution_white(lamp_mode, 300, b.white, target, b.derived);
    if (status != QRX_OK) return status;
    if (!save_shading(context, {.resolution = target,
                                .lamp_mode = lamp_mode,
                                .exposure = kept,
                                .white = b.derived,
                                .dark = b.dark})) {
      return QRX_E_SHADING_SAVE;
    }
  }
  return QRX_OK;
}

uint16_t flatbed_at(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                    ReferencePass pass, Buffers& b) {
  const ReferenceLines references{b.white, b.dark};
  transport::ExposureSet exposure;
  pass.kind = PassKind::kDark;
  uint16_t status = reference_pass(context, setting, pass, exposure, references);
  if (status == QRX_OK) {
    pass.kind = PassKind::kWhite;
    status = reference_pass(context, setting, pass, exposure, references);
  }
  if (status != QRX_OK) return status;
  const ShadingRecord record{.resolution = pass.resolution,
                             .lamp_mode = pass.lamp_mode,
                             .exposure = exposure,
                             .white = b.white,
                             .dark = b.dark};
  return save_shading(context, record) ? QRX_OK : QRX_E_SHADING_SAVE;
}

// pass.resolution: one of the film resolutions, or 0 for every one of them.
uint16_t film_series(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                     ReferencePass pass, Buffers& b) {
  const uint32_t resolution = pass.resolution;
  const uint8_t lamp_mode = pass.lamp_mode;
  const ReferenceLines references{b.white, b.dark};
  const uint32_t white_position = context.reference_offset + kFilmWhiteBeyondEdge;
  bool first = true;
  for (uint32_t r : kFilmResolutions) {
    if (resolution != 0 && r != resolution) continue;
    uint16_t status = QRX_OK;
    if (!first) {
      status = pass::home_and_step_out(context, setting);
      if (status != QRX_OK) return status;
    }
    first = false;
    transport::ExposureSet exposure;
    pass.resolution = r;
    pass.kind = PassKind::kDark;
    status = reference_pass(context, setting, pass, exposure, references);
    if (status != QRX_OK) return status;
    status = pass::move(context, setting, {.distance = white_position, .row = pass::kRowHomeFast});
    if (status == QRX_OK) status = pass::wait_for_stop(context);
    if (status != QRX_OK) return status;
    pass.kind = PassKind::kWhite;
    status = reference_pass(context, setting, pass, exposure, references);
    if (status != QRX_OK) return status;
    if (!save_shading(context, {.resolution = r,
                                .lamp_mode = lamp_mode,
                                .exposure = exposure,
                                .white = b.white,
                                .dark = b.dark})) {
      return QRX_E_SHADING_SAVE;
    }
    status = pass::return_home(context, setting, true, false);
    if (status != QRX_OK) return status;
  }
  return QRX_OK;
}

}  // namespace

uint16_t calibration_series(transport::ScannerContext& context,
                            const settings::ScannerSetting& setting,
                            const PassEnvironment& environment, uint32_t resolution,
                            uint8_t lamp_mode) {
  const bool flatbed = flatbed_mode(lamp_mode);
  // The sensor is read at 2400 dpi at most: 4800 dpi scans are read at 2400 across
  // and share its shading file, so that is what calibrating 4800 means.
  if (resolution == settings::kMaximumResolution) resolution = settings::kOpticalResolution;
  if (flatbed) {
    if (resolution == 0 || settings::resolution_index(resolution) < 0 ||
        resolution > settings::kOpticalResolution) {
      return QRX_E_RESOLUTION;
    }
  } else if (resolution != 0 && std::find(std::begin(kFilmResolutions), std::end(kFilmResolutions),
                                          resolution) == std::end(kFilmResolutions)) {
    // Film is calibrated at its own resolutions only (0: all of them); anything
    // else would do nothing but leave the carriage stepped out.
    return QRX_E_RESOLUTION;
  }
  context.light_selection = lamp_mode;
  Buffers buffers;
  if (!allocate_lines(buffers.white) || !allocate_lines(buffers.dark) ||
      !allocate_lines(buffers.derived)) {
    return QRX_E_NOMEM_BUFFER;
  }
  uint16_t status = pass::home_and_step_out(context, setting);
  if (status != QRX_OK) return status;
  const ReferencePass pass{
      .resolution = resolution, .lamp_mode = lamp_mode, .environment = environment};
  if (!flatbed) return film_series(context, setting, pass, buffers);

  status = resolution == 300 ? flatbed_300(context, setting, pass, buffers)
                             : flatbed_at(context, setting, pass, buffers);
  if (status != QRX_OK) return status;
  return pass::return_home(context, setting, true, false);
}

uint16_t do_calibration(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                        const PassEnvironment& environment, const CalibrationRequest& request) {
  const uint8_t film = request.film;
  const uint16_t resolution = request.resolution;
  const uint16_t scan_x_res = request.scan_x_res;
  switch (request.kind) {
    case 0:
    case 1:
      return calibration_series(context, setting, environment, resolution,
                                film != 0 ? kLampFilm : kLampFlatbed);
    case 2:
      if (film == 0) {
        for (uint32_t r : {300u, 600u, 1200u, 2400u}) {
          const uint16_t status = calibration_series(context, setting, environment, r, kLampFlatbed);
          if (status != QRX_OK) return status;
        }
        return QRX_OK;
      }
      if (film == 1 || film == 3) return calibration_series(context, setting, environment, 0, kLampFilm);
      return QRX_OK;
    case 3: {
      uint32_t r = (static_cast<uint32_t>(scan_x_res) + 599) / 600 * 600;
      if (film == 0) {
        if (r == 2400) r = 4800;
        return calibration_series(context, setting, environment, r, kLampFlatbed);
      }
      if (film == 1 || film == 3) return calibration_series(context, setting, environment, r, kLampFilm);
      return QRX_OK;
    }
    default:
      return QRX_OK;
  }
}

}  // namespace qrx::calibration
