// qrxscan: scans with the QRX7730 through the library's 32 exported functions, as
// any host application does, with the options users of scanimage know:
//
//   qrxscan [-d DEVICE] [--resolution DPI] [--mode Color|Gray] [--depth 8|16]
//           [-l MM] [-t MM] [-x MM] [-y MM] [--format FORMAT] [-o FILE] [scan]
//   qrxscan -L | -T | [-d DEVICE] info | [-d DEVICE] calibrate [DPI]
//
// Messages go to the error output, so that the image can go to the standard output.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

#include "commands.h"
#include "qrx7730.h"
#include "scan.h"
#include "scan_options.h"
#include "wait_notice.h"

namespace {

// Set by the first SIGINT or SIGTERM: the scan stops cleanly. A second one ends
// the program at once.
static_assert(std::atomic<bool>::is_always_lock_free);
std::atomic<bool> g_interrupted{false};

extern "C" void on_interrupt(int signal) {
  g_interrupted.store(true);
  std::signal(signal, SIG_DFL);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qrx::qrxscan;
  ScanRequest request;
  std::string error;
  if (!parse_scan_request(argc, argv, request, error)) {
    std::fprintf(stderr, "qrxscan: %s\n%sTry 'qrxscan --help' for more information.\n",
                 error.c_str(), usage_line().c_str());
    return kExitUsage;
  }
  // Text on the standard output appears line by line even through a pipe; an
  // image written there keeps full buffering.
  if (request.action != Action::kScan) std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);

  switch (request.action) {
    case Action::kHelp:
      std::fputs(help_text().c_str(), stdout);
      return kExitDone;
    case Action::kVersion: {
      uint32_t version = 0;
      GetQuarnAPIVersion(nullptr, &version);
      std::printf("qrxscan %s (qrx7730 library interface version %u)\n", QRX7730_VERSION_STRING,
                  version);
      return kExitDone;
    }
    default:
      break;
  }

  std::signal(SIGINT, on_interrupt);
  std::signal(SIGTERM, on_interrupt);
  WaitNotice notice(stderr);
  switch (request.action) {
    case Action::kListDevices:
      return list_devices(request, notice);
    case Action::kSelfTest:
      return run_self_tests(request, notice);
    case Action::kInfo:
      return show_info(request, notice);
    case Action::kCalibrate:
      return calibrate(request, notice);
    default:
      return run_scan(request, notice, g_interrupted);
  }
}
