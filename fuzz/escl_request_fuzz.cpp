// The network scanner server's request parser and ScanSettings reader: the
// input is a method (first byte), a path (to the first newline) and a body.
// Besides "no crash": a route names a job only with a job id, HEAD and GET are
// taken alike except for NextDocument, and settings that are taken describe a
// scan the scanner can make — an offered resolution, 8 or 16 bits (a 16-bit
// scan goes into PNG as it is, into JPEG and PDF at 8 bits), a region on the
// glass at least the smallest window, and a library window on the glass (what
// SetScanParameter takes: x + width <= 81664, y + length <= 112256, each at
// least 128).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "routes.h"
#include "scan_settings.h"
#include "scan_window.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

qrx::escl::ScannerModel model() {
  qrx::escl::ScannerModel m;
  m.make = "QUARN";
  m.model = "RV-70413K";
  m.resolutions = {75, 150, 300, 600, 1200, 2400, 4800};
  m.optical_dpi = 2400;
  m.max_width = 2552;
  m.max_height = 3508;
  m.min_extent = 4;
  m.area_unit = 9600;
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qrx::escl;
  static const char* const kMethods[] = {"GET", "HEAD", "POST", "DELETE", "PUT", "OPTIONS"};
  if (size == 0) return 0;
  const std::string_view method = kMethods[data[0] % 6];
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t newline = rest.find('\n');
  const std::string_view path = rest.substr(0, newline);
  const std::string_view body =
      newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);

  const Route route = route_request(method, path);
  if (!route.job.empty()) check(is_job_id(route.job));
  if (route.endpoint == Endpoint::kNotFound) check(!route.method_allowed);
  if (method == "HEAD" && route.endpoint != Endpoint::kNextDocument) {
    check(route.method_allowed == route_request("GET", path).method_allowed);
  }
  if (is_plain_host(path)) {
    for (char c : path) check(c != '\r' && c != '\n' && c != '/' && c != '@');
  }

  const ScannerModel scanner = model();
  ScanSettings settings;
  const SettingsVerdict verdict = parse_scan_settings(body, scanner, settings);
  check(verdict.http_status == 200 || verdict.http_status == 400 || verdict.http_status == 409);
  if (verdict.http_status != 200) return 0;
  bool offered = false;
  for (uint16_t dpi : scanner.resolutions) offered |= dpi == settings.resolution;
  check(offered);
  check(depth_of(settings.mode) == 8 || depth_of(settings.mode) == 16);
  const Region& r = settings.region;
  check(r.width >= scanner.min_extent && r.height >= scanner.min_extent);
  check(r.x + r.width <= scanner.max_width && r.y + r.height <= scanner.max_height);
  const QRX_Area window = window_for(r, settings.resolution, scanner);
  check(window.width >= 128 && window.length >= 128);
  check(window.x + window.width <= 81664 && window.y + window.length <= 112256);
  return 0;
}
