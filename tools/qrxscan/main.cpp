// qrxscan: drives the scanner through the library's 32 exported functions, as a
// host application does.
//
//   qrxscan [--device PATH] info            open the scanner and report what it is and can do
//   qrxscan [--device PATH] calibrate [DPI] find the scan origin and calibrate at DPI (600)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qrx7730.h"

namespace {

int fail(const char* what) {
  uint16_t status = 0;
  GetScannerStatus(nullptr, &status);
  std::fprintf(stderr, "qrxscan: %s failed with status 0x%04X\n", what, status);
  return 1;
}

uint16_t read_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void print_abilities(const std::vector<uint8_t>& stream) {
  size_t at = 0;
  while (at + 8 <= stream.size()) {
    const uint16_t tag = read_u16(&stream[at]);
    const uint16_t kind = read_u16(&stream[at + 2]);
    const uint16_t length = read_u16(&stream[at + 4]);
    const uint16_t value = read_u16(&stream[at + 6]);
    const uint8_t* payload = &stream[at + 8];
    at += 8 + ((kind == QRX_ABILITY_KIND_BYTES || kind == QRX_ABILITY_KIND_BLOCK) ? length : 0);
    if (kind == QRX_ABILITY_KIND_END) break;
    switch (tag) {
      case 1: std::printf("  vendor:        %.12s\n", reinterpret_cast<const char*>(payload)); break;
      case 2: std::printf("  model:         %.20s\n", reinterpret_cast<const char*>(payload)); break;
      case 3: std::printf("  firmware:      %.8s\n", reinterpret_cast<const char*>(payload)); break;
      case 4: std::printf("  sensor:        %.12s\n", reinterpret_cast<const char*>(payload)); break;
      case 5: std::printf("  port type:     %u\n", value); break;
      case 13:
        std::printf("  resolutions:  ");
        for (uint16_t i = 0; i + 4 <= length; i += 4) std::printf(" %u", read_u16(payload + i));
        std::printf(" dpi\n");
        break;
      case 14: std::printf("  optical:       %u dpi\n", value); break;
      case 17: {
        uint32_t area[4];
        std::memcpy(area, payload, sizeof area);
        std::printf("  flatbed area:  %.2f x %.2f in\n", area[2] / 9600.0, area[3] / 9600.0);
        break;
      }
      default: break;
    }
  }
}

int info(const std::string& device) {
  if (!FindScannerEx(nullptr, device.c_str(), QRX7730_USB_PRODUCT_ID)) return fail("FindScannerEx");
  uint32_t version = 0;
  GetQuarnAPIVersion(nullptr, &version);
  std::printf("scanner at %s (interface version %u)\n", device.c_str(), version);
  uint16_t size = 0;
  GetScannerAbilitySize(nullptr, &size);
  std::vector<uint8_t> stream(size);
  GetScannerAbilityXp(nullptr, stream.data());
  print_abilities(stream);
  uint8_t status = 0;
  if (ReadRegister(0x41, &status)) {
    std::printf("  carriage:      %s, motor %s\n", (status & 0x08) ? "at home" : "away from home",
                (status & 0x01) ? "running" : "stopped");
  }
  TerminateScanner(nullptr);
  return 0;
}

int calibrate(const std::string& device, uint16_t resolution) {
  using Clock = std::chrono::steady_clock;
  const auto seconds_since = [](Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
  };
  if (!FindScannerEx(nullptr, device.c_str(), QRX7730_USB_PRODUCT_ID)) return fail("FindScannerEx");
  auto start = Clock::now();
  if (!InitializeScanner(nullptr)) return fail("InitializeScanner");
  std::printf("scan origin located (%.1f s)\n", seconds_since(start));
  start = Clock::now();
  if (!DoCalibration(nullptr, 0, 0, resolution)) return fail("DoCalibration");
  std::printf("calibrated at %u dpi: exposure set, dark and white shading stored (%.1f s)\n",
              resolution, seconds_since(start));
  TerminateScanner(nullptr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string device = "sim:";
  std::string command;
  std::string value;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--device" && i + 1 < argc) {
      device = argv[++i];
    } else if (command.empty() && arg[0] != '-') {
      command = arg;
    } else if (value.empty() && arg[0] != '-') {
      value = arg;
    } else {
      command = "help";
    }
  }
  if (command == "info" && value.empty()) return info(device);
  if (command == "calibrate") {
    const long dpi = value.empty() ? 600 : std::strtol(value.c_str(), nullptr, 10);
    if (dpi > 0 && dpi <= 4800) return calibrate(device, static_cast<uint16_t>(dpi));
  }
  std::fprintf(stderr, "usage: qrxscan [--device PATH] info\n"
                       "       qrxscan [--device PATH] calibrate [DPI]\n");
  return 2;
}
