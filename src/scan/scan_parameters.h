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

// The whole operation. A failing check changes nothing: the stored copy, the flags,
// the context and the line values stay those of the last accepted call.
uint16_t set_scan_parameter(transport::ScannerContext& context,
                            const settings::ScannerSetting& setting, ScanValues& values,
                            const ScanParameter& parameter, uint8_t lamp_select,
                            const std::array<uint8_t, QRX_AG_BLOCK_SIZE>& host_ag_block);

}  // namespace qrx::scan
