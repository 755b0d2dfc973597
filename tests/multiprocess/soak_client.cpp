// One host process of the soak test: for a given time it makes random framed
// calls and whole scans through the exports on a qrx7730-sim daemon's scanner,
// beside other such processes, checks every image it scans against what lies on
// the glass, and records which of its busy-flag holds each of its device
// requests was made under.
//
//   soak_client SOCKET SPEED SECONDS SEED LOG
//
// The device path is "soak:SOCKET": a channel of this program in front of the
// daemon's. Each channel it opens first sends the daemon a marker request (code
// 0xF0, index = the channel's number in this process, data = the process id),
// which the scanner refuses and its trace keeps, so that the daemon's connection
// can be matched with this process. Then, before each request is passed on, LOG
// gets the line "CHANNEL THREAD HOLD CALL": the channel's number, 0 for the main
// thread or 1 for a thread of the library, the busy-flag hold of this process at
// that moment (0: none) and the number of the export call the main thread is in
// (0: none). Lines are written in the order the requests go out.
//
// Output, one line each: "ready" once the scanner is open; "done N" after the
// N-th operation; "fault TEXT" for a failure other than the refusals that
// sharing a scanner brings (in use, carriage moving, calibrating; and SetLamp's
// watchdog, which resets the controller once SetLamp has been refused for half a
// minute of moves) or an image that is not the glass; at the end "summary ops=N
// scans=N refused=N watchdog=N faults=N requests=N". Exit status 0 when no fault was seen, 1 bad
// arguments, 2 faults.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "api/library.h"
#include "emulator/scene.h"
#include "integration/fidelity.h"
#include "platform/clock.h"
#include "qrx7730.h"
#include "transport/device_channel.h"

namespace {

using qrx::transport::DeviceChannel;
using qrx::transport::DeviceDescriptor;
using Clock = std::chrono::steady_clock;

constexpr uint8_t kMarkerRequest = 0xF0;

int g_log = -1;
std::thread::id g_main;
std::atomic<uint32_t> g_call{0};
std::atomic<uint32_t> g_channels{0};
std::atomic<uint64_t> g_requests{0};

// Passes every request on to the daemon's channel, logging it first.
class TaggingChannel final : public DeviceChannel {
 public:
  TaggingChannel(std::unique_ptr<DeviceChannel> inner, uint32_t number)
      : inner_(std::move(inner)), number_(number) {
    const uint32_t pid = static_cast<uint32_t>(getpid());
    const uint8_t data[4] = {static_cast<uint8_t>(pid), static_cast<uint8_t>(pid >> 8),
                             static_cast<uint8_t>(pid >> 16), static_cast<uint8_t>(pid >> 24)};
    inner_->control_write(kMarkerRequest, static_cast<uint16_t>(number), data, 4);
  }

  bool control_read(uint8_t request, uint16_t index, uint8_t* buffer, uint32_t length) override {
    return tagged([&] { return inner_->control_read(request, index, buffer, length); });
  }
  bool control_write(uint8_t request, uint16_t index, const uint8_t* data,
                     uint32_t length) override {
    return tagged([&] { return inner_->control_write(request, index, data, length); });
  }
  bool device_descriptor(DeviceDescriptor& descriptor) override {
    return tagged([&] { return inner_->device_descriptor(descriptor); });
  }
  bool bulk_read(uint8_t* buffer, uint32_t length, uint32_t& transferred) override {
    return tagged([&] { return inner_->bulk_read(buffer, length, transferred); });
  }
  bool bulk_write(const uint8_t* data, uint32_t length, uint32_t& transferred) override {
    return tagged([&] { return inner_->bulk_write(data, length, transferred); });
  }

 private:
  template <typename Call>
  bool tagged(Call call) {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool main = std::this_thread::get_id() == g_main;
    char line[96];
    const int n = std::snprintf(
        line, sizeof line, "%u %d %llu %u\n", number_, main ? 0 : 1,
        static_cast<unsigned long long>(qrx::api::library().status_block.current_hold()),
        main ? g_call.load() : 0u);
    if (write(g_log, line, static_cast<size_t>(n)) != n) std::abort();
    g_requests.fetch_add(1);
    return call();
  }

