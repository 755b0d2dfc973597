// Line assembly: makes one output line of the running scan from the raw lines in
// the ImageRing — waits (bounded) for the data, works on the raw line (or the two or
// four a reduced line is made of) where it lies in the ring, cuts its lead-in and
// reduces it, and in one
// pass puts the segments of a 1200 dpi and above line in pixel order, crops the
// window, interleaves the channels (or takes the green one for grey read as
// colour), maps 48-bit samples through GammaTable and widens 8-bit samples when the
// caller asked for 16.
#pragma once

#include <cstdint>

#include "imaging/line_transforms.h"
#include "imaging/scan_values.h"
#include "transport/scanner_context.h"

namespace qrx::imaging {

// Longest the read path waits for a line while the reader thread runs and the ring
// does not grow. Even the slowest mode (48-bit colour at 4800 dpi down) takes well
// under a tenth of a second a line: a scanner that has sent nothing for hundreds
// of line times will not send more. Any progress starts the wait afresh, so a slow
// scan is never cut short.
inline constexpr uint32_t kDataSilenceMs = 30000;
// How often the ring is looked at while waiting.
inline constexpr uint32_t kDataPollMs = 10;

// How many read pixels across and raw lines down make one output pixel, each
// direction from its own read and asked resolutions: 2 for 75 dpi read at 150, 2
// for 150 read at 300 and 4 for 75 read at 300 (the last two with low-resolution
// oversampling); 1 otherwise and from 600 dpi up.
Reduction reduction(const transport::ScannerContext& context);

// Bytes of one assembled output line: the window's pixels at the asked resolution
// times the bytes of a delivered pixel. Matches LineBytes whenever the context and
// the scan values come from the same scan parameters.
uint32_t output_line_bytes(const transport::ScannerContext& context, const ScanValues& values);

// How one line went.
enum class LineResult {
  kDone,
  kFailed,        // no work memory or no scan set up: nothing taken from the ring
  kFailedCancel,  // the scan cannot go on (no data will come, the data is not
                  // what the scan set up): the caller must cancel it
};

// Assembles one output line of output_line_bytes(...) into destination and lowers
// LinesToRead by the raw lines it took.
LineResult assemble_line(transport::ScannerContext& context, const ScanValues& values,
                         uint8_t* destination);

}  // namespace qrx::imaging
