// Ending a scan (see scan_stop.h).
#include "scan/scan_stop.h"

#include <algorithm>
#include <vector>

#include "imaging/image_ring.h"
#include "imaging/reader_thread.h"
#include "pass/carriage.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "qrx7730.h"
#include "transport/registers.h"

namespace qrx::scan {
namespace {

// The playback light: lines come from a file, the scanner is not involved.
constexpr uint8_t kPlaybackLight = 8;
// Output line that is switched off while a scan runs.
constexpr uint8_t kScanLine = 10;
// Windows ending this close to the origin (2400 dpi units) go home at the fast row.
constexpr uint32_t kNearOriginUnits = 1000;
constexpr uint32_t kFirstLinePollMs = 10;
constexpr uint32_t kSettleMs = 1000;
constexpr uint32_t kDrainPieceBytes = 4096;
// Far more than the controller's whole line buffer: a counter that keeps saying
// there is data after this much has been discarded is not telling the truth.
constexpr uint64_t kDrainLimitBytes = 64ull * 1024 * 1024;

bool clear_scan_enable(transport::DeviceLink& link) {
  return transport::write_bit_field(link, transport::reg::kScanControl, 0, 0, 0);
}

// Reads and throws away what the controller still buffers.
uint16_t drain(transport::ScannerContext& context) {
  std::vector<uint8_t> discard;
  if (!platform::try_resize(discard, kDrainPieceBytes)) return QRX_E_NOMEM_DRAIN;
  uint64_t drained = 0;
  for (;;) {
    uint32_t units = 0;
    if (!transport::read_register32(context.link, transport::reg::kBufferedData, units)) {
      return QRX_E_STOP_DRAIN;
    }
    if (units == 0) return QRX_OK;
    if (drained >= kDrainLimitBytes) return QRX_E_STOP_DRAIN;
    const uint32_t bytes = static_cast<uint32_t>(
        std::min<uint64_t>(static_cast<uint64_t>(units) * 4, kDrainPieceBytes));
    if (!transport::read_image_data(context.link, discard.data(), bytes)) return QRX_E_STOP_DRAIN;
    drained += bytes;
  }
}

}  // namespace

uint16_t stop_now(transport::ScannerContext& context, const settings::ScannerSetting& setting) {
  if (context.lamp_select == kPlaybackLight) {
    context.playback_file.reset();
    return QRX_OK;
  }
  imaging::stop_image_reader(context);
  context.image_ring.reset();
  // A pass still taking lines (or held by a full buffer) ends now rather than
  // after all its lines: the motor then only has to slow down.
  if (!clear_scan_enable(context.link)) return QRX_E_STOP_SCAN_ENABLE;
  uint16_t status = pass::wait_for_stop(context);
  if (status != QRX_OK) return status;
  if (!transport::set_line(context.link, kScanLine, 1)) return QRX_E_LINE10;
  const bool near_origin =
      static_cast<uint64_t>(context.window.y) + context.window.length < kNearOriginUnits;
  status = pass::return_home(context, setting, false, near_origin);
  if (status != QRX_OK) return status;
  context.low_res_oversample = 0;
  context.scan_line_count = 0;
  if (!clear_scan_enable(context.link)) return QRX_E_STOP_SCAN_ENABLE;
  return QRX_OK;
}

bool end_abandoned_pass(transport::ScannerContext& context) {
  return clear_scan_enable(context.link);
}

uint16_t stop_after_draining(transport::ScannerContext& context,
                             const settings::ScannerSetting& setting) {
  if (context.lamp_select == kPlaybackLight || context.scan_line_count == 0) return QRX_OK;
  if (!context.reader_thread) return stop_now(context, setting);

  // Nothing delivered yet: let a first line arrive before the reader goes, unless
  // the reader has ended already or the scanner stays silent.
  platform::Clock& clock = platform::clock();
  if (context.lines_to_read.load() == context.scan_line_count) {
    const uint32_t started = clock.ticks_ms();
    while (context.image_ring && context.image_ring->used() < context.read_line_bytes &&
           context.reader_thread->exit_code() == platform::Thread::kStillActive &&
           clock.ticks_ms() - started < kFirstLineWaitMs) {
      clock.sleep_ms(kFirstLinePollMs);
    }
  }
  imaging::stop_image_reader(context);
  if (!clear_scan_enable(context.link)) return QRX_E_STOP_DRAIN;

  uint16_t status = pass::wait_for_stop(context);
  if (status != QRX_OK) return status;
  clock.sleep_ms(kSettleMs);
  status = pass::wait_for_stop(context);
  if (status != QRX_OK) return status;
  status = drain(context);
  if (status != QRX_OK) return status;
  status = pass::wait_for_stop(context);
  if (status != QRX_OK) return status;
  // Scan enable that cannot be cleared is a failed stop, not a finished one.
  if (!clear_scan_enable(context.link)) return QRX_E_STOP_DRAIN;
  return stop_now(context, setting);
}

}  // namespace qrx::scan
