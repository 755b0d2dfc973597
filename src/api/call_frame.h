// The call frame of the exports that touch the device: wait until no caller of
// any process or thread holds the scanner (polling every 10 ms), take it, do the
// work, and give it back on every way out. The frame is the only way an export
// takes or gives back the busy flag, and it gives back only the hold it took:
// once released, the flag may belong to another caller, and nothing of this
// call may write it again.
#pragma once

#include "api/library.h"
#include "qrx7730.h"

namespace qrx::api {

class CallFrame {
 public:
  // Waits for the busy flag and takes it.
  explicit CallFrame(Library& library);
  // Releases the flag if it is still held.
  ~CallFrame();
  CallFrame(const CallFrame&) = delete;
  CallFrame& operator=(const CallFrame&) = delete;

  // Releases the flag early (the rest of the export runs outside the frame).
  void release();
  // The hold this frame took.
  StatusBlock::BusyTicket ticket() const { return ticket_; }
  // Leaves the flag taken, for a worker thread that gives it back with ticket()
  // when it ends.
  void hand_over() { ticket_ = 0; }

 private:
  Library& library_;
  StatusBlock::BusyTicket ticket_ = 0;
};

// Stores status as the last error and turns it into the export's result.
inline QRX_BOOL finish(Library& library, uint16_t status) {
  library.last_error = status;
  return status == QRX_OK ? QRX_TRUE : QRX_FALSE;
}

// While another process holds the scanner for its scan (from its StartScanEx to
// its StopScanEx), an export that would reset, programme or move the scanner
// refuses instead of corrupting that scan. Call inside the frame; true, with the
// last error 0x9604, when refused.
inline bool refused_for_other_scan(Library& library) {
  if (!library.status_block.scan_held_elsewhere()) return false;
  library.last_error = QRX_E_SCANNER_IN_USE;
  return true;
}

}  // namespace qrx::api
