// This process's use of the scanner, from a successful FindScannerEx to
// TerminateScanner, and how it ends: the scan it started (its calibration, its
// pass, the hold it took on the scanner) ends with it, whether or not the
// scanner still answers, so that nothing of it keeps other processes out or
// reaches the next scan.
#pragma once

#include <string>

#include "api/library.h"

namespace qrx::api {

// Ends this process's scan: an ended background calibration is let go with its
// result, the pass is stopped at once and the carriage sent home (pass_alive) or,
// when the pass went with the scanner, only the reader and the ring are let go;
// the hold on the scanner for the scan is given back. Call inside the call frame,
// with no background calibration running (it holds the frame while it runs).
void end_scan(Library& lib, bool pass_alive);

// end_scan, then the device closed (DeviceOpen 0, the driver handle released).
void close_scanner(Library& lib, bool pass_alive);

// True while this process has the scanner open at device_path (the path of the
// same status block).
bool scanner_open_at(const Library& lib, const char* device_path);

}  // namespace qrx::api
