// A host process for the multi-process scan tests: it drives the library's
// exports against a scanner shared through the qrx7730-sim daemon, on a clock
// running as fast as the daemon's.
//
//   scan_client PATH SPEED scan LENGTH [calibrate]
//       opens and initialises the scanner, selects the flatbed light (and
//       calibrates 300 dpi when asked), starts a 300 dpi colour scan one inch wide
//       and LENGTH (2400 dpi units) long, prints "scanning", waits for a line on
//       its input, reads every line, prints "lines GOT EXPECTED", stops and
//       prints "stopped RESULT STATUS" (hexadecimal status)
//   scan_client PATH SPEED hold
//       calibrates 300 dpi and starts a 48-bit scan of the whole glass width that
//       it never reads, prints "scanning" and waits for its input to close
//   scan_client PATH SPEED idle
//       opens the scanner, prints "open" and waits for its input to close
//   scan_client PATH SPEED try
//       makes every call that would disturb a running scan and prints
//       "codes" and their hexadecimal statuses: FindScannerEx, SetLamp,
//       DoCalibration, StartScanEx, GetCalibrationStatus, StopScanEx
//
// Exit status: 0 done, 1 bad arguments, 2 a call failed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "api/library.h"
#include "imaging/image_ring.h"
#include "platform/clock.h"
#include "qrx7730.h"

namespace {

constexpr int kBadArguments = 1;
constexpr int kCallFailed = 2;
constexpr uint32_t kInch = 2400;

uint16_t last_error() {
  uint16_t status = 0;
  GetScannerStatus(nullptr, &status);
  return status;
}

bool call(const char* what, QRX_BOOL result) {
  if (result == QRX_TRUE) return true;
  std::printf("failed %s %04x\n", what, last_error());
  std::fflush(stdout);
  return false;
}

bool set_window(uint32_t length, uint32_t width = kInch, uint8_t depth = 24) {
  ScanParameter p{};
  p.xRes = p.yRes = 300;
  p.BitsPerPixel = depth;
  p.ScanningArea = {0, 0, 4 * width, 4 * length};
  return call("SetScanParameter", SetScanParameter(nullptr, &p));
}

// Raw lines out of the ring, as the read path takes them.
uint32_t read_lines(uint32_t expected) {
  auto& context = qrx::api::library().context;
  std::string line(context.read_line_bytes, '\0');
  uint32_t got = 0;
  const auto since = std::chrono::steady_clock::now();
  while (got < expected && std::chrono::steady_clock::now() - since < std::chrono::minutes(1)) {
    if (context.image_ring->read(reinterpret_cast<uint8_t*>(line.data()), context.read_line_bytes)) {
      ++got;
      context.lines_to_read.fetch_sub(1);
    } else {
      qrx::platform::clock().sleep_ms(10);
    }
  }
  return got;
}

// FindScannerEx, again while the carriage of an earlier scan is still on its way
// home, as a host retries.
bool open_scanner(const char* path) {
  const auto since = std::chrono::steady_clock::now();
  while (FindScannerEx(nullptr, path, QRX7730_USB_PRODUCT_ID) == QRX_FALSE) {
    if (last_error() != QRX_E_CARRIAGE_MOVING ||
        std::chrono::steady_clock::now() - since > std::chrono::minutes(1)) {
      return call("FindScannerEx", QRX_FALSE);
    }
    qrx::platform::clock().sleep_ms(100);
  }
  return true;
}

int scan(const char* path, uint32_t length, bool calibrate) {
  if (!open_scanner(path) || !call("InitializeScanner", InitializeScanner(nullptr)) ||
      !call("SetLamp", SetLamp(nullptr, QRX_LAMP_FLATBED))) {
    return kCallFailed;
  }
  if (calibrate && !call("DoCalibration", DoCalibration(nullptr, 0, 0, 300))) return kCallFailed;
  if (!set_window(length) || !call("StartScanEx", StartScanEx(nullptr, nullptr))) {
    return kCallFailed;
  }
  uint8_t status = 2;
  while (status == 2) {
    if (!call("GetCalibrationStatus", GetCalibrationStatus(nullptr, &status))) return kCallFailed;
    if (status == 2) qrx::platform::clock().sleep_ms(10);
  }
  std::printf("scanning\n");
  std::fflush(stdout);
  std::string go;
  std::getline(std::cin, go);
  const uint32_t expected = length * 300 / kInch;
  const uint32_t got = read_lines(expected);
  std::printf("lines %u %u\n", got, expected);
  qrx::api::library().scan_values.line_count = 0;  // what reading every line leaves
  const QRX_BOOL stopped = StopScanEx(nullptr, nullptr);
  std::printf("stopped %d %04x\n", stopped, last_error());
  std::fflush(stdout);
  return got == expected && stopped == QRX_TRUE ? 0 : kCallFailed;
}

// A 48-bit scan of the whole glass width, four inches long, never read: it soon
// fills the controller's buffer and the carriage stands waiting for a reader.
int hold(const char* path) {
  if (!open_scanner(path) || !call("InitializeScanner", InitializeScanner(nullptr)) ||
      !call("SetLamp", SetLamp(nullptr, QRX_LAMP_FLATBED)) ||
      !call("DoCalibration", DoCalibration(nullptr, 0, 0, 300)) ||
      !set_window(4 * kInch, 20416, 48) || !call("StartScanEx", StartScanEx(nullptr, nullptr))) {
    return kCallFailed;
  }
  uint8_t status = 2;
  while (status == 2) {
    if (!call("GetCalibrationStatus", GetCalibrationStatus(nullptr, &status))) return kCallFailed;
    if (status == 2) qrx::platform::clock().sleep_ms(10);
  }
  std::printf("scanning\n");
  std::fflush(stdout);
  std::string never;
  std::getline(std::cin, never);
  return 0;
}

int try_calls(const char* path) {
  uint16_t codes[6];
  FindScannerEx(nullptr, path, QRX7730_USB_PRODUCT_ID);
  codes[0] = last_error();
  SetLamp(nullptr, QRX_LAMP_FLATBED);
  codes[1] = last_error();
  DoCalibration(nullptr, 0, 0, 300);
  codes[2] = last_error();
  set_window(kInch);
  StartScanEx(nullptr, nullptr);
  codes[3] = last_error();
  uint8_t status = 0;
  GetCalibrationStatus(nullptr, &status);
  codes[4] = last_error();
  StopScanEx(nullptr, nullptr);
  codes[5] = last_error();
  std::printf("codes");
  for (uint16_t code : codes) std::printf(" %04x", code);
  std::printf("\n");
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return kBadArguments;
  const double speed = std::strtod(argv[2], nullptr);
  if (!(speed > 0)) return kBadArguments;
  qrx::platform::ScaledClock clock(speed);
  qrx::platform::ScopedClock installed(clock);
  const std::string mode = argv[3];
  int result = kBadArguments;
  if (mode == "scan" && argc >= 5) {
    result = scan(argv[1], static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)),
                  argc >= 6 && std::string(argv[5]) == "calibrate");
  } else if (mode == "idle") {
    if (!open_scanner(argv[1])) return kCallFailed;
    std::printf("open\n");
    std::fflush(stdout);
    std::string never;
    std::getline(std::cin, never);
    result = 0;
  } else if (mode == "hold") {
    result = hold(argv[1]);
  } else if (mode == "try") {
    result = try_calls(argv[1]);
  }
  TerminateScanner(nullptr);
  return result;
}
