// Exports of the image data: ReadScan (directly, or through the line filter that
// GetDataStatus arms), GetDataStatus and SetGamma. A read that finds the scan
// cannot go on cancels it here, inside the read's call frame, the way StopScanEx
// abandons a scan.
#include "api/call_frame.h"
#include "api/export_guard.h"
#include "imaging/data_status.h"
#include "imaging/direct_read.h"
#include "imaging/gamma.h"
#include "imaging/jaggy_filter.h"
#include "qrx7730.h"
#include "scan/background_calibration.h"
#include "scan/scan_start.h"
#include "scan/scan_stop.h"

using qrx::api::CallFrame;
using qrx::api::finish;
using qrx::api::guard;
using qrx::api::Library;

namespace {

// The direct read inside the call frame; also the filter's line source, so that
// every input line of a filtered read takes the frame on its own.
uint16_t framed_direct_read(Library& lib, uint8_t* buffer, uint32_t size) {
  CallFrame frame(lib);
  const qrx::imaging::ReadOutcome outcome =
      qrx::imaging::direct_read(lib.context, lib.scan_values, buffer, size);
  // The read's own status is what the host learns; the cancel's is not examined.
  if (outcome.cancel_scan) qrx::scan::stop_now(lib.context, lib.setting);
  return outcome.status;
}

}  // namespace

extern "C" {

QRX7730_API QRX_BOOL ReadScan(void* /*host*/, void* /*passthrough*/, void* buffer, uint32_t size) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (buffer == nullptr && size != 0) return finish(lib, QRX_E_NULL_ARGUMENT);
    auto* bytes = static_cast<uint8_t*>(buffer);
    if (lib.filter_armed == 0) return finish(lib, framed_direct_read(lib, bytes, size));
    const qrx::imaging::LineSource source = [&lib](uint8_t* line, uint32_t line_size) {
      return framed_direct_read(lib, line, line_size);
    };
    return finish(lib, qrx::imaging::filter_read(lib.line_filter, source, bytes, size));
  });
}

QRX7730_API QRX_BOOL GetDataStatus(void* /*host*/, DataStatus* status) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (status == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    // Once lines of the running scan have been read the filter is only reported
    // on; before that it is armed (or not) for the running scan, or for the next
    // one to start when none runs.
    const qrx::transport::ScannerContext& context = lib.context;
    const bool running = qrx::scan::scan_running(context);
    const bool reading = running && context.lines_to_read.load() != context.scan_line_count;
    const uint16_t result = qrx::imaging::data_status(
        {.context = lib.context,
         .setting = lib.setting,
         .lamp_select = lib.lamp_select,
         .reading = reading},
        lib.scan_values, {.filter = lib.line_filter, .armed = lib.filter_armed}, *status);
    if (!reading) lib.filter_for_next_scan = !running;
    // Success leaves the last status as it was.
    return result == QRX_OK ? QRX_TRUE : finish(lib, result);
  });
}

QRX7730_API QRX_BOOL SetGamma(void* /*host*/, const uint16_t* table, uint8_t channel,
                              uint32_t /*unused*/) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (table == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    // A curve given while the background calibration runs is the one the scan it
    // calibrates for is composed with: it is kept, out of the calibration's way.
    const bool calibrating = qrx::scan::background_calibration_running(lib.context);
    lib.last_error = qrx::imaging::set_gamma(
        lib.context, {.lamp_select = lib.lamp_select, .calibrating = calibrating}, table, channel,
        lib.last_error);
    return lib.last_error == QRX_OK ? QRX_TRUE : QRX_FALSE;
  });
}

}  // extern "C"
