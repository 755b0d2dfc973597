// The whole flow of a first scan on the fast in-process emulator, through the
// exports as a host makes it: find, initialise (with the reference search),
// select the light, set an A4 window at 300 dpi colour, start (which calibrates in
// the background, no shading files being there yet), poll until the scan has
// started, read every line, stop. Reported: wall time per flow, the image bytes
// per second, and (counter "x_memcpy") the flow's time over a memcpy of the image
// bytes timed in the same run.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "qrx7730.h"

namespace {

// The emulated scanner 100 times faster than real time. Much faster and the
// scanner's own work (making the lines) falls behind its clock: the library's
// limits on waiting for data, counted on that clock, then run out first.
constexpr char kSpeed[] = "speed=100";

// An empty temporary directory for the shading files of one flow.
std::string fresh_temp_directory() {
  char pattern[] = "/tmp/qrx-bench-XXXXXX";
  return mkdtemp(pattern) != nullptr ? pattern : "";
}

bool whole_flow(const std::string& path, std::vector<uint8_t>& image, std::string& error) {
  const auto fail = [&](const char* step) {
    uint16_t status = 0;
    GetScannerStatus(nullptr, &status);
    error = std::string(step) + " failed with status " + std::to_string(status);
    return false;
  };
  if (!FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID)) return fail("FindScannerEx");
  if (!InitializeScanner(nullptr)) return fail("InitializeScanner");
  if (!SetLamp(nullptr, QRX_LAMP_FLATBED)) return fail("SetLamp");
  ScanParameter p{};
  p.xRes = p.yRes = 300;
  p.BitsPerPixel = 24;
  // A4, 210 x 297 mm, in 1/9600 inch.
  p.ScanningArea = {0, 0, 210 * 9600 * 10 / 254, 297 * 9600 * 10 / 254};
  if (!SetScanParameter(nullptr, &p)) return fail("SetScanParameter");
  DataStatus status{};
  if (!GetDataStatus(nullptr, &status)) return fail("GetDataStatus");
  if (!StartScanEx(nullptr, nullptr)) return fail("StartScanEx");
  uint8_t calibrating = 2;
  while (calibrating == 2) {
    if (!GetCalibrationStatus(nullptr, &calibrating)) return fail("GetCalibrationStatus");
    if (calibrating == 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  image.resize(static_cast<size_t>(status.LineBytes) * status.LinesLeft);
  constexpr uint32_t kLinesPerRead = 32;
  for (uint32_t line = 0; line < status.LinesLeft; line += kLinesPerRead) {
    const uint32_t n = std::min(kLinesPerRead, status.LinesLeft - line);
    if (!ReadScan(nullptr, nullptr, image.data() + static_cast<size_t>(line) * status.LineBytes,
                  n * status.LineBytes)) {
      return fail("ReadScan");
    }
  }
  if (!StopScanEx(nullptr, nullptr)) return fail("StopScanEx");
  TerminateScanner(nullptr);
  return true;
}

void BM_WholeFlowA4At300Dpi(benchmark::State& state) {
  setenv("QRX7730_SIM", kSpeed, 1);
  setenv("QRX7730_INSTALL_DIR", QRX_DATA_DIR, 1);
  std::vector<uint8_t> image, copy;
  double flow_seconds = 0, memcpy_seconds = 0;
  int flow = 0;
  for (auto _ : state) {
    const std::string temp = fresh_temp_directory();
    setenv("TMPDIR", temp.c_str(), 1);
    const std::string path =
        "sim:#bench-" + std::to_string(getpid()) + "-" + std::to_string(flow++);
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    const bool ok = whole_flow(path, image, error);
    const auto end = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(end - start).count();
    state.SetIterationTime(seconds);
    flow_seconds += seconds;
    const std::string remove = "rm -rf '" + temp + "'";
    if (std::system(remove.c_str()) != 0) {
      // A directory left in /tmp does no harm.
    }
    if (!ok) {
      state.SkipWithError(error.c_str());
      return;
    }
    copy.resize(image.size());
    const auto copy_start = std::chrono::steady_clock::now();
    std::memcpy(copy.data(), image.data(), image.size());
    benchmark::DoNotOptimize(copy.data());
    memcpy_seconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - copy_start).count();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * image.size()));
  state.counters["image_bytes"] = static_cast<double>(image.size());
  state.counters["x_memcpy"] = memcpy_seconds > 0 ? flow_seconds / memcpy_seconds : 0;
}
BENCHMARK(BM_WholeFlowA4At300Dpi)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
