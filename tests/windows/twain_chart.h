// What the emulated scanner's test chart looks like on a scan's pixel grid (the
// emulator's own scene, rendered independently of the scan) and how well a
// transferred image matches it: the best shift within a few pixels and the
// correlation there.
#pragma once

#include "twain_client.h"

namespace qrx::wintest {

struct ChartFit {
  double correlation = -1;  // mean over the channels
  int dx = 0, dy = 0;       // image pixel (x, y) shows chart pixel (x + dx, y + dy)
};

// A frame in inches from the scan origin.
struct Frame {
  double left, top, right, bottom;
};

// Compares the picture (scanned at dpi over frame) with the chart, allowing a
// shift of up to `reach` pixels. Grey and black-and-white pictures are compared
// with the chart's green, under which the scanner reads grey.
ChartFit fit_chart(const Picture& picture, const Frame& frame, int dpi, int reach);

}  // namespace qrx::wintest
