// The light self-tests (see self_test_light.h).
#include "self_test/self_test_light.h"

#include <algorithm>
#include <climits>

#include "calibration/acquisition.h"
#include "calibration/exposure.h"
#include "pass/carriage.h"
#include "qrx7730.h"
#include "transport/registers.h"

namespace qrx::self_test {
namespace {

constexpr uint32_t kMeasuredLines = 3;
constexpr uint32_t kSensorWidth = 20544;  // 2400 dpi units, the whole sensor
constexpr uint32_t kLightCheckResolution = 2400;
constexpr uint32_t kLightCheckSegments = 4;
constexpr uint32_t kLightShareMin = 23;  // percent of the largest sample
constexpr uint8_t kDarkLimit = 81;
constexpr double kUniformityLimit = 0.7;
constexpr uint8_t kServiceModeRegister = 0x60;  // bit 0 set while a service test runs

// Calls visit(p) for every position of a channel block of `pixels` samples that a
// verdict looks at.
template <class Visit>
void for_each_judged(uint32_t pixels, uint32_t segments, Visit visit) {
  const uint32_t length = segments != 0 ? pixels / segments : 0;
  for (uint32_t s = 0; s < segments; ++s) {
    for (uint32_t p = s * length + kSegmentSkip; p < (s + 1) * length; ++p) visit(p);
  }
}

uint32_t block_pixels(const std::vector<uint8_t>& lines, uint32_t line_count) {
  return line_count != 0 ? static_cast<uint32_t>(lines.size() / line_count / 3) : 0;
}

// Smallest and largest judged sample over every line and colour.
void extremes(const std::vector<uint8_t>& lines, uint32_t line_count, uint32_t segments,
              int& smallest, int& largest) {
  const uint32_t pixels = block_pixels(lines, line_count);
  smallest = INT_MAX;
  largest = INT_MIN;
  for (uint32_t l = 0; l < line_count; ++l) {
    for (uint32_t c = 0; c < 3; ++c) {
      const uint8_t* block = lines.data() + (static_cast<size_t>(l) * 3 + c) * pixels;
      for_each_judged(pixels, segments, [&](uint32_t p) {
        smallest = std::min<int>(smallest, block[p]);
        largest = std::max<int>(largest, block[p]);
      });
    }
  }
}

// Three standing lines of the whole sensor with the flatbed light.
uint16_t acquire(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                 uint32_t resolution, const transport::ExposureSet& exposure,
                 std::vector<uint8_t>& lines) {
  calibration::AcquisitionRequest request;
  request.port_type = context.link.port_type();
  request.resolution = static_cast<uint16_t>(resolution);
  request.bits_per_pixel = 24;
  request.line_count = kMeasuredLines;
  request.start_pixel = 0;
  request.width = kSensorWidth;
  request.light_source = QRX_LAMP_FLATBED;
  request.channels = 3;
  request.exposure = exposure;
  request.no_motor = 1;
  return calibration::calibration_lines(context, setting, request, lines);
}

uint16_t allocate(calibration::ChannelLines& white, calibration::ChannelLines& dark) {
  if (!calibration::allocate_lines(white)) return QRX_E_NOMEM_SELFTEST_1;
  if (!calibration::allocate_lines(dark)) return QRX_E_NOMEM_SELFTEST_2;
  return QRX_OK;
}

uint16_t light_measurement(transport::ScannerContext& context,
                           const settings::ScannerSetting& setting,
                           const calibration::PassEnvironment& environment,
                           calibration::ChannelLines& white, calibration::ChannelLines& dark) {
  using calibration::PassKind;
  transport::ExposureSet exposure;
  uint16_t status = QRX_OK;
  for (PassKind kind : {PassKind::kDark, PassKind::kWhite}) {
    const calibration::ReferencePass pass{.kind = kind,
                                          .resolution = kLightCheckResolution,
                                          .lamp_mode = QRX_LAMP_FLATBED,
                                          .environment = environment};
    status = calibration::reference_pass(context, setting, pass, exposure, {white, dark});
    if (status != QRX_OK) return status;
  }
  status = pass::return_home(context, setting, true, true);
  if (status != QRX_OK) return status;
  std::vector<uint8_t> lines;
  status = acquire(context, setting, kLightCheckResolution, exposure, lines);
  if (status != QRX_OK) return status;
  return judge_light(lines, kMeasuredLines, kLightCheckSegments);
}

uint16_t dark_measurement(transport::ScannerContext& context,
                          const settings::ScannerSetting& setting) {
  transport::ExposureSet exposure;
  uint16_t status = calibration::dark_exposure(context, setting, exposure);
  if (status != QRX_OK) return status;
  std::vector<uint8_t> lines;
  status = acquire(context, setting, kLightCheckResolution, exposure, lines);
  if (status != QRX_OK) return status;
  return judge_dark(lines, kMeasuredLines, kLightCheckSegments);
}

}  // namespace

uint16_t judge_light(const std::vector<uint8_t>& lines, uint32_t line_count, uint32_t segments) {
  int smallest = 0, largest = 0;
  extremes(lines, line_count, segments, smallest, largest);
  if (largest < smallest) return QRX_TEST_LIGHT_UNEVEN;  // nothing measured
  return smallest >= largest * static_cast<int>(kLightShareMin) / 100 ? QRX_OK
                                                                      : QRX_TEST_LIGHT_UNEVEN;
}

uint16_t judge_dark(const std::vector<uint8_t>& lines, uint32_t line_count, uint32_t segments) {
  int smallest = 0, largest = 0;
  extremes(lines, line_count, segments, smallest, largest);
  if (largest < smallest) return QRX_TEST_DARK_TOO_BRIGHT;  // nothing measured
  return largest < kDarkLimit ? QRX_OK : QRX_TEST_DARK_TOO_BRIGHT;
}

uint16_t judge_uniformity(const std::vector<uint8_t>& lines, uint32_t line_count, uint32_t segments,
                          const calibration::ChannelLines& dark) {
  const uint32_t pixels = block_pixels(lines, line_count);
  for (uint32_t c = 0; c < 3; ++c) {
    int smallest = INT_MAX, largest = INT_MIN;
    for_each_judged(pixels, segments, [&](uint32_t p) {
      const int dark_level = p < dark[c].size() ? dark[c][p] / 256 : 0;
      int sum = 0;
      for (uint32_t l = 0; l < line_count; ++l) {
        sum += lines[(static_cast<size_t>(l) * 3 + c) * pixels + p] - dark_level;
      }
      const int mean = sum / static_cast<int>(line_count);
      smallest = std::min(smallest, mean);
      largest = std::max(largest, mean);
    });
    // A colour without any light is not uniform light.
    if (largest < smallest || largest + smallest <= 0) return QRX_E_SELFTEST_UNIFORMITY;
    const double spread =
        static_cast<double>(largest - smallest) / static_cast<double>(largest + smallest);
    if (spread > kUniformityLimit) return QRX_E_SELFTEST_UNIFORMITY;
  }
  return QRX_OK;
}

uint16_t light_and_dark_check(transport::ScannerContext& context,
                              const settings::ScannerSetting& setting,
                              const calibration::PassEnvironment& environment) {
  calibration::ChannelLines white, dark;
  uint16_t status = allocate(white, dark);
  if (status != QRX_OK) return status;
  transport::DeviceLink& link = context.link;
  if (!transport::write_bit_field(link, kServiceModeRegister, 0, 0, 1)) return QRX_E_RESET;
  status = pass::return_home(context, setting, true, false);
  if (status == QRX_OK) status = pass::home_and_step_out(context, setting);
  if (status == QRX_OK) status = light_measurement(context, setting, environment, white, dark);
  if (status == QRX_OK) status = dark_measurement(context, setting);
  if (status == QRX_OK) status = pass::return_home(context, setting, true, true);
  // The service bit is cleared on every way out once it was set.
  const bool cleared = transport::write_bit_field(link, kServiceModeRegister, 0, 0, 0);
  if (status == QRX_OK && !cleared) status = QRX_E_RESET;
  return status;
}

uint16_t light_uniformity(transport::ScannerContext& context,
                          const settings::ScannerSetting& setting,
                          const calibration::PassEnvironment& environment, uint8_t parameter) {
  uint32_t resolution = 0, segments = 0;
  switch (parameter) {
    case 0:
      resolution = 600;
      segments = 1;
      break;
    case 1:
      resolution = 2400;
      segments = 4;
      break;
    case 2:
      resolution = 2400;
      segments = 8;
      break;
    default:
      return QRX_E_PARAMETER;
  }
  calibration::ChannelLines white, dark;
  uint16_t status = allocate(white, dark);
  if (status != QRX_OK) return status;
  transport::ExposureSet exposure;
  const calibration::ReferencePass dark_pass{.kind = calibration::PassKind::kDark,
                                             .resolution = resolution,
                                             .lamp_mode = QRX_LAMP_FLATBED,
                                             .environment = environment};
  status = calibration::reference_pass(context, setting, dark_pass, exposure, {white, dark});
  if (status != QRX_OK) return status;
  const calibration::ExposurePass white_pass{.resolution = resolution,
                                             .lamp_mode = QRX_LAMP_FLATBED,
                                             .dark = &dark,
                                             .environment = environment.exposure};
  status = calibration::adjust_exposure(context, setting, white_pass, exposure);
  if (status != QRX_OK) return status;
  std::vector<uint8_t> lines;
  status = acquire(context, setting, resolution, exposure, lines);
  if (status != QRX_OK) return status;
  return judge_uniformity(lines, kMeasuredLines, segments, dark);
}

}  // namespace qrx::self_test
