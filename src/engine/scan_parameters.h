// Scan parameters: the host's description of the next scan, checked against the
// flatbed and film areas, converted to sensor units, and turned into the scan
// fields of the device context and the line values the read path reports.
#pragma once

#include <array>
#include <cstdint>

#include "qrx7730.h"
#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::engine {

// What the library keeps from one SetScanParameter to the next.
struct ScanValues {
  ScanParameter stored{};       // the caller's record as given (window in 1/9600 inch)
  uint32_t line_pixels = 0;     // pixels per output line
  uint32_t line_bytes = 0;      // bytes per output line
  uint32_t line_count = 0;      // output lines
  uint32_t half_x_res = 0;      // 4800 x 4800: read at 2400 across and widened
  uint32_t wide_samples = 0;    // 16-bit samples delivered for an 8- or 24-bit request
};

// The window checks, in order; 0 or the first failing check's code.
uint16_t check_window(const ScanParameter& parameter);

// The whole operation. On a failing check the stored copy, the half-resolution and
// wide-samples flags are already updated, the context and line values are not.
uint16_t set_scan_parameter(transport::ScannerContext& context,
                            const settings::ScannerSetting& setting, ScanValues& values,
                            const ScanParameter& parameter, uint8_t lamp_select,
                            const std::array<uint8_t, QRX_AG_BLOCK_SIZE>& host_ag_block);

}  // namespace qrx::engine
