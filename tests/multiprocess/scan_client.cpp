// A host process for the multi-process scan tests: it drives the library's
// exports against a scanner shared through the qrx7730-sim daemon, on a clock
// running as fast as the daemon's.
//
//   scan_client PATH SPEED scan LENGTH [calibrate]
//       opens and initialises the scanner (again while a carriage is still on its
//       way home, as a host retries), selects the flatbed light (and calibrates
//       300 dpi when asked), starts a 300 dpi colour scan one inch wide and LENGTH
//       (2400 dpi units) long, prints "scanning", waits for its input to close,
//       reads every line, prints "lines GOT EXPECTED", stops and prints
//       "stopped RESULT STATUS" (hexadecimal status)
//   scan_client PATH SPEED hold
//       calibrates 300 dpi and starts a 48-bit scan of the whole glass width, four
//       inches long, prints "scanning" and never reads it (it soon fills the
//       scanner's buffer and the carriage stands); waits for its input to close
//   scan_client PATH SPEED leave [stop] terminate|reopen
//       starts the scan of hold and prints "scanning"; waits for a line on its
//       input (the scanner may have vanished meanwhile); with stop calls
//       StopScanEx and prints "stopped RESULT STATUS"; then
//       terminate: TerminateScanner, prints "terminated" and waits for its input
//       to close, the process alive all the while;
//       reopen: FindScannerEx again without TerminateScanner, prints "found
//       RESULT STATUS", and scans as scan does (an inch long) without waiting
//   scan_client PATH SPEED idle
//       opens the scanner, prints "open" and waits for its input to close
//   scan_client PATH SPEED init
//       opens and initialises the scanner and prints "origin N", the scan origin
//       it now works with (in motor steps from home)
//   scan_client PATH SPEED try
//       makes every call that would disturb a running scan and prints "codes" and
//       their hexadecimal statuses: FindScannerEx, SetLamp, DoCalibration,
//       StartScanEx, GetCalibrationStatus, StopScanEx
//
// Exit status: 0 done, 1 bad arguments, 2 a call failed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "api/library.h"
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

void say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

void wait_for_input_to_close() {
  std::string line;
  while (std::getline(std::cin, line)) {
  }
}

bool set_window(uint32_t length, uint32_t width = kInch, uint8_t depth = 24) {
  ScanParameter p{};
  p.xRes = p.yRes = 300;
  p.BitsPerPixel = depth;
  p.ScanningArea = {0, 0, 4 * width, 4 * length};
  return call("SetScanParameter", SetScanParameter(nullptr, &p));
}

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

// Opened, initialised, light selected, calibrated when asked, window set, scan
// started and "scanning" said.
bool start(const char* path, bool calibrate, uint32_t length, uint32_t width, uint8_t depth) {
  if (!open_scanner(path) || !call("InitializeScanner", InitializeScanner(nullptr)) ||
      !call("SetLamp", SetLamp(nullptr, QRX_LAMP_FLATBED)) ||
      (calibrate && !call("DoCalibration", DoCalibration(nullptr, 0, 0, 300))) ||
      !set_window(length, width, depth) || !call("StartScanEx", StartScanEx(nullptr, nullptr))) {
    return false;
  }
  uint8_t status = 2;
  while (status == 2) {
    if (!call("GetCalibrationStatus", GetCalibrationStatus(nullptr, &status))) return false;
    if (status == 2) qrx::platform::clock().sleep_ms(10);
  }
  say("scanning");
  return true;
}

// Reads every line of the running scan, stops it and says how both went.
int read_and_stop() {
  DataStatus status{};
  if (!call("GetDataStatus", GetDataStatus(nullptr, &status))) return kCallFailed;
  std::vector<uint8_t> line(status.LineBytes);
  uint32_t got = 0;
  while (got < status.LinesLeft && ReadScan(nullptr, nullptr, line.data(), status.LineBytes)) ++got;
  std::printf("lines %u %u\n", got, status.LinesLeft);
  const QRX_BOOL stopped = StopScanEx(nullptr, nullptr);
  std::printf("stopped %d %04x\n", stopped, last_error());
  std::fflush(stdout);
  return got == status.LinesLeft && stopped == QRX_TRUE ? 0 : kCallFailed;
}

int scan(const char* path, uint32_t length, bool calibrate) {
  if (!start(path, calibrate, length, kInch, 24)) return kCallFailed;
  wait_for_input_to_close();
  return read_and_stop();
}

// A scan left unread, then stopped or not, and the scanner closed or opened again.
int leave(const char* path, bool stop, bool reopen) {
  if (!start(path, true, 4 * kInch, 20416, 48)) return kCallFailed;
  std::string line;
  std::getline(std::cin, line);
  if (stop) {
    const QRX_BOOL stopped = StopScanEx(nullptr, nullptr);
    std::printf("stopped %d %04x\n", stopped, last_error());
    std::fflush(stdout);
  }
  if (!reopen) {
    TerminateScanner(nullptr);
    say("terminated");
    wait_for_input_to_close();
    return 0;
  }
  const QRX_BOOL found = FindScannerEx(nullptr, path, QRX7730_USB_PRODUCT_ID);
  std::printf("found %d %04x\n", found, last_error());
  std::fflush(stdout);
  if (!start(path, false, kInch, kInch, 24)) return kCallFailed;
  return read_and_stop();
}

int try_calls(const char* path) {
  std::vector<uint16_t> codes;
  FindScannerEx(nullptr, path, QRX7730_USB_PRODUCT_ID);
  codes.push_back(last_error());
  SetLamp(nullptr, QRX_LAMP_FLATBED);
  codes.push_back(last_error());
  DoCalibration(nullptr, 0, 0, 300);
  codes.push_back(last_error());
  set_window(kInch);
  StartScanEx(nullptr, nullptr);
  codes.push_back(last_error());
  uint8_t status = 0;
  GetCalibrationStatus(nullptr, &status);
  codes.push_back(last_error());
  StopScanEx(nullptr, nullptr);
  codes.push_back(last_error());
  std::printf("codes");
  for (uint16_t code : codes) std::printf(" %04x", code);
  say("");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return kBadArguments;
  const double speed = std::strtod(argv[2], nullptr);
  if (!(speed > 0)) return kBadArguments;
  qrx::platform::ScaledClock clock(speed);
  qrx::platform::ScopedClock installed(clock);
  const char* path = argv[1];
  const std::string mode = argv[3];
  int result = kBadArguments;
  if (mode == "scan" && argc >= 5) {
    result = scan(path, static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)),
                  argc >= 6 && std::string(argv[5]) == "calibrate");
  } else if (mode == "hold") {
    result = start(path, true, 4 * kInch, 20416, 48) ? 0 : kCallFailed;
    wait_for_input_to_close();
  } else if (mode == "leave" && argc >= 5) {
    const std::vector<std::string> options(argv + 4, argv + argc);
    const bool stop = options.front() == "stop";
    const std::string then = options.back();
    if (then == "terminate" || then == "reopen") result = leave(path, stop, then == "reopen");
  } else if (mode == "idle") {
    result = open_scanner(path) ? 0 : kCallFailed;
    if (result == 0) say("open");
    wait_for_input_to_close();
  } else if (mode == "try") {
    result = try_calls(path);
  } else if (mode == "init") {
    result = kCallFailed;
    if (open_scanner(path) && call("InitializeScanner", InitializeScanner(nullptr))) {
      std::printf("origin %u\n", qrx::api::library().context.reference_offset);
      result = 0;
    }
  }
  TerminateScanner(nullptr);
  return result;
}
