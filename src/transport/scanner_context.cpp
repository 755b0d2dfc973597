// Tear-down of the device context: worker threads first, then the driver link.
#include "transport/scanner_context.h"

namespace qrx::transport {

ScannerContext::~ScannerContext() {
  // The image reader ends at its next turn once asked; the calibration thread is
  // asked to stop and waited for. Only then may the link and tables go.
  stop_reader.store(1);
  calibration_stop.store(1);
  reader_thread.reset();
  calibration_thread.reset();
  image_ring.reset();
  link.close();
}

}  // namespace qrx::transport
