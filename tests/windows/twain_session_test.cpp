// The TWAIN data source QRX7730.ds under Wine, driven as an application and the
// source manager drive it: whole sessions (open, negotiate, enable without UI,
// native, memory and file transfers in colour, grey and black and white at 75,
// 300 and 600 dpi, compared with the emulated scanner's chart), the state
// machine's sequence errors, capability values refused or rounded, a transfer
// cancelled part way, and a second application kept off a scanner in use.
//
//   twain_session_test.exe [--ds PATH]     PATH defaults to QRX7730.ds beside the program
//   twain_session_test.exe --ds PATH --dialog SHOT.bmp
//                                          the scan dialog: a screenshot, Scan pressed
//   twain_session_test.exe --ds PATH --bench FILE.bmp
//                                          A4 at 300 dpi colour by native transfer (bench/)
//
// The scanner is QRX7730_DEVICE when set, else the built-in emulated one (sim:).
#include <cmath>
#include <cstring>
#include <string>

#include "harness.h"
#include "twain_chart.h"
#include "twain_client.h"
#include "twain_tests.h"

using namespace qrx::wintest;

namespace {

std::string beside_program(const char* name) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string directory(path, n);
  return directory.substr(0, directory.find_last_of("\\/") + 1) + name;
}

// Shading files go to a directory of this test's own, emptied of an earlier run's.
void use_temp_directory(const char* name) {
  char here[MAX_PATH];
  GetCurrentDirectoryA(sizeof here, here);
  const std::string directory = std::string(here) + "\\" + name;
  CreateDirectoryA(directory.c_str(), nullptr);
  const std::string scanner = directory + "\\sim-seed-7730";
  for (const char* file : {"QRX7730A.SHD", "QRX7730B.SHD", "QRX7730C.SHD", "QRX7730D.SHD",
                           "QRX7730E.SHD", "QRX7730F.SHD", "QRX7730H.SHD", "QRX7730O.dat"}) {
    DeleteFileA((scanner + "\\" + file).c_str());
  }
  SetEnvironmentVariableA("TMP", directory.c_str());
  SetEnvironmentVariableA("TEMP", directory.c_str());
}

void default_environment(const char* name, const char* value) {
  char buffer[8];
  if (GetEnvironmentVariableA(name, buffer, sizeof buffer) == 0) SetEnvironmentVariableA(name, value);
}

}  // namespace

int main(int argc, char** argv) {
  std::string ds = beside_program("QRX7730.ds");
  std::string dialog_shot, role, bench_file;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--ds") == 0 && i + 1 < argc) {
      ds = argv[++i];
    } else if (std::strcmp(argv[i], "--dialog") == 0 && i + 1 < argc) {
      dialog_shot = argv[++i];
    } else if (std::strcmp(argv[i], "--bench") == 0 && i + 1 < argc) {
      bench_file = argv[++i];
    } else if (std::strcmp(argv[i], "--hold") == 0 && i + 1 < argc) {
      role = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: twain_session_test.exe [--ds PATH] [--dialog SHOT.bmp | --bench FILE.bmp]\n");
      return 2;
    }
  }
  default_environment("QRX7730_DEVICE", "sim:");
  // The emulated scanner runs fast; the dialog's whole-glass preview reads 877
  // lines, which a scanner 50 times faster than real time outruns under load.
  default_environment("QRX7730_SIM", dialog_shot.empty() ? "speed=50" : "speed=10");
  if (!role.empty()) return hold_scanner(ds, role);
  if (!bench_file.empty()) return bench_native(ds, bench_file);
  set_process_tag(dialog_shot.empty() ? "twain" : "twain-dialog");
  use_temp_directory(dialog_shot.empty() ? "qrx-twain-session" : "qrx-twain-dialog");
  note("data source %s", ds.c_str());
  if (!dialog_shot.empty()) {
    check_dialog(ds, dialog_shot);
    note("all checks passed");
    return 0;
  }
  check_state_machine(ds);
  check_capabilities(ds);
  check_sessions(ds);
  check_cancel(ds);
  check_second_application(ds);
  note("all checks passed");
  return 0;
}
