// The scan sequence (see scan.h).
#include "scan.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "abilities.h"
#include "image_writer.h"
#include "progress.h"
#include "qrx7730.h"
#include "session.h"

namespace qrx::qrxscan {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kCalibrationPoll = std::chrono::milliseconds(200);
// DoCalibration's kind that calibrates for the scan SetScanParameter last set up.
constexpr uint8_t kCalibrateForTheScan = 3;
constexpr auto kButtonPoll = std::chrono::milliseconds(100);

int failed(Session& session, const char* call, const std::string& what) {
  session.report(call, what);
  return kExitFailed;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The image file being written: FILE.part until complete, standard output when
// no file was named.
class Output {
 public:
  explicit Output(const std::string& path) : path_(path) {}
  ~Output() { discard(); }

  bool open() {
    if (path_.empty()) {
      file_ = stdout;
      return true;
    }
    file_ = std::fopen(part().c_str(), "wb");
    if (file_ == nullptr) {
      std::fprintf(stderr, "qrxscan: cannot write %s: ", part().c_str());
      std::perror(nullptr);
      return false;
    }
    return true;
  }
  // Closes and renames the finished file into place, replacing an image of that
  // name (std::rename does not replace a file on Windows: the scan would be lost).
  bool commit() {
    if (path_.empty()) return std::fflush(stdout) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    std::error_code renamed;
    if (closed) std::filesystem::rename(part(), path_, renamed);
    if (!closed || renamed) {
      std::fprintf(stderr, "qrxscan: cannot write %s\n", path_.c_str());
      std::remove(part().c_str());
      return false;
    }
    return true;
  }
  // A scan that did not complete leaves no file behind.
  void discard() {
    if (path_.empty() || file_ == nullptr) return;
    std::fclose(file_);
    file_ = nullptr;
    std::remove(part().c_str());
  }
  std::FILE* file() const { return file_; }

 private:
  std::string part() const { return path_ + ".part"; }
  std::string path_;
  std::FILE* file_ = nullptr;
};

// Between StartScanEx and StopScanEx: stops the scan on every way out.
class RunningScan {
 public:
  ~RunningScan() {
    if (running_) StopScanEx(nullptr, nullptr);
  }
  void started() { running_ = true; }
  bool stop(Session& session) {
    running_ = false;
    Waiting waiting(session.notice(), "the carriage to return");
    if (!StopScanEx(nullptr, nullptr)) return session.report("StopScanEx", "end the scan");
    return true;
  }

 private:
  bool running_ = false;
};

bool wait_for_button(Session& session, const std::atomic<bool>& interrupted) {
  ButtonLayout layout{};
  InitialButton(nullptr, &layout);
  std::fprintf(stderr, "qrxscan: waiting for a button on the scanner to be pressed ...\n");
  for (;;) {
    if (interrupted) return false;
    ButtonEvent event{};
    ReadPushButton(nullptr, 0, &event);
    if (Session::last_status() != QRX_OK)
      return session.report("ReadPushButton", "read the buttons");
    if (event.Pressed == 0x80 && button_number(event.Button) != 0) {
      std::fprintf(stderr, "qrxscan: button %d pressed\n", button_number(event.Button));
      return true;
    }
    std::this_thread::sleep_for(kButtonPoll);
  }
}

// StartScanEx, then GetCalibrationStatus until the scan has started.
bool start_scan(Session& session, RunningScan& running, const std::atomic<bool>& interrupted) {
  const uint8_t options[QRX_START_OPTIONS_SIZE] = {};
  {
    Waiting waiting(session.notice(), "the scanner (another program may be using it)");
    if (!StartScanEx(nullptr, options)) return session.report("StartScanEx", "start the scan");
  }
  running.started();
  bool announced = false;
  for (;;) {
    uint8_t status = 0;
    {
      Waiting waiting(session.notice(), "the carriage to reach the scan area");
      if (!GetCalibrationStatus(nullptr, &status)) {
        return session.report("GetCalibrationStatus", "start the scan");
      }
    }
    if (status != 2) return true;
    if (!announced) {
      std::fprintf(stderr,
                   "qrxscan: waiting for calibration (the scanner calibrates itself when no "
                   "calibration is stored or after every 1000 scans) ...\n");
      announced = true;
    }
    if (interrupted) return false;
    std::this_thread::sleep_for(kCalibrationPoll);
  }
}

const char* mode_words(const ScanRequest& request) {
  return request.mode == ColourMode::kColor ? "colour" : "grey";
}

}  // namespace

int button_number(uint8_t bits) {
  for (int button = 1; button <= 8; ++button) {
    if (bits & (1u << (button - 1))) return button;
  }
  return 0;
}

int run_scan(const ScanRequest& request, WaitNotice& notice, const std::atomic<bool>& interrupted) {
  if (request.output.empty() && is_terminal(stdout)) {
    std::fprintf(stderr,
                 "qrxscan: will not write image data to a terminal: give -o FILE or redirect "
                 "the output\n");
    return kExitUsage;
  }
  Output output(request.output);
  if (!output.open()) return kExitFailed;

  Session session(notice);
  if (!session.open(request.device)) return kExitFailed;
  Abilities abilities;
  std::string error;
  if (!query_abilities(abilities, error)) {
    std::fprintf(stderr, "qrxscan: %s\n", error.c_str());
    return kExitFailed;
  }
  Window window;
  if (!window_on_glass(request, abilities, window, error)) {
    std::fprintf(stderr, "qrxscan: %s\n", error.c_str());
    return kExitUsage;
  }
  if (!session.initialise()) return kExitFailed;
  if (request.wait_for_button && !wait_for_button(session, interrupted)) {
    return interrupted ? kExitInterrupted : kExitFailed;
  }
  if (!session.select_flatbed_light()) return kExitFailed;
  const int channels = request.mode == ColourMode::kColor ? 3 : 1;
  ScanParameter parameter{};
  parameter.xRes = parameter.yRes = request.resolution;
  parameter.ScanningArea = {window.x, window.y, window.width, window.length};
  parameter.FilmArea = 0;
  parameter.BitsPerPixel = static_cast<uint8_t>(channels * request.depth);
  if (!SetScanParameter(nullptr, &parameter)) {
    return failed(session, "SetScanParameter", "set up the scan");
  }
  if (request.calibrate_first) {
    // Kind 3 calibrates for the scan just set up: at its resolution rounded up
    // to a multiple of 600 dpi.
    Waiting waiting(notice, "calibration for " + std::to_string(request.resolution) + " dpi");
    if (!DoCalibration(nullptr, 0, kCalibrateForTheScan, 0)) {
      return failed(session, "DoCalibration", "calibrate");
    }
  }
  DataStatus data{};
  if (!GetDataStatus(nullptr, &data)) {
    return failed(session, "GetDataStatus", "size the scan");
  }
  const uint32_t pixel_bytes = static_cast<uint32_t>(channels * request.depth / 8);
  if (data.LineBytes == 0 || data.LineBytes % pixel_bytes != 0 || data.LinesLeft == 0) {
    std::fprintf(stderr,
                 "qrxscan: the library announced lines of %u bytes and %u lines, which is no "
                 "image of %u-byte pixels\n",
                 data.LineBytes, data.LinesLeft, pixel_bytes);
    return kExitFailed;
  }
  ImageSpec spec;
  spec.width = data.LineBytes / pixel_bytes;
  spec.height = data.LinesLeft;
  spec.channels = channels;
  spec.depth = request.depth;
  spec.dpi = request.resolution;
  std::unique_ptr<ImageWriter> writer = make_image_writer(request.format, output.file());
  if (writer == nullptr || !writer->begin(spec, error)) {
    std::fprintf(stderr, "qrxscan: %s\n",
                 writer == nullptr ? "no writer for the format" : error.c_str());
    return kExitFailed;
  }

  RunningScan running;
  if (!start_scan(session, running, interrupted)) {
    return interrupted ? kExitInterrupted : kExitFailed;
  }
  const bool show_progress = request.progress == ProgressChoice::kOn ||
                             (request.progress == ProgressChoice::kAuto && is_terminal(stderr));
  std::unique_ptr<Progress> progress;
  if (show_progress)
    progress = std::make_unique<Progress>(stderr, is_terminal(stderr), spec.height);
  std::vector<uint8_t> line(data.LineBytes);
  const Clock::time_point reading = Clock::now();
  for (uint32_t row = 0; row < spec.height; ++row) {
    if (interrupted) {
      if (progress) progress->finish(row, seconds_since(reading));
      std::fprintf(stderr, "qrxscan: interrupted; stopping the scan\n");
      running.stop(session);
      return kExitInterrupted;
    }
    {
      Waiting waiting(notice, row == 0 ? "the first line" : "the next line");
      if (!ReadScan(nullptr, nullptr, line.data(), data.LineBytes)) {
        if (progress) progress->finish(row, seconds_since(reading));
        return failed(session, "ReadScan", "read line " + std::to_string(row + 1));
      }
    }
    if (!writer->write_line(line.data(), error)) {
      std::fprintf(stderr, "qrxscan: %s\n", error.c_str());
      return kExitFailed;
    }
    if (progress) progress->update(row + 1, seconds_since(reading));
  }
  if (progress) progress->finish(spec.height, seconds_since(reading));
  if (!running.stop(session)) return kExitFailed;
  if (!writer->finish(error)) {
    std::fprintf(stderr, "qrxscan: %s\n", error.c_str());
    return kExitFailed;
  }
  if (!output.commit()) return kExitFailed;
  if (!request.output.empty()) {
    std::fprintf(stderr,
                 "qrxscan: wrote %s: %u x %u pixels at %u dpi, %s, %d bits per sample, %s\n",
                 request.output.c_str(), spec.width, spec.height, spec.dpi, mode_words(request),
                 spec.depth, format_name(request.format));
  }
  return kExitDone;
}

}  // namespace qrx::qrxscan
