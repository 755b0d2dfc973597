// FaultMatrix: the host's whole flows through the exports against a fresh emulated
// scanner on a virtual clock, run once clean to count their sites (device
// requests, bulk reads, allocations) and to keep what they made, then once for
// each site with one fault placed there: the request failing, the scanner
// unplugged, the bulk reads stalling from there on, or the allocation failing.
// Every run must end with a documented failure status or with exactly what the
// clean run made, within its time bound, with the scanner free, no worker thread
// left, and a FindScannerEx and scan afterwards must succeed, with the scanner
// closed first or not.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "emulator/scanner.h"
#include "support/gated_clock.h"
#include "support/sim_fixture.h"

namespace qrx::test {

enum class FaultKind { kFailRequest, kDisconnect, kStallBulkReads, kAllocation };

// What one run of a flow gave.
struct FlowResult {
  uint16_t status = QRX_OK;      // the first unexpected failure's status
  std::string failed_call;       // the export that gave it
  std::vector<uint8_t> product;  // what the flow made (image, files, verdict)
  uint64_t virtual_ms = 0;       // how long the flow took on the scanner's clock
};

// How many sites a flow has of each kind.
struct Census {
  uint64_t requests = 0, bulk_reads = 0, allocations = 0;
};

// The files of the library's temporary directory by name.
using Files = std::map<std::string, std::vector<uint8_t>>;

class FaultMatrix : public SimTest {
 public:
  // One whole host flow: the scanner it needs, the files and status block it
  // starts from, and the exported calls it makes.
  struct Flow {
    const char* name;
    emu::Options options;
    bool needs_search;  // the reference search has not run yet (no offset stored)
    bool with_shading;  // the shading files of a calibration at 300 and 1200 dpi present
    std::function<FlowResult(FaultMatrix&)> run;
  };
  // Every flow of the matrix (flows.cpp).
  static const std::vector<Flow>& flows();

 protected:
  void SetUp() override;
  void TearDown() override;

  // ---- The host's calls (flows.cpp) ----
  // Records the first unexpected failure of a flow.
  struct Host {
    FaultMatrix& test;
    FlowResult result;
    bool ok(const char* call, QRX_BOOL returned);
  };
  // FindScannerEx, InitializeScanner and SetLamp.
  bool open_and_initialise(Host& host, uint8_t light);
  // GetLampStatus polled a second apart until the selected light is ready.
  bool warm_up(Host& host);
  // One scan of a window (2400 dpi units from the origin; film_area: on the film
  // adapter's area) through the exports, the image bytes appended to the product;
  // StopScanEx also after a failed call.
  void scan(Host& host, uint16_t resolution, uint8_t depth, uint32_t x, uint32_t y, uint32_t width,
            uint32_t length, uint8_t film_area = 0);
  // Polls GetCalibrationStatus (paced in real time) until it no longer reports a
  // background calibration.
  QRX_BOOL poll_calibration_status();

  // ---- The matrix (matrix_fixture.cpp) ----
  // Puts the scanner, the library, the status block and the files where the flow
  // starts from.
  void prepare(const Flow& flow);
  // Runs the flow clean: its census and result.
  FlowResult clean_run(const Flow& flow, Census& census);
  // Runs the flow with a fault at site n (1-based) and checks what it left.
  void faulted_run(const Flow& flow, FaultKind kind, uint64_t n, const FlowResult& reference);
  // Runs every site of `kind` at the stride the environment asks for.
  void run_matrix(const Flow& flow, FaultKind kind);

  // A small scan after a run: the scanner must be usable again and scan right,
  // opened again by FindScannerEx after TerminateScanner (close_first) or, as a
  // host that saw a call fail may do, without closing it first.
  void expect_recovery(FaultKind kind, const std::string& run_name, bool close_first);

  // The first request the scanner refused in its trace, in words.
  std::string first_refused();
  Files library_files();
  void restore_files(const Files& files);

  GatedClock gate;
  platform::ScopedClock use_gate{gate};
  Files shading_snapshot;    // the files of a calibration at 300 and 1200 dpi
  uint16_t home_offset = 0;  // what the reference search finds
  uint16_t home_offset_aux = 0;
  std::vector<uint8_t> recovery_reference;
  uint64_t recoveries = 0;  // the recoveries alternate between the two ways of opening again
};

// About how many sites of each flow and kind a run visits when QRX_FAULT_STRIDE
// is unset (the default test run): spread evenly from the first to the last.
inline constexpr uint64_t kDefaultSites = 8;

// The sites of a flow that a run of the matrix visits: every `stride`-th from the
// first, and the last.
std::vector<uint64_t> sites_to_visit(uint64_t count, uint64_t stride);
// QRX_FAULT_STRIDE when it is a positive number, else the stride that visits about
// QRX_FAULT_SITES of count sites when that is a positive number (the sanitizer runs
// visit fewer), else about kDefaultSites.
uint64_t stride_from_environment(uint64_t count);

}  // namespace qrx::test
