// The fixed cost of a scan made by a new process, as `scanimage` pays it at every
// run: the emulator daemon serves one scanner, and two host processes one after
// the other each open it, initialise it, start a one-inch colour scan at 300 dpi,
// read it and stop. The first finds a fresh scanner (no calibration stored yet);
// the repeat finds it as the first left it. Reported in scanner-seconds (the
// daemon's time, which the hosts' clock follows at the same speed), per process:
//   open   FindScannerEx (with its retries while the carriage is still on its way
//          home from the scan before)
//   init   InitializeScanner
//   start  from there to the first line delivered: light, window, StartScanEx,
//          GetCalibrationStatus until the scan runs, the first ReadScan
//   stop   StopScanEx and TerminateScanner
//   fixed  the sum of the four (the reading of the inch itself left out)
// and "repeat_over_first", the repeat's fixed cost over the first's.
//
// The program runs itself as each host: repeat_open --host SOCKET SPEED prints
// "phases OPEN INIT START STOP" in scanner-seconds.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "qrx7730.h"

namespace {

// Twenty times real time: the fixed cost of about half a minute runs in a second
// or two, while the hosts' own computing stays small beside the scanner's waits.
constexpr double kSpeed = 20;
// Scanner-seconds between the two processes, as a user pauses between two runs.
constexpr uint32_t kPauseMs = 5000;
constexpr uint32_t kInch = 2400;

struct Phases {
  double open = 0, init = 0, start = 0, stop = 0;
  double fixed() const { return open + init + start + stop; }
};

// ---- The host process ----------------------------------------------------------

uint16_t last_error() {
  uint16_t status = 0;
  GetScannerStatus(nullptr, &status);
  return status;
}

int host(const std::string& device, double speed) {
  qrx::platform::ScaledClock clock(speed);
  qrx::platform::ScopedClock installed(clock);
  const auto seconds = [&] { return static_cast<double>(clock.now_us()) / 1e6; };
  const auto fail = [](const char* step) {
    std::printf("failed %s %04x\n", step, last_error());
    return 2;
  };
  Phases p;
  double t = seconds();
  // A carriage still on its way home refuses the open for a while.
  while (FindScannerEx(nullptr, device.c_str(), QRX7730_USB_PRODUCT_ID) == QRX_FALSE) {
    if (last_error() != QRX_E_CARRIAGE_MOVING || seconds() - t > 120) return fail("FindScannerEx");
    clock.sleep_ms(100);
  }
  p.open = seconds() - t;
  t = seconds();
  if (!InitializeScanner(nullptr)) return fail("InitializeScanner");
  p.init = seconds() - t;
  t = seconds();
  if (!SetLamp(nullptr, QRX_LAMP_FLATBED)) return fail("SetLamp");
  ScanParameter parameter{};
  parameter.xRes = parameter.yRes = 300;
  parameter.BitsPerPixel = 24;
  parameter.ScanningArea = {0, 0, 4 * kInch, 4 * kInch};
  if (!SetScanParameter(nullptr, &parameter)) return fail("SetScanParameter");
  DataStatus status{};
  if (!GetDataStatus(nullptr, &status)) return fail("GetDataStatus");
  if (!StartScanEx(nullptr, nullptr)) return fail("StartScanEx");
  uint8_t calibrating = 2;
  while (calibrating == 2) {
    if (!GetCalibrationStatus(nullptr, &calibrating)) return fail("GetCalibrationStatus");
    if (calibrating == 2) clock.sleep_ms(10);
  }
  std::vector<uint8_t> line(status.LineBytes);
  if (!ReadScan(nullptr, nullptr, line.data(), status.LineBytes)) return fail("ReadScan");
  p.start = seconds() - t;
  for (uint32_t n = 1; n < status.LinesLeft; ++n) {
    if (!ReadScan(nullptr, nullptr, line.data(), status.LineBytes)) return fail("ReadScan");
  }
  t = seconds();
  if (!StopScanEx(nullptr, nullptr)) return fail("StopScanEx");
  TerminateScanner(nullptr);
  p.stop = seconds() - t;
  std::printf("phases %.3f %.3f %.3f %.3f\n", p.open, p.init, p.start, p.stop);
  return 0;
}

// ---- The benchmark: daemon and hosts as child processes -------------------------

std::string self_path() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

// Starts argv with its output on a pipe; the child's pid, or -1.
pid_t spawn(const std::vector<std::string>& args, FILE** output) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return -1;
  }
  *output = fdopen(fds[0], "r");
  return pid;
}

