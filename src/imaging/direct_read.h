// The direct read: ReadScan's work without the call frame around it. Checks the
// request against the scan, cuts it into output lines and assembles them (the
// playback light reads a file instead), widens 4800 dpi lines read at 2400 across,
// and counts the lines delivered. The filtered read takes its input lines from here
// too. It never cancels a scan itself: the outcome says when the caller must.
#pragma once

#include <cstdint>

#include "imaging/scan_values.h"
#include "transport/scanner_context.h"

namespace qrx::imaging {

// The playback light: lines come from a file, not from the scanner.
inline constexpr uint8_t kPlaybackLight = 8;

struct ReadOutcome {
  uint16_t status = 0;
  // The scan cannot go on (a line could not be assembled after data was awaited):
  // the caller cancels it the way StopScanEx abandons a scan.
  bool cancel_scan = false;
};

// The line reader: size / output line bytes whole lines into destination (bytes
// past the last whole line untouched), or from the playback file under light 8.
// 0x9B0B when a line cannot be assembled (lines before it stay written), 0xFC01
// when the playback file gives nothing.
ReadOutcome read_lines(transport::ScannerContext& context, const ScanValues& values,
                       uint8_t* destination, uint32_t size);

// The direct read of size bytes of whole output lines (size is twice the line
// bytes per line when 4800 dpi lines are widened). Refuses with 0x9705 before a
// scan is started or after it was stopped, 0x9701 for a size that is not whole
// lines, 0x9720 for more lines than the scan still holds. On success LineCount
// goes down by the lines delivered.
ReadOutcome direct_read(transport::ScannerContext& context, ScanValues& values, uint8_t* buffer,
                        uint32_t size);

}  // namespace qrx::imaging
