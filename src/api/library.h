// Library: every process-wide object and value of the driver, in one object that
// is built when the library loads and destroyed when it unloads. Members are
// declared in the order they must be built (the line filter, the status block,
// the device context, the tuning record, the data-file store, diagnostics), so
// the language builds and destroys them in that order and its reverse.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "api/status_block.h"
#include "imaging/jaggy_filter.h"
#include "imaging/scan_values.h"
#include "qrx7730.h"
#include "scan/background_calibration.h"
#include "settings/scanner_setting.h"
#include "tone_curves/data_file_store.h"
#include "transport/scanner_context.h"

namespace qrx::api {

// Reserved for an optional external debug bridge; no operation uses it.
struct Diagnostics {};

struct Library {
  Library() = default;
  // Ends the worker threads before any member goes: they use the context, the
  // tuning record, the data-file store and the status block.
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  imaging::JaggyFilter line_filter;
  StatusBlock status_block;
  transport::ScannerContext context;
  settings::ScannerSetting setting;
  tone_curves::DataFileStore data_file;
  Diagnostics diagnostics;

  // Values of the exported interface (one copy per process, zero at load). The
  // host calls from one thread at a time per process; these carry no lock. The
  // last status is atomic: a host may poll GetCalibrationStatus on one thread
  // while it stops the scan on another.
  std::atomic<uint16_t> last_error{0};
  uint32_t device_open = 0;
  std::string open_path;  // lowered path of the scanner DeviceOpen names
  std::array<uint8_t, QRX_AG_BLOCK_SIZE> ag_block{};  // the host's block from SetAGData
  uint8_t lamp_select = 0;          // light source last given to SetLamp
  imaging::ScanValues scan_values;  // from the last SetScanParameter
  uint32_t filter_armed = 0;        // ReadScan goes through line_filter (set by GetDataStatus)
  bool filter_for_next_scan = false;  // armed before the scan it serves had started
  uint32_t last_button = 0;         // button seen by the previous poll
  // What the background calibration thread runs with, and the hold of the busy
  // flag it gives back when it ends.
  scan::BackgroundCalibration background_calibration;
  StatusBlock::BusyTicket calibration_hold = 0;
  // The scan StartScanEx asked for, until GetCalibrationStatus starts it; cancelled
  // when StopScanEx comes first, so that no later poll starts it (until the next
  // StartScanEx).
  enum ScanStart : uint8_t { kNoStartAsked = 0, kStartAsked = 1, kStartCancelled = 2 };
  std::atomic<uint8_t> scan_start{kNoStartAsked};
};

// The one instance of this process.
Library& library();

}  // namespace qrx::api