bool read_line(FILE* from, std::string& line) {
  char buffer[512];
  if (from == nullptr || std::fgets(buffer, sizeof buffer, from) == nullptr) return false;
  line = buffer;
  return true;
}

// One host process to its end; its phases, or an error text.
bool run_host(const std::string& socket, Phases& p, std::string& error) {
  FILE* out = nullptr;
  const pid_t pid = spawn({self_path(), "--host", socket, std::to_string(kSpeed)}, &out);
  if (pid < 0) {
    error = "cannot start a host";
    return false;
  }
  std::string line, last;
  while (read_line(out, line)) last = line;
  if (out != nullptr) std::fclose(out);
  int status = 0;
  waitpid(pid, &status, 0);
  if (std::sscanf(last.c_str(), "phases %lf %lf %lf %lf", &p.open, &p.init, &p.start, &p.stop) !=
      4) {
    error = "host: " + last;
    return false;
  }
  return true;
}

void BM_FirstAndRepeatScanFromNewProcesses(benchmark::State& state) {
  setenv("QRX7730_INSTALL_DIR", QRX_DATA_DIR, 1);
  Phases first_sum, repeat_sum;
  for (auto _ : state) {
    char pattern[] = "/tmp/qrx-repeat-open-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      state.SkipWithError("no temporary directory");
      return;
    }
    const std::string dir = pattern;
    setenv("TMPDIR", dir.c_str(), 1);  // no calibration stored yet
    const std::string socket = dir + "/sim.sock";
    FILE* daemon_out = nullptr;
    const pid_t daemon =
        spawn({QRX_SIM_DAEMON, "--socket", socket, "--speed", std::to_string(kSpeed)}, &daemon_out);
    std::string line, error;
    Phases first, repeat;
    bool ok =
        daemon > 0 && read_line(daemon_out, line) && line.find("serving") != std::string::npos;
    if (!ok) error = "the daemon did not start";
    ok = ok && run_host("sim:" + socket, first, error);
    if (ok) std::this_thread::sleep_for(std::chrono::duration<double>(kPauseMs / 1000.0 / kSpeed));
    ok = ok && run_host("sim:" + socket, repeat, error);
    if (daemon > 0) {
      kill(daemon, SIGTERM);
      waitpid(daemon, nullptr, 0);
    }
    if (daemon_out != nullptr) std::fclose(daemon_out);
    const std::string remove = "rm -rf '" + dir + "'";
    if (std::system(remove.c_str()) != 0) {
      // A directory left in /tmp does no harm.
    }
    if (!ok) {
      state.SkipWithError(error.c_str());
      return;
    }
    for (auto [sum, p] : {std::pair{&first_sum, first}, std::pair{&repeat_sum, repeat}}) {
      sum->open += p.open;
      sum->init += p.init;
      sum->start += p.start;
      sum->stop += p.stop;
    }
  }
  const double n = static_cast<double>(state.iterations());
  for (auto [name, p] : {std::pair{"first_", first_sum}, std::pair{"repeat_", repeat_sum}}) {
    state.counters[std::string(name) + "open_s"] = p.open / n;
    state.counters[std::string(name) + "init_s"] = p.init / n;
    state.counters[std::string(name) + "start_s"] = p.start / n;
    state.counters[std::string(name) + "stop_s"] = p.stop / n;
    state.counters[std::string(name) + "fixed_s"] = p.fixed() / n;
  }
  state.counters["repeat_over_first"] =
      first_sum.fixed() > 0 ? repeat_sum.fixed() / first_sum.fixed() : 0;
}
BENCHMARK(BM_FirstAndRepeatScanFromNewProcesses)->Unit(benchmark::kSecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--host") == 0) {
    const double speed = std::strtod(argv[3], nullptr);
    if (!(speed > 0)) return 1;
    return host(argv[2], speed);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
