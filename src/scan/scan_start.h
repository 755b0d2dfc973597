// The start of an image scan proper: the stored calibration loaded and counted, a
// fresh dark reference for the flatbed, the motor plan, the feed towards the
// window with the fast approach, the gamma tables composed with the data file, the
// register programme, the motor started, and the ring and image reader thread that
// carry the lines to the read path.
#pragma once

#include <cstdint>

#include "calibration/reference_pass.h"
#include "settings/scanner_setting.h"
#include "tone_curves/data_file_store.h"
#include "transport/scanner_context.h"

namespace qrx::scan {

// Bits of the SPECIALMODE switch the scan start reads.
inline constexpr uint16_t kSpecialFastFeed = 0x02;
inline constexpr uint16_t kSpecialShortFeed = 0x20;
inline constexpr uint16_t kSpecialExposureRates = 0x40;

// Everything the scan start needs besides the context and the tuning record.
struct ScanStartEnvironment {
  const tone_curves::DataFileStore* data_file = nullptr;  // the tone curves composed into gamma
  calibration::PassEnvironment pass;                      // for the flatbed's fresh dark reference
};

// True while a scan of this process holds a ring or a reader thread (from a
// successful start until it is stopped).
bool scan_running(const transport::ScannerContext& context);

// Starts the scan the context's scan fields describe. On success the motor runs,
// the ring exists and the reader thread fills it. A failure after the motor was
// started abandons the scan again (reader, ring, carriage home). 0 or the failing
// step's code.
uint16_t start_scan(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                    const ScanStartEnvironment& environment);

}  // namespace qrx::scan
