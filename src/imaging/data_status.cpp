// Data status (see data_status.h).
#include "imaging/data_status.h"

#include <algorithm>

#include "imaging/line_assembly.h"
#include "settings/scanner_model.h"
#include "settings/tuning_index.h"

namespace qrx::imaging {
namespace {

constexpr uint32_t kLowestFilteredResolution = 300;
constexpr uint32_t kGreyFromColourUpTo = 150;

// The depth the delivered lines have, from the bytes per pixel the host was told:
// an 8-bit grey request read as colour still delivers one byte per pixel.
uint32_t delivered_depth(const ScanValues& values) {
  if (values.line_pixels == 0) return values.stored.BitsPerPixel;
  switch (values.line_bytes / values.line_pixels) {
    case 1:
      return 8;
    case 2:
      return 16;
    case 3:
      return 24;
    case 6:
      return 48;
    default:
      return values.stored.BitsPerPixel;
  }
}

// What the scanner takes for one delivered line: the raw lines down it is made of,
// each with the line period and exposures of the resolution across, depth and
// channels it is read with (which may differ from those asked: grey read as colour,
// low resolutions read higher).
uint32_t line_time(const ReportedScan& scan) {
  const transport::ScannerContext& context = scan.context;
  const uint8_t lamp_select = scan.lamp_select;
  const uint32_t depth = context.bit_depth;
  uint32_t exposures = depth == 8 || depth == 16 ? 1 : 3;
  if ((lamp_select & QRX_LAMP_INFRARED) != 0) ++exposures;
  const int group = settings::port_group(context.link.port_type());
  const int depth_class = settings::depth_class(depth);
  const int res = settings::resolution_index(context.scan_x_res);
  const uint32_t period = lamp_select == QRX_LAMP_FLATBED
                              ? scan.setting.LINEPERIOD_BOOK(group, depth_class, res)
                              : scan.setting.LINEPERIOD_FAU(group, depth_class, res);
  const uint64_t time = uint64_t{period} * exposures * reduction(context).down * 8 / 30;
  return static_cast<uint32_t>(std::min<uint64_t>(time, UINT32_MAX));
}

}  // namespace

int kernel_for_resolution(uint32_t y_resolution) {
  switch (y_resolution) {
    case 300:
      return 0;
    case 600:
      return 1;
    case 1200:
      return 2;
    case 2400:
      return 3;
    case 4800:
      return 4;
    case 9600:
      return 5;
    default:
      return y_resolution >= kLowestFilteredResolution ? 0 : -1;
  }
}

uint16_t data_status(const ReportedScan& scan, ScanValues& values, LineFilterUse line_filter,
                     DataStatus& status) {
  const transport::ScannerContext& context = scan.context;
  JaggyFilter& filter = line_filter.filter;
  uint32_t& filter_armed = line_filter.armed;
  ScanParameter& stored = values.stored;
  status.LineBytes = values.half_x_res == 1 ? values.line_bytes * 2 : values.line_bytes;
  status.LinesLeft = values.line_count;
  // Grey read as colour: the stored depth says so. Not when the scan is read higher
  // (oversampled) and so as grey.
  if (stored.FilmArea == 0 && stored.BitsPerPixel == 8 && stored.xRes <= kGreyFromColourUpTo &&
      context.gray_from_color != 0 && context.bit_depth == 24) {
    stored.BitsPerPixel = 24;
  }
  status.LineTime = line_time(scan);
  // Restarting the filter now would drop the lines it holds and read the scan
  // again from where it stands: a host polling for progress would lose lines.
  if (scan.reading) {
    if (filter_armed != 0) status.LinesLeft = filter.total_lines - filter.delivered;
    return QRX_OK;
  }

  filter_armed = 0;
  const int kernel_index = kernel_for_resolution(stored.yRes);
  if (kernel_index < 0) return QRX_OK;
  const settings::JaggyKernel rows = scan.setting.JAGGY_FILTER_SETTING(kernel_index);
  FilterKernel kernel{};
  for (uint32_t r = 0; r < kKernelSize; ++r) {
    for (uint32_t c = 0; c < kKernelSize; ++c) kernel[r * kKernelSize + c] = rows[r][c];
  }
  const KernelShape shape = analyse_kernel(kernel);
  if (shape.empty_rows == kKernelSize) return QRX_OK;
  if (!kernel_fits_window(kernel, shape)) return QRX_E_FILTER_KERNEL;

  filter_armed = 1;
  filter.kernel = kernel;
  filter.shape = shape;
  const uint64_t length = uint64_t{stored.ScanningArea.length} * settings::kOpticalResolution /
                          settings::kConversionResolution;
  filter.total_lines = static_cast<uint32_t>(length * stored.yRes / settings::kOpticalResolution);
  filter.line_bytes = status.LineBytes;
  filter.filter_depth = delivered_depth(values);
  filter.restart();
  return QRX_OK;
}

}  // namespace qrx::imaging
