// ImageReaderThread: during a scan, moves what the controller has buffered into
// the scan's ImageRing, as much as the controller holds and the ring can take per
// turn, until it has counted every raw line of the scan or is asked to stop.
#pragma once

#include <cstdint>

#include "transport/scanner_context.h"

namespace qrx::imaging {

// Largest piece of one image bulk read.
inline constexpr uint32_t kReaderPieceBytes = 61424;
// Exit codes of the thread.
inline constexpr uint32_t kReaderEndedNormally = 1;
inline constexpr uint32_t kReaderFailed = 0;

// The thread procedure; argument is the transport::ScannerContext. Ends with
// kReaderEndedNormally once LinesToRead (as it was at the start) raw lines of
// read line bytes have arrived or StopReader was set, kReaderFailed when a
// counter or bulk read fails or its buffer cannot be allocated.
uint32_t image_reader_thread(void* context);

// Asks the reader of the context (if any) to stop, polls its exit code every
// 100 ms until it has ended, and releases it.
void stop_image_reader(transport::ScannerContext& context);

}  // namespace qrx::imaging
