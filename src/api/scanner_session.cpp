// Ending the use of the scanner (see scanner_session.h).
#include "api/scanner_session.h"

#include "imaging/reader_thread.h"
#include "scan/background_calibration.h"
#include "scan/scan_start.h"
#include "scan/scan_stop.h"

namespace qrx::api {

void end_scan(Library& lib, bool pass_alive) {
  transport::ScannerContext& context = lib.context;
  // A scan asked for and not started yet is cancelled: no later poll of
  // GetCalibrationStatus starts it.
  uint8_t asked = Library::kStartAsked;
  lib.scan_start.compare_exchange_strong(asked, Library::kStartCancelled);
  // A calibration that has ended ran for this scan: its result is not the next one's.
  scan::stop_background_calibration(context);
  if (scan::scan_running(context)) {
    // Where the scanner has gone the stop fails after letting the reader and the
    // ring go, which is all there is left to end; its status is not examined.
    if (pass_alive) {
      scan::stop_now(context, lib.setting);
    } else {
      imaging::stop_image_reader(context);
      context.image_ring.reset();
    }
  }
  context.scan_line_count = 0;
  lib.status_block.release_scan();
}

void close_scanner(Library& lib, bool pass_alive) {
  end_scan(lib, pass_alive);
  if (lib.device_open == 1) {
    lib.device_open = 0;
    lib.context.link.close();
  }
}

bool scanner_open_at(const Library& lib, const char* device_path) {
  return lib.device_open == 1 && StatusBlock::lowered_path(device_path) == lib.open_path;
}

}  // namespace qrx::api
