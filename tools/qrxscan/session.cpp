// The scanner session (see session.h).
#include "session.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "emulator/options.h"
#include "emulator/scanner.h"
#include "platform/local_socket.h"
#include "qrx7730.h"
#include "status_text.h"

namespace qrx::qrxscan {
namespace {

// How long the light may be polled while it warms up, and how often.
constexpr auto kLampPoll = std::chrono::milliseconds(500);
constexpr int kLampPolls = 240;
// How long SetLamp is retried while the carriage is still moving (the library
// itself gives up with a reset after 30 s of refusals).
constexpr auto kCarriagePoll = std::chrono::milliseconds(250);
constexpr int kCarriagePolls = 160;

// The daemon socket of a device path "sim:/path", or empty.
std::string daemon_socket(const std::string& device) {
  if (device.rfind("sim:", 0) != 0 || device.size() <= 4 || device[4] == '#') return {};
  return device.substr(4);
}

bool in_process_emulator(const std::string& device) {
  return device == "sim:" || device.rfind("sim:#", 0) == 0;
}

}  // namespace

uint16_t Session::last_status() {
  uint16_t status = 0;
  GetScannerStatus(nullptr, &status);
  return status;
}

bool Session::report(const char* call, const std::string& what) {
  const uint16_t status = last_status();
  std::fprintf(stderr, "qrxscan: cannot %s: %s failed with %s\n", what.c_str(), call,
               describe_status(status).c_str());
  explain_device_failure(status);
  return false;
}

void Session::explain_device_failure(uint16_t status) {
  const std::string socket = daemon_socket(device_);
  if (!socket.empty()) {
    if (platform::LocalStream::connect(socket) == nullptr) {
      if (was_open_) {
        std::fprintf(stderr, "qrxscan: the connection to the emulator daemon at %s was lost\n",
                     socket.c_str());
      } else {
        std::fprintf(stderr,
                     "qrxscan: no emulator daemon listens on %s (start one with: qrx7730-sim "
                     "--socket %s)\n",
                     socket.c_str(), socket.c_str());
      }
    }
    return;
  }
  if (in_process_emulator(device_) && !was_open_) {
    // The built-in scanner could not be made: let the emulator say why.
    const char* text = std::getenv(emu::kOptionsVariable);
    emu::Options options;
    std::string error;
    if (!emu::parse_options(text != nullptr ? text : "", options, error) ||
        emu::Scanner::create(options, error) == nullptr) {
      std::fprintf(stderr, "qrxscan: %s: %s\n", emu::kOptionsVariable, error.c_str());
    }
  }
  if (status == QRX_E_DATA_FILE) {
    std::fprintf(stderr,
                 "qrxscan: the library's data file QRX7730N.dat is missing: it belongs in "
                 "share/qrx7730/ of the install prefix, or in $QRX7730_INSTALL_DIR\n");
  }
}

bool Session::open(const std::string& device) {
  close();
  device_ = device;
  {
    Waiting waiting(notice_, "the scanner at " + device + " (another program may be using it)");
    if (!FindScannerEx(nullptr, device.c_str(), QRX7730_USB_PRODUCT_ID)) {
      return report("FindScannerEx", "open the scanner at " + device);
    }
  }
  open_ = was_open_ = true;
  return true;
}

bool Session::initialise() {
  Waiting waiting(notice_, "the carriage to go home and find the scan origin");
  if (!InitializeScanner(nullptr)) return report("InitializeScanner", "initialise the scanner");
  return true;
}

bool Session::select_flatbed_light() {
  int polls = 0;
  while (!SetLamp(nullptr, QRX_LAMP_FLATBED)) {
    if (last_status() != QRX_E_CARRIAGE_MOVING || ++polls > kCarriagePolls) {
      return report("SetLamp", "select the flatbed light");
    }
    if (polls == 4) std::fprintf(stderr, "qrxscan: waiting for the carriage to stop ...\n");
    std::this_thread::sleep_for(kCarriagePoll);
  }
  for (int poll = 0; !GetLampStatus(nullptr, 0); ++poll) {
    const uint16_t status = last_status();
    if ((status & 0xFF00) != QRX_LAMP_WARMING_UP || poll >= kLampPolls) {
      return report("GetLampStatus", "get the light ready");
    }
    if (poll == 2) std::fprintf(stderr, "qrxscan: waiting for the light to warm up ...\n");
    std::this_thread::sleep_for(kLampPoll);
  }
  return true;
}

void Session::close() {
  if (!open_) return;
  TerminateScanner(nullptr);
  open_ = false;
}

}  // namespace qrx::qrxscan
