// The scan: the host's sequence of exported calls from opening the scanner to the
// last line, with the lines written into an image file as they arrive.
//
//   FindScannerEx, InitializeScanner, [ReadPushButton until a press],
//   SetLamp(flatbed) and GetLampStatus until ready, SetScanParameter,
//   [DoCalibration], GetDataStatus, StartScanEx, GetCalibrationStatus until 0,
//   ReadScan line by line, StopScanEx, TerminateScanner.
#pragma once

#include <atomic>
#include <cstdint>

#include "scan_options.h"
#include "wait_notice.h"

namespace qrx::qrxscan {

// Exit status of the program: 0 done, 1 the scanner or library failed, 2 the
// arguments ask for what the scanner cannot do, 130 interrupted.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

// Runs the scan the request describes. interrupted is polled between lines and
// while waiting: when it becomes true the scan is stopped and the partial file
// removed. A file is written as FILE.part and renamed to FILE once complete, so
// that a failed scan neither leaves half an image nor spoils an older one.
int run_scan(const ScanRequest& request, WaitNotice& notice, const std::atomic<bool>& interrupted);

// The number (1 to 8) of the button whose bit is set in a ButtonEvent's Button
// byte (1 << (button - 1)); 0 when none is.
int button_number(uint8_t bits);

}  // namespace qrx::qrxscan