  std::unique_ptr<DeviceChannel> inner_;
  const uint32_t number_;
  std::mutex mutex_;
};

struct Counts {
  uint64_t ops = 0, scans = 0, refused = 0, watchdog = 0, faults = 0;
};
Counts g_counts;

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

uint16_t last_error() {
  uint16_t status = 0;
  GetScannerStatus(nullptr, &status);
  return status;
}

bool is_refusal(uint16_t status) {
  return status == QRX_E_SCANNER_IN_USE || status == QRX_E_CARRIAGE_MOVING ||
         status == QRX_E_CALIBRATING;
}

// One export call, numbered for the log. True when it succeeded; a refusal is
// counted, any other failure is a fault.
template <typename Call>
bool call(const char* name, Call export_call) {
  g_call.store(g_call.load() + 1);
  const QRX_BOOL result = export_call();
  if (result == QRX_TRUE) return true;
  const uint16_t status = last_error();
  if (is_refusal(status)) {
    ++g_counts.refused;
  } else if (std::string(name) == "SetLamp" && status == QRX_E_STATUS_REGISTER) {
    // Refused again and again for half a minute while the other processes kept the
    // carriage moving: the watchdog reset the controller, as it is meant to.
    ++g_counts.watchdog;
  } else {
    ++g_counts.faults;
    char text[96];
    std::snprintf(text, sizeof text, "fault %s %04x", name, status);
    say(text);
  }
  return false;
}

struct ScanKind {
  uint16_t resolution;
  uint8_t depth;
  qrx::test::Window window;  // 2400 dpi units from the scan origin
};

// A colour patch and the corner of the slanted square: edges across, down and
// at a slant, in three colours.
const ScanKind kScans[] = {
    {300, 24, {3008, 4000, 2880, 2880}},
    {150, 8, {3008, 4000, 2880, 2880}},
    {300, 48, {3008, 4000, 2880, 2880}},
    {150, 24, {3008, 4000, 2880, 2880}},
};

// Empty when the image is the glass within a pixel, else what differs.
std::string image_difference(const ScanKind& kind, const DataStatus& status,
                             const std::vector<uint8_t>& data) {
  static std::unique_ptr<qrx::emu::Scene> glass = [] {
    std::string error;
    return qrx::emu::Scene::create("", error);
  }();
  if (!glass) return "no test chart";
  const bool colour = kind.depth == 24 || kind.depth == 48;
  const uint32_t sample_bytes = kind.depth == 16 || kind.depth == 48 ? 2 : 1;
  qrx::test::Image image;
  image.channels = colour ? 3 : 1;
  image.width = status.LineBytes / (image.channels * sample_bytes);
  image.height = status.LinesLeft;
  image.samples.resize(data.size() / sample_bytes);
  for (size_t i = 0; i < image.samples.size(); ++i) {
    image.samples[i] = sample_bytes == 2 ? data[2 * i] | data[2 * i + 1] << 8 : data[i];
  }
  constexpr int kMargin = 3;
  const qrx::test::Image truth =
      qrx::test::render_truth(*glass, kind.window, kind.resolution, image.channels, kMargin);
  if (image.width + 2 * kMargin != truth.width || image.height + 2 * kMargin != truth.height) {
    return "size " + std::to_string(image.width) + " x " + std::to_string(image.height);
  }
  const qrx::test::Alignment best = qrx::test::best_alignment(image, truth, kMargin, kMargin);
  double worst = 1;
  for (uint32_t c = 0; c < image.channels; ++c) {
    worst = std::min(worst, qrx::test::correlation(image, truth, kMargin, c, best.dx, best.dy));
  }
  if (std::abs(best.dx) <= 1 && std::abs(best.dy) <= 1 && worst >= 0.98) return "";
  char text[96];
  std::snprintf(text, sizeof text, "best shift %d, %d pixels, correlation %.3f", best.dx, best.dy,
                worst);
  return text;
}

void scan(const ScanKind& kind, std::mt19937& random) {
  ScanParameter p{};
  p.xRes = p.yRes = kind.resolution;
  p.BitsPerPixel = kind.depth;
  p.ScanningArea = {4 * kind.window.x, 4 * kind.window.y, 4 * kind.window.width,
                    4 * kind.window.length};
  DataStatus status{};
  if (!call("SetScanParameter", [&] { return SetScanParameter(nullptr, &p); }) ||
      !call("GetDataStatus", [&] { return GetDataStatus(nullptr, &status); }) ||
      !call("StartScanEx", [&] { return StartScanEx(nullptr, nullptr); })) {
    return;
  }
  uint8_t calibration = 2;
  const auto since = Clock::now();
  while (calibration == 2) {
    if (!call("GetCalibrationStatus",
              [&] { return GetCalibrationStatus(nullptr, &calibration); })) {
      call("StopScanEx", [&] { return StopScanEx(nullptr, nullptr); });
      return;
    }
    if (calibration == 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (Clock::now() - since > std::chrono::minutes(2)) {
      say("fault the background calibration never ended");
      ++g_counts.faults;
      return;
    }
  }
  std::vector<uint8_t> data(size_t{status.LineBytes} * status.LinesLeft);
  uint32_t read = 0;
  while (read < status.LinesLeft) {
    const uint32_t n = std::min<uint32_t>(1 + random() % 8, status.LinesLeft - read);
    if (!call("ReadScan", [&] {
          return ReadScan(nullptr, nullptr, data.data() + size_t{read} * status.LineBytes,
                          n * status.LineBytes);
        })) {
      break;
    }
    read += n;
  }
  if (!call("StopScanEx", [&] { return StopScanEx(nullptr, nullptr); }) ||
      read < status.LinesLeft) {
    return;
  }
  ++g_counts.scans;
  const std::string difference = image_difference(kind, status, data);
  if (!difference.empty()) {
    ++g_counts.faults;
    say("fault image " + std::to_string(kind.resolution) + " dpi " + std::to_string(kind.depth) +
        " bits differs from the glass: " + difference);
  }
}

// Opened, initialised and the flatbed light selected; retried while another
// process's carriage is still on its way home. False (a fault said) when that
// takes a minute.
bool open_scanner(const std::string& path) {
  const auto since = Clock::now();
  const uint64_t faults = g_counts.faults;
  while (!call("FindScannerEx",
               [&] { return FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID); }) ||
         !call("InitializeScanner", [] { return InitializeScanner(nullptr); }) ||
         !call("SetLamp", [] { return SetLamp(nullptr, QRX_LAMP_FLATBED); })) {
    if (g_counts.faults > faults || Clock::now() - since > std::chrono::minutes(1)) {
      say("fault cannot open the scanner");
      ++g_counts.faults;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// One operation; false when the scanner could not be opened again.
bool operation(const std::string& path, std::mt19937& random) {
  const uint32_t pick = random() % 100;
  if (pick < 40) {
    scan(kScans[random() % std::size(kScans)], random);
  } else if (pick < 55) {
    OPUMode mode{};
    call("GetOPUMode", [&] { return GetOPUMode(nullptr, &mode); });
    call("GetLampStatus", [&] { return GetLampStatus(nullptr, 0); });
  } else if (pick < 65) {
    ButtonEvent event{};
    call("ReadPushButton", [&] { return ReadPushButton(nullptr, 0, &event); });
  } else if (pick < 75) {
    call("SetLamp", [&] { return SetLamp(nullptr, QRX_LAMP_FLATBED); });
  } else if (pick < 87) {
    call("InitializeScanner", [&] { return InitializeScanner(nullptr); });
  } else if (pick < 92) {
    call("TestScanner 56", [&] { return TestScanner(nullptr, 56, 0, 0); });
  } else if (pick < 96) {
    call("TerminateScanner", [&] { return TerminateScanner(nullptr); });
    return open_scanner(path);
  } else {
    call("DoCalibration", [&] { return DoCalibration(nullptr, 0, 0, 300); });
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) return 1;
  const double speed = std::strtod(argv[2], nullptr);
  const double seconds = std::strtod(argv[3], nullptr);
  if (!(speed > 0) || !(seconds > 0)) return 1;
  g_main = std::this_thread::get_id();
  g_log = open(argv[5], O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  if (g_log < 0) return 1;
  qrx::platform::ScaledClock clock(speed);
  qrx::platform::ScopedClock installed(clock);
  qrx::transport::register_channel_backend("soak:", [](const std::string& path) {
    std::unique_ptr<DeviceChannel> inner =
        qrx::transport::open_device_channel("sim:" + path.substr(5));
    if (!inner) return std::unique_ptr<DeviceChannel>();
    return std::unique_ptr<DeviceChannel>(
        std::make_unique<TaggingChannel>(std::move(inner), g_channels.fetch_add(1) + 1));
  });
  const std::string path = std::string("soak:") + argv[1];
  std::mt19937 random(static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)));

  if (!open_scanner(path)) return 2;
  say("ready");
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    if (!operation(path, random)) break;
    say("done " + std::to_string(++g_counts.ops));
  }
  call("TerminateScanner", [] { return TerminateScanner(nullptr); });
  char summary[160];
  std::snprintf(summary, sizeof summary,
                "summary ops=%llu scans=%llu refused=%llu watchdog=%llu faults=%llu requests=%llu",
                static_cast<unsigned long long>(g_counts.ops),
                static_cast<unsigned long long>(g_counts.scans),
                static_cast<unsigned long long>(g_counts.refused),
                static_cast<unsigned long long>(g_counts.watchdog),
                static_cast<unsigned long long>(g_counts.faults),
                static_cast<unsigned long long>(g_requests.load()));
  say(summary);
  close(g_log);
  return g_counts.faults == 0 ? 0 : 2;
}
