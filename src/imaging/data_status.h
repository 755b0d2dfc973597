// GetDataStatus: what the host needs to read the scan (bytes per line, lines still
// to read, the time of one line) and, for vertical resolutions of 300 dpi and up
// whose kernel is not all zero, arming the line filter for the scan's reads.
#pragma once

#include <cstdint>

#include "imaging/jaggy_filter.h"
#include "imaging/scan_values.h"
#include "qrx7730.h"
#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::imaging {

// Filter kernel for a vertical resolution: 300, 600, 1200, 2400, 4800, 9600 dpi
// take kernels 0 to 5, any other resolution from 300 dpi up kernel 0; -1 below
// 300 dpi (no filter).
int kernel_for_resolution(uint32_t y_resolution);

// The scan reported on: the device context and tuning it is read with, the light
// selected, and whether its lines are being read.
struct ReportedScan {
  const transport::ScannerContext& context;
  const settings::ScannerSetting& setting;
  uint8_t lamp_select = QRX_LAMP_NONE;
  bool reading = false;
};

// The line filter, and whether ReadScan goes through it (armed 1) or not (0).
struct LineFilterUse {
  JaggyFilter& filter;
  uint32_t& armed;
};

// Fills status and sets line_filter.armed (1 when ReadScan is to go through the
// filter, which is then restarted for the scan). The line time is that of what the
// scanner reads for one delivered line; an 8-bit grey flatbed request of at most
// 150 dpi across that is read as colour has its stored depth raised to 24. While the
// scan is being read (scan.reading) the filter is left as it is, and the lines left
// are the filter's output lines still to come when it is armed. 0, or 0x9722
// (filter left off) for a kernel whose rows cannot be centred.
uint16_t data_status(const ReportedScan& scan, ScanValues& values, LineFilterUse line_filter,
                     DataStatus& status);

}  // namespace qrx::imaging
