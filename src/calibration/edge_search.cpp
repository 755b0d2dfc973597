// The reference edge search (see edge_search.h).
#include "calibration/edge_search.h"

#include "calibration/acquisition.h"
#include "calibration/exposure.h"
#include "qrx7730.h"
#include "settings/tuning_index.h"

namespace qrx::calibration {
namespace {

constexpr uint16_t kResolution = 600;
constexpr uint32_t kStartPixel = 8684;
constexpr uint32_t kWidth = 1796;  // 449 pixels at 600 dpi
constexpr uint32_t kColumnA = 0;
constexpr uint32_t kColumnB = 355;
constexpr uint32_t kColumnPixels = 94;
constexpr uint32_t kScanLines = 256;
constexpr int kBlackRun = 5;
constexpr int kColumnSeparation = 23;
constexpr uint16_t kWhiteExposure = 3141;
// 3.2 mm from the mark's edge to the scan origin, in motor steps (1200 per inch).
constexpr double kOriginBeyondEdge = 151.18110236220477;

AcquisitionRequest edge_request(const transport::ScannerContext& context) {
  AcquisitionRequest r;
  r.port_type = context.link.port_type();
  r.resolution = kResolution;
  r.bits_per_pixel = 8;
  r.feed_steps = 4;
  r.line_count = 1;
  r.start_pixel = kStartPixel;
  r.width = kWidth;
  r.light_source = 1;
  r.channels = 1;
  r.no_motor = 1;
  return r;
}

uint32_t mean_of(const uint8_t* line, uint32_t first, uint32_t count) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < count; ++i) sum += line[first + i];
  return count != 0 ? sum / count : 0;
}

}  // namespace

int column_edge(const std::vector<uint32_t>& means, uint32_t threshold) {
  int run = 0;
  for (size_t line = 0; line < means.size(); ++line) {
    if (threshold <= means[line]) {
      run = 0;
      continue;
    }
    if (++run == kBlackRun) return static_cast<uint16_t>(static_cast<int>(line) - kBlackRun);
  }
  return -1;
}

uint16_t search_reference_edge(transport::ScannerContext& context,
                               const settings::ScannerSetting& setting, uint16_t& edge_position,
                               uint16_t& second_value) {
  edge_position = 0;
  second_value = 0;
  AcquisitionRequest request = edge_request(context);
  uint16_t status = dark_exposure(context, setting, request.exposure);
  if (status != QRX_OK) return status;
  request.led_on = 0;
  std::vector<uint8_t> lines;
  status = calibration_lines(context, setting, request, lines);
  if (status != QRX_OK) return status;
  const uint32_t pixels = static_cast<uint32_t>(lines.size());  // one line
  const uint32_t dark = mean_of(lines.data(), 0, pixels);

  request.exposure.channel = {255, 255, 255, 255};
  request.exposure.exposure = {kWhiteExposure, kWhiteExposure, kWhiteExposure, 1};
  request.led_on = 1;
  status = calibration_lines(context, setting, request, lines);
  if (status != QRX_OK) return status;
  const uint32_t white = mean_of(lines.data(), 0, static_cast<uint32_t>(lines.size()));
  if (dark > 0.8 * white) return QRX_E_REFERENCE_MARK;
  const uint32_t threshold = (white - dark) * setting.EDGE_THRESHOLD_RATE() / 100;

  request.line_count = kScanLines;
  request.no_motor = 0;
  request.return_home = true;
  status = calibration_lines(context, setting, request, lines);
  if (status != QRX_OK) return status;
  // The return home after the read has programmed a move since: take the line
  // size from the block itself.
  const uint32_t line_bytes = static_cast<uint32_t>(lines.size() / kScanLines);
  if (line_bytes < kColumnB + kColumnPixels) return QRX_E_REFERENCE_MARK;
  std::vector<uint32_t> column_a(kScanLines), column_b(kScanLines);
  for (uint32_t l = 0; l < kScanLines; ++l) {
    const uint8_t* line = lines.data() + static_cast<size_t>(l) * line_bytes;
    column_a[l] = mean_of(line, kColumnA, kColumnPixels);
    column_b[l] = mean_of(line, kColumnB, kColumnPixels);
  }
  lines = std::vector<uint8_t>();

  const int edge_a = column_edge(column_a, threshold);
  if (edge_a < 0) return QRX_E_REFERENCE_MARK;
  int edge_b = column_edge(column_b, threshold);
  if (edge_b < 0) edge_b = static_cast<int>(kScanLines);
  // A run starting at line 0 makes edge A wrap to 65535: no usable mark.
  if (edge_b - edge_a < kColumnSeparation) return QRX_E_REFERENCE_MARK;

  const uint16_t ramp = setting.SLOPETABLESTEP_BOOK(settings::port_group(context.link.port_type()),
                                                    0, settings::resolution_index(600), 0);
  edge_position = static_cast<uint16_t>(static_cast<double>(edge_a * 1200 / 600 + ramp + 4) +
                                        kOriginBeyondEdge);
  second_value = 0;
  return QRX_OK;
}

}  // namespace qrx::calibration
