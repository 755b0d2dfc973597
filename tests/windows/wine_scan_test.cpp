// The Windows test of scanning with QRX7730L.DLL, run under Wine: one whole scan of
// the built-in emulated scanner through the exports, and the DLL freed by its host
// while its own threads (a scan's image reader, a background calibration) still
// run: FreeLibrary returns at once, and the DLL unloads once they have ended.
//
//   qrx7730_wine_scan_test.exe                       the whole test
//   qrx7730_wine_scan_test.exe --free-while-reading  a process that frees it mid-scan
//   qrx7730_wine_scan_test.exe --free-while-calibrating
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"

using namespace qrx::wintest;

namespace {

constexpr char kSimPath[] = "sim:";
constexpr char kDllName[] = "QRX7730L.DLL";
constexpr uint32_t kInch = 2400;  // 2400 dpi units

// Shading files go to a directory of this test's own (GetTempPath follows TMP),
// emptied of what an earlier run stored there.
void use_temp_directory(const char* name) {
  char here[MAX_PATH];
  GetCurrentDirectoryA(sizeof here, here);
  const std::string directory = std::string(here) + "\\" + name;
  CreateDirectoryA(directory.c_str(), nullptr);
  // The emulated scanner's own directory in it holds its calibration.
  const std::string scanner = directory + "\\sim-seed-7730";
  for (const char* file : {"QRX7730A.SHD", "QRX7730B.SHD", "QRX7730C.SHD", "QRX7730D.SHD",
                           "QRX7730E.SHD", "QRX7730F.SHD", "QRX7730H.SHD", "QRX7730O.dat"}) {
    DeleteFileA((scanner + "\\" + file).c_str());
  }
  SetEnvironmentVariableA("TMP", directory.c_str());
  SetEnvironmentVariableA("TEMP", directory.c_str());
}

void open_and_set_up(const Exports& x, const ScanParameter& p) {
  CHECK(x.FindScannerEx(nullptr, kSimPath, QRX7730_USB_PRODUCT_ID) == QRX_TRUE,
        "open sim: (0x%04X)", last_status(x));
  CHECK(x.InitializeScanner(nullptr) == QRX_TRUE, "InitializeScanner (0x%04X)", last_status(x));
  CHECK(x.SetLamp(nullptr, QRX_LAMP_FLATBED) == QRX_TRUE, "SetLamp(1)");
  CHECK(x.SetScanParameter(nullptr, &p) == QRX_TRUE, "SetScanParameter (0x%04X)", last_status(x));
}

ScanParameter colour_300(uint32_t x, uint32_t y, uint32_t width, uint32_t length) {
  ScanParameter p{};
  p.xRes = p.yRes = 300;
  p.BitsPerPixel = 24;
  p.ScanningArea = {4 * x, 4 * y, 4 * width, 4 * length};
  return p;
}

void wait_for_calibration(const Exports& x) {
  uint8_t status = 2;
  for (int polls = 0; status == 2; ++polls) {
    CHECK(x.GetCalibrationStatus(nullptr, &status) == QRX_TRUE, "GetCalibrationStatus (0x%04X)",
          last_status(x));
    CHECK(polls < 600000, "the background calibration ends");
    if (status == 2) Sleep(1);
  }
}

double mean_green(const std::vector<uint8_t>& image, uint32_t width, uint32_t x0, uint32_t y0,
                  uint32_t x1, uint32_t y1) {
  double sum = 0;
  for (uint32_t y = y0; y < y1; ++y) {
    for (uint32_t x = x0; x < x1; ++x) sum += image[(size_t{y} * width + x) * 3 + 1];
  }
  return sum / ((x1 - x0) * (y1 - y0));
}

// The host sequence over the corner of the chart's black patch (x from 12000,
// y from 6600): paper at the top left of the window, the patch at the bottom right.
void check_whole_scan(const Exports& x) {
  const ScanParameter p = colour_300(11000, 6000, kInch, kInch * 2 / 3);
  open_and_set_up(x, p);
  DataStatus status{};
  CHECK(x.GetDataStatus(nullptr, &status) == QRX_TRUE, "GetDataStatus");
  CHECK(status.LineBytes == 300 * 3 && status.LinesLeft == 200, "line bytes %u, lines %u",
        status.LineBytes, status.LinesLeft);
  CHECK(x.StartScanEx(nullptr, nullptr) == QRX_TRUE, "StartScanEx (0x%04X)", last_status(x));
  wait_for_calibration(x);
  std::vector<uint8_t> image(size_t{status.LineBytes} * status.LinesLeft);
  for (uint32_t line = 0; line < status.LinesLeft; line += 8) {
    const uint32_t n = status.LinesLeft - line < 8 ? status.LinesLeft - line : 8;
    CHECK(x.ReadScan(nullptr, nullptr, image.data() + size_t{line} * status.LineBytes,
                     n * status.LineBytes) == QRX_TRUE,
          "ReadScan at line %u (0x%04X)", line, last_status(x));
  }
  CHECK(x.StopScanEx(nullptr, nullptr) == QRX_TRUE, "StopScanEx (0x%04X)", last_status(x));
  // The patch starts 1000 units (125 pixels) across and 600 units (75 lines) down.
  const double paper = mean_green(image, 300, 10, 10, 110, 65);
  const double patch = mean_green(image, 300, 140, 90, 290, 190);
  CHECK(paper > 180 && patch < 60, "paper %.1f, black patch %.1f", paper, patch);
  CHECK(x.TerminateScanner(nullptr) == QRX_TRUE, "TerminateScanner");
  note("one whole scan through the exports: paper %.0f, black patch %.0f", paper, patch);
}

// Frees the DLL while a background calibration or a scan's image reader runs, and
// waits for the DLL to leave the process once that thread has ended. The scan is
// seven inches of one inch at 300 dpi, which the ring holds whole, so that its
// reader ends by itself; the scanner runs 5 times real time, so it still reads
// for seconds after the start.
int free_while_running(bool calibrating) {
  set_process_tag(calibrating ? "free-while-calibrating" : "free-while-reading");
  if (calibrating) use_temp_directory("qrx-unload-calibration");  // no shading files yet
  SetEnvironmentVariableA("QRX7730_SIM", calibrating ? "speed=50" : "speed=5");
  Exports x;
  HMODULE module = load_library(x);
  open_and_set_up(x, colour_300(0, 0, kInch, 7 * kInch));
  CHECK(x.StartScanEx(nullptr, nullptr) == QRX_TRUE, "StartScanEx (0x%04X)", last_status(x));
  if (!calibrating) wait_for_calibration(x);  // the scan runs, its reader fills the ring
  const DWORD started = GetTickCount();
  CHECK(FreeLibrary(module) != 0, "FreeLibrary");
  // Had it waited for the thread, the DLL would be gone already.
  CHECK(GetModuleHandleA(kDllName) != nullptr, "the running thread keeps the DLL loaded");
  // The thread lets the DLL go as it ends; its unload then runs on that thread.
  while (GetModuleHandleA(kDllName) != nullptr) {
    CHECK(GetTickCount() - started < 300000, "the DLL is unloaded once its thread has ended");
    Sleep(10);
  }
  note("FreeLibrary returned at once; the DLL left %lu ms later", GetTickCount() - started);
  return 0;
}

int run_parent() {
  SetEnvironmentVariableA("QRX7730_SIM", "speed=50");
  use_temp_directory("qrx-scan-test");
  Exports x;
  HMODULE module = load_library(x);
  check_whole_scan(x);
  FreeLibrary(module);
  for (const char* mode : {"--free-while-reading", "--free-while-calibrating"}) {
    PROCESS_INFORMATION child = start_self(mode);
    CHECK(wait_for_exit(child, 600000) == 0, "%s passed its checks", mode);
    CloseHandle(child.hProcess);
  }
  note("all checks passed");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--free-while-reading") == 0) {
    return free_while_running(false);
  }
  if (argc > 1 && std::strcmp(argv[1], "--free-while-calibrating") == 0) {
    return free_while_running(true);
  }
  return run_parent();
}
