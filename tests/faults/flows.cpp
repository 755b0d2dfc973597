// The host's whole flows of the fault matrix, through the exports as a host
// makes them: find, initialise and calibrate; find and scan at three resolutions
// and depths; the film light's warm-up; the film light's warm-up, a film
// calibration and a scan of the transparency; each self-test.
#include <chrono>
#include <thread>

#include "faults/matrix_fixture.h"

namespace qrx::test {

namespace {

constexpr uint32_t kInch = 2400;  // 2400 dpi units

emu::Options quiet_scanner() {
  emu::Options options;
  options.sensor_noise = false;  // so that a scan that succeeds is byte for byte the clean one
  return options;
}

void append_value(std::vector<uint8_t>& product, uint32_t value) {
  for (int i = 0; i < 4; ++i) product.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

bool FaultMatrix::Host::ok(const char* call, QRX_BOOL returned) {
  if (returned == QRX_TRUE) return true;
  if (result.status == QRX_OK) {
    result.status = test.last_error();
    result.failed_call = call;
  }
  return false;
}

bool FaultMatrix::open_and_initialise(Host& host, uint8_t light) {
  if (!host.ok("FindScannerEx", FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID)) ||
      !host.ok("InitializeScanner", InitializeScanner(nullptr))) {
    return false;
  }
  const QRX_BOOL set = SetLamp(nullptr, light);
  // The film light is selected although this model reports no film adapter.
  if (light == QRX_LAMP_FILM && set == QRX_FALSE && last_error() == QRX_E_NO_FILM_ADAPTER) {
    return true;
  }
  return host.ok("SetLamp", set);
}

bool FaultMatrix::warm_up(Host& host) {
  for (int poll = 0; poll < 200; ++poll) {
    if (GetLampStatus(nullptr, 0) == QRX_TRUE) return true;
    if ((last_error() & 0xFF00) != QRX_LAMP_WARMING_UP) return host.ok("GetLampStatus", QRX_FALSE);
    gate.sleep_ms(1000);
  }
  return host.ok("GetLampStatus", QRX_FALSE);
}

QRX_BOOL FaultMatrix::poll_calibration_status() {
  uint8_t status = 2;
  const auto since = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - since < std::chrono::minutes(2)) {
    const QRX_BOOL result = GetCalibrationStatus(nullptr, &status);
    if (status != 2) return result;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ADD_FAILURE() << "the background calibration never ended";
  return QRX_FALSE;
}

void FaultMatrix::scan(Host& host, uint16_t resolution, uint8_t depth, uint32_t x, uint32_t y,
                       uint32_t width, uint32_t length, uint8_t film_area) {
  ScanParameter p{};
  p.xRes = p.yRes = resolution;
  p.BitsPerPixel = depth;
  p.ScanningArea = {4 * x, 4 * y, 4 * width, 4 * length};
  p.FilmArea = film_area;
  if (!host.ok("SetScanParameter", SetScanParameter(nullptr, &p)) ||
      !host.ok("StartScanEx", StartScanEx(nullptr, nullptr)) ||
      !host.ok("GetCalibrationStatus", poll_calibration_status())) {
    return;
  }
  DataStatus data{};
  bool read_all = host.ok("GetDataStatus", GetDataStatus(nullptr, &data));
  std::vector<uint8_t>& image = host.result.product;
  // A line at a time, as a host must when GetDataStatus armed the line filter.
  for (uint32_t left = data.LinesLeft; read_all && left > 0; --left) {
    const size_t at = image.size();
    image.resize(at + data.LineBytes);
    read_all = host.ok("ReadScan", ReadScan(nullptr, nullptr, image.data() + at, data.LineBytes));
  }
  // A host stops the scan however the reading went.
  host.ok("StopScanEx", StopScanEx(nullptr, nullptr));
}

const std::vector<FaultMatrix::Flow>& FaultMatrix::flows() {
  static const std::vector<Flow> all = [] {
    std::vector<Flow> list;
    const emu::Options quiet = quiet_scanner();
    list.push_back(
        {"calibrate", quiet, true, false, [](FaultMatrix& t) {
           Host host{t, {}};
           if (t.open_and_initialise(host, QRX_LAMP_FLATBED)) {
             host.ok("DoCalibration", DoCalibration(nullptr, 0, 0, 300));
           }
           // What the calibration stored is what it made.
           for (const auto& [name, bytes] : t.library_files()) {
             host.result.product.insert(host.result.product.end(), name.begin(), name.end());
             host.result.product.insert(host.result.product.end(), bytes.begin(), bytes.end());
           }
           return host.result;
         }});
    struct ScanCase {
      const char* name;
      uint16_t resolution;
      uint8_t depth;
      uint32_t x, y, width, length;
    };
    // Over the chart's grey ramp and colour patches; the 1200 dpi window short,
    // since every line of it is read across the whole sensor.
    for (const ScanCase& c :
         {ScanCase{"scan_300_colour", 300, 24, 800, 1000, 2 * kInch, kInch},
          ScanCase{"scan_1200_48bit", 1200, 48, 2000, 2800, kInch / 2, kInch / 8},
          ScanCase{"scan_150_grey", 150, 8, 0, 800, 3 * kInch, 2 * kInch}}) {
      list.push_back({c.name, quiet, false, true, [c](FaultMatrix& t) {
                        Host host{t, {}};
                        if (t.open_and_initialise(host, QRX_LAMP_FLATBED)) {
                          t.scan(host, c.resolution, c.depth, c.x, c.y, c.width, c.length);
                        }
                        return host.result;
                      }});
    }
    // Without stored shading: StartScanEx calibrates at four resolutions on a
    // thread of the library's, which holds the scanner until it ends.
    list.push_back({"scan_300_calibrating", quiet, false, false, [](FaultMatrix& t) {
                      Host host{t, {}};
                      if (t.open_and_initialise(host, QRX_LAMP_FLATBED)) {
                        t.scan(host, 300, 24, 800, 1000, kInch, kInch / 2);
                      }
                      return host.result;
                    }});
    emu::Options film = quiet;
    film.film_light = emu::Options::FilmLight::kWarm;
    list.push_back({"lamp_warm_up", film, false, true, [](FaultMatrix& t) {
                      Host host{t, {}};
                      if (!t.open_and_initialise(host, QRX_LAMP_FILM)) return host.result;
                      // Polled a second apart until it is no longer warming up.
                      t.warm_up(host);
                      if (host.result.status == QRX_OK) {
                        host.result.product = {
                            t.lib().status_block.lamp_state(),
                            static_cast<uint8_t>(t.scanner->peek_register(0x03) & 0x30),
                            static_cast<uint8_t>(t.scanner->carriage_steps() == 0.0)};
                      }
                      return host.result;
                    }});
    // The film light warmed up, film calibrated at 600 dpi, and a colour scan of
    // the transparency (which lies at the film area's corner, x 17760, y 5440).
    list.push_back({"film_scan", film, false, true, [](FaultMatrix& t) {
                      Host host{t, {}};
                      if (t.open_and_initialise(host, QRX_LAMP_FILM) && t.warm_up(host) &&
                          host.ok("DoCalibration", DoCalibration(nullptr, 1, 0, 600))) {
                        t.scan(host, 600, 24, 17760 + 400, 5440 + 1200, kInch / 2, kInch / 8, 1);
                      }
                      return host.result;
                    }});
    struct SelfTestCase {
      const char* name;
      uint8_t code, parameter;
    };
    for (const SelfTestCase& c :
         {SelfTestCase{"selftest_4_run", 4, 0}, SelfTestCase{"selftest_5_light_dark", 5, 0},
          SelfTestCase{"selftest_6_calibration", 6, 0},
          SelfTestCase{"selftest_50_uniformity", 50, 0}, SelfTestCase{"selftest_51_inputs", 51, 0},
          SelfTestCase{"selftest_52_inputs", 52, 0}, SelfTestCase{"selftest_53_outputs", 53, 0xFF},
          SelfTestCase{"selftest_54_outputs", 54, 0x05}, SelfTestCase{"selftest_56_memory", 56, 0},
          SelfTestCase{"selftest_57_move", 57, 1}}) {
      list.push_back({c.name, quiet, false, true, [c](FaultMatrix& t) {
                        Host host{t, {}};
                        if (!t.open_and_initialise(host, QRX_LAMP_FLATBED)) return host.result;
                        const QRX_BOOL passed = TestScanner(nullptr, c.code, c.parameter, 0);
                        const uint16_t verdict = t.last_error();
                        // The input-line tests pass with their bit map as the status.
                        if ((c.code == 51 || c.code == 52) && passed == QRX_TRUE) {
                          append_value(host.result.product, verdict);
                        } else {
                          host.ok("TestScanner", passed);
                        }
                        if (c.code == 53 || c.code == 54) {
                          host.result.product.push_back(t.scanner->peek_register(0x6C));
                          host.result.product.push_back(t.scanner->peek_register(0xA6));
                        }
                        return host.result;
                      }});
    }
    return list;
  }();
  return all;
}

}  // namespace qrx::test
