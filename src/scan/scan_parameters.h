// Scan parameters: the host's description of the next scan, checked against the
// flatbed and film areas, converted to sensor units, and turned into the scan
// fields of the device context and the line values the read path reports.
#pragma once

#include <array>
#include <cstdint>

#include "imaging/scan_values.h"
#include "qrx7730.h"
#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::scan {

using imaging::ScanValues;

// The window checks, in order; 0 or the first failing check's code.
uint16_t check_window(const ScanParameter& parameter);

// What the host asks the next scan to be: its parameter record, the light it has
// selected, and the AG block it has given (taken when the record says to use it).
struct HostRequest {
  const ScanParameter& parameter;
  uint8_t lamp_select = QRX_LAMP_NONE;
  const std::array<uint8_t, QRX_AG_BLOCK_SIZE>& ag_block;
};

// The whole operation. A failing check changes nothing: the stored copy, the flags,
// the context and the line values stay those of the last accepted call.
uint16_t set_scan_parameter(transport::ScannerContext& context,
                            const settings::ScannerSetting& setting, ScanValues& values,
                            const HostRequest& request);

}  // namespace qrx::scan
