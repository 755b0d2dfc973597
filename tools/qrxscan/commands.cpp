// -L, -T, info and calibrate (see commands.h).
#include "commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "abilities.h"
#include "qrx7730.h"
#include "scan.h"
#include "session.h"
#include "status_text.h"
#include "transport/backends/usb_discovery.h"

namespace qrx::qrxscan {
namespace {

std::string where(const std::string& device) {
  if (device == "sim:" || device.rfind("sim:#", 0) == 0) return "emulated in this process";
  if (device.rfind("sim:", 0) == 0) return "emulator daemon";
  return "USB";
}

std::string trimmed(const std::string& line) {
  const size_t hash = line.find('#');
  std::string text = line.substr(0, hash);
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

}  // namespace

std::string devices_file() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::string(config) + "/qrx7730/devices";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config/qrx7730/devices";
  return {};
}

std::vector<std::string> read_devices_file(const std::string& path) {
  std::vector<std::string> devices;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    const std::string device = trimmed(line);
    if (!device.empty()) devices.push_back(device);
  }
  return devices;
}

std::vector<std::string> devices_to_list(const std::vector<std::string>& given) {
  std::vector<std::string> devices = {"sim:"};
  // Scanners on USB with this build's vendor and product ids.
  std::vector<std::string> candidates = qrx::transport::list_usb_scanners();
  const std::string config = devices_file();
  if (!config.empty()) {
    const std::vector<std::string> listed = read_devices_file(config);
    candidates.insert(candidates.end(), listed.begin(), listed.end());
  }
  candidates.insert(candidates.end(), given.begin(), given.end());
  for (const std::string& device : candidates) {
    if (std::find(devices.begin(), devices.end(), device) == devices.end())
      devices.push_back(device);
  }
  return devices;
}

int list_devices(const ScanRequest& request, WaitNotice& notice) {
  int found = 0;
  for (const std::string& device : devices_to_list(request.devices)) {
    Session session(notice);
    if (!session.open(device)) continue;  // reported, with the reason
    Abilities abilities;
    std::string error;
    if (!query_abilities(abilities, error)) {
      std::fprintf(stderr, "qrxscan: %s: %s\n", device.c_str(), error.c_str());
      continue;
    }
    std::printf("device `%s' is a %s %s flatbed scanner (%s)\n", device.c_str(),
                abilities.vendor.c_str(), abilities.model.c_str(), where(device).c_str());
    ++found;
  }
  if (found == 0) {
    std::fprintf(stderr, "qrxscan: no scanners were found\n");
    return kExitFailed;
  }
  return kExitDone;
}

int show_info(const ScanRequest& request, WaitNotice& notice) {
  Session session(notice);
  if (!session.open(request.device)) return kExitFailed;
  uint32_t version = 0;
  GetQuarnAPIVersion(nullptr, &version);
  Abilities abilities;
  std::string error;
  if (!query_abilities(abilities, error)) {
    std::fprintf(stderr, "qrxscan: %s\n", error.c_str());
    return kExitFailed;
  }
  std::printf("scanner at %s (interface version %u)\n", request.device.c_str(), version);
  std::printf("  vendor:        %s\n", abilities.vendor.c_str());
  std::printf("  model:         %s\n", abilities.model.c_str());
  std::printf("  firmware:      %s\n", abilities.firmware.c_str());
  std::printf("  sensor:        %s\n", abilities.sensor.c_str());
  std::printf("  port type:     %u\n", abilities.port_type);
  std::printf("  resolutions:  ");
  for (uint16_t dpi : abilities.resolutions) std::printf(" %u", dpi);
  std::printf(" dpi\n");
  std::printf("  optical:       %u dpi\n", abilities.optical_dpi);
  std::printf("  flatbed area:  %.1f x %.1f mm (%.2f x %.2f in)\n", abilities.glass_width_mm(),
              abilities.glass_length_mm(), abilities.glass_width_mm() / 25.4,
              abilities.glass_length_mm() / 25.4);
  uint8_t status = 0;
  if (ReadRegister(0x41, &status)) {
    std::printf("  carriage:      %s, motor %s\n", (status & 0x08) ? "at home" : "away from home",
                (status & 0x01) ? "running" : "stopped");
  }
  return kExitDone;
}

int calibrate(const ScanRequest& request, WaitNotice& notice) {
  using Clock = std::chrono::steady_clock;
  const auto seconds_since = [](Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
  };
  Session session(notice);
  if (!session.open(request.device)) return kExitFailed;
  auto start = Clock::now();
  if (!session.initialise()) return kExitFailed;
  std::printf("scan origin located (%.1f s)\n", seconds_since(start));
  start = Clock::now();
  {
    Waiting waiting(notice, "calibration at " + std::to_string(request.calibrate_dpi) +
                                " dpi (exposure, then dark and white shading)");
    if (!DoCalibration(nullptr, 0, 0, request.calibrate_dpi)) {
      session.report("DoCalibration", "calibrate");
      return kExitFailed;
    }
  }
  std::printf("calibrated at %u dpi: exposure set, dark and white shading stored (%.1f s)\n",
              request.calibrate_dpi, seconds_since(start));
  return kExitDone;
}

int run_self_tests(const ScanRequest& request, WaitNotice& notice) {
  struct SelfTest {
    uint8_t code;
    uint8_t argument;
    const char* name;
  };
  // The tests that leave the scanner as it was and end by themselves.
  static const SelfTest kTests[] = {
      {51, 0, "input lines and home sensor"},
      {56, 0, "controller memory"},
      {5, 0, "sensor with light and in the dark"},
      {50, 0, "light uniformity at 600 dpi"},
  };
  Session session(notice);
  if (!session.open(request.device)) return kExitFailed;
  int failures = 0;
  for (const SelfTest& test : kTests) {
    QRX_BOOL passed;
    {
      Waiting waiting(notice, std::string("the self-test of the ") + test.name);
      passed = TestScanner(nullptr, test.code, test.argument, 0);
    }
    const uint16_t status = Session::last_status();
    if (passed && test.code == 51) {
      std::printf("%-36s read: home sensor %s (lines 0x%02X)\n", test.name,
                  (status & 1) ? "at home" : "away", status);
    } else if (passed) {
      std::printf("%-36s passed\n", test.name);
    } else {
      std::printf("%-36s FAILED: %s\n", test.name, describe_status(status).c_str());
      ++failures;
    }
  }
  std::fflush(stdout);
  return failures == 0 ? kExitDone : kExitFailed;
}

}  // namespace qrx::qrxscan
