// The progress of reading the scan's lines: on a terminal a bar redrawn in place
// with the lines read and the time left; elsewhere, when asked for, a plain line
// at every tenth.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qrx::qrxscan {

// "[##########----------]  50%  1754/3507 lines  0:12 left": the bar bar_width
// characters wide, the time left from the pace so far ("--:--" before the first line).
std::string progress_text(uint32_t done, uint32_t total, double elapsed_seconds, int bar_width);

class Progress {
 public:
  // out: where to draw; terminal: redraw one line in place.
  Progress(std::FILE* out, bool terminal, uint32_t total_lines);
  // Lines read so far and the seconds since reading began. Draws only when the
  // shown text would change enough to matter (a terminal at most ten times a second).
  void update(uint32_t done, double elapsed_seconds);
  // Ends the progress line (a terminal's line is completed with a newline).
  void finish(uint32_t done, double elapsed_seconds);

 private:
  std::FILE* out_;
  bool terminal_;
  uint32_t total_;
  double last_drawn_ = -1;  // seconds of the last redraw on a terminal
  int last_tenth_ = -1;     // last tenth reported elsewhere
};

// Whether the file is a terminal (progress is on by default on one).
bool is_terminal(std::FILE* file);

}  // namespace qrx::qrxscan
