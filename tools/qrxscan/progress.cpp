// The progress line (see progress.h).
#include "progress.h"

#include <unistd.h>

#include <cmath>

namespace qrx::qrxscan {
namespace {

constexpr int kBarWidth = 30;
constexpr double kRedrawSeconds = 0.1;

std::string minutes_and_seconds(double seconds) {
  const long whole = std::lround(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

}  // namespace

std::string progress_text(uint32_t done, uint32_t total, double elapsed_seconds, int bar_width) {
  if (done > total) done = total;
  const double fraction = total == 0 ? 1.0 : double(done) / total;
  const int filled = static_cast<int>(fraction * bar_width);
  std::string text = "[" + std::string(filled, '#') + std::string(bar_width - filled, '-') + "]";
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, " %3d%%  %u/%u lines  ", static_cast<int>(fraction * 100),
                done, total);
  text += numbers;
  if (done == 0) {
    text += "--:-- left";
  } else {
    text += minutes_and_seconds(elapsed_seconds * (total - done) / done) + " left";
  }
  return text;
}

Progress::Progress(std::FILE* out, bool terminal, uint32_t total_lines)
    : out_(out), terminal_(terminal), total_(total_lines) {}

void Progress::update(uint32_t done, double elapsed_seconds) {
  if (terminal_) {
    if (last_drawn_ >= 0 && elapsed_seconds - last_drawn_ < kRedrawSeconds && done < total_) return;
    last_drawn_ = elapsed_seconds;
    std::fprintf(out_, "\rScanning %s",
                 progress_text(done, total_, elapsed_seconds, kBarWidth).c_str());
    std::fflush(out_);
    return;
  }
  const int tenth = total_ == 0 ? 10 : static_cast<int>(uint64_t{done} * 10 / total_);
  if (tenth == last_tenth_) return;
  last_tenth_ = tenth;
  std::fprintf(out_, "Scanning: %d%% (%u/%u lines)\n", tenth * 10, done, total_);
  std::fflush(out_);
}

void Progress::finish(uint32_t done, double elapsed_seconds) {
  if (terminal_) {
    last_drawn_ = -1;
    update(done, elapsed_seconds);
    std::fprintf(out_, "\n");
  } else {
    update(done, elapsed_seconds);
  }
  std::fflush(out_);
}

bool is_terminal(std::FILE* file) {
  return isatty(fileno(file)) != 0;
}

}  // namespace qrx::qrxscan
