// The fault matrix's runs and the checks made after each (see matrix_fixture.h).
#include "faults/matrix_fixture.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "lamp/lamp.h"
#include "platform/memory.h"
#include "status_text.h"

namespace qrx::test {

namespace {

// The recovery scan: 300 dpi colour over the grey ramp, half an inch by a quarter.
constexpr uint32_t kRecoveryX = 600, kRecoveryY = 1000, kRecoveryWidth = 1200,
                   kRecoveryLength = 600;
// How much longer than the clean flow a faulted one may take on the scanner's
// clock: a few of the longest waits the library allows itself (a minute for the
// motor, half a minute of data silence, half a minute for a stop's first line).
constexpr uint64_t kExtraVirtualMs = 5 * 60 * 1000;

const char* kind_name(FaultKind kind) {
  switch (kind) {
    case FaultKind::kFailRequest:
      return "failed request";
    case FaultKind::kDisconnect:
      return "disconnect";
    case FaultKind::kStallBulkReads:
      return "stalled bulk reads";
    case FaultKind::kAllocation:
      return "failed allocation";
  }
  return "?";
}

// A status the public header documents: one of its codes, or the warm-up code
// with its count.
bool documented(uint16_t status) {
  if ((status & 0xFF00) == QRX_LAMP_WARMING_UP) return true;
  const auto table = qrxscan::status_table();
  return std::any_of(table.begin(), table.end(),
                     [status](const qrxscan::StatusEntry& e) { return e.code == status; });
}

// How two results differ: their sizes, how many bytes differ and the first.
std::string difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  size_t differing = 0, first = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    if (a[i] != b[i] && differing++ == 0) first = i;
  }
  return std::to_string(a.size()) + " bytes against " + std::to_string(b.size()) + ", " +
         std::to_string(differing) + " differing from byte " + std::to_string(first);
}

}  // namespace

std::string FaultMatrix::first_refused() {
  for (const emu::TraceEntry& e : scanner->trace()) {
    if (e.ok) continue;
    char text[96];
    std::snprintf(text, sizeof text, "first failed request: kind %d code 0x%02X reg 0x%02X length %u",
                  static_cast<int>(e.kind), e.request, e.reg & 0xFF, e.length);
    return text;
  }
  return "no request failed";
}

std::vector<uint64_t> sites_to_visit(uint64_t count, uint64_t stride) {
  std::vector<uint64_t> sites;
  if (count == 0) return sites;
  for (uint64_t n = 1; n <= count; n += std::max<uint64_t>(stride, 1)) sites.push_back(n);
  if (sites.back() != count) sites.push_back(count);
  return sites;
}

namespace {
// A positive whole number from the environment, or 0.
uint64_t positive_from_environment(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr) return 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  return end != text && *end == '\0' ? value : 0;
}
}  // namespace

uint64_t stride_from_environment(uint64_t count) {
  if (const uint64_t stride = positive_from_environment("QRX_FAULT_STRIDE")) return stride;
  uint64_t sites = positive_from_environment("QRX_FAULT_SITES");
  if (sites == 0) sites = kDefaultSites;
  return std::max<uint64_t>(1, (count + sites - 1) / sites);
}

void FaultMatrix::SetUp() {
  SimTest::SetUp();
  // The host's waits for data are paced while the image reader runs.
  gate.pace_while([this] {
    const auto& reader = lib().context.reader_thread;
    return reader && reader->exit_code() == platform::Thread::kStillActive;
  });
}

void FaultMatrix::TearDown() {
  platform::fail_allocation_after(-1);
  lib().lamp_select = 0;
  SimTest::TearDown();
}

Files FaultMatrix::library_files() {
  Files files;
  const std::string dir = scanner_dir();
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return files;
  while (const dirent* entry = readdir(d)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    // Whatever is not a plain file (a link, a directory, a FIFO) is not read.
    struct stat st {};
    if (lstat((dir + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      files["(not a file) " + name] = {};
      continue;
    }
    std::ifstream in(dir + name, std::ios::binary);
    files[name] = {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  closedir(d);
  return files;
}

void FaultMatrix::restore_files(const Files& files) {
  const std::string dir = scanner_dir();
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ignored)) {
    std::filesystem::remove_all(entry.path(), ignored);
  }
  mkdir(temp.library_dir().c_str(), 0700);
  mkdir(dir.c_str(), 0700);
  for (const auto& [name, bytes] : files) {
    std::ofstream out(dir + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
}

void FaultMatrix::prepare(const Flow& flow) {
  platform::fail_allocation_after(-1);
  TerminateScanner(nullptr);
  reset_scanner(flow.options);
  lib().lamp_select = 0;
  lamp::reset_warm_up_attempts(lib().context);
  const uint16_t home = flow.needs_search ? 0 : home_offset;
  const uint16_t aux = flow.needs_search ? 0 : home_offset_aux;
  lib().status_block.write_field(2, &home, sizeof home);
  lib().status_block.write_field(1, &aux, sizeof aux);
  lib().status_block.set_lamp_state(QRX_LAMP_FLATBED);
  restore_files(flow.with_shading ? shading_snapshot : Files{});
}

FlowResult FaultMatrix::clean_run(const Flow& flow, Census& census) {
  prepare(flow);
  const unsigned long allocations = platform::allocations_seen();
  const uint64_t started = gate.now_us();
  FlowResult result = flow.run(*this);
  result.virtual_ms = (gate.now_us() - started) / 1000;
  census.requests = scanner->request_count();
  census.bulk_reads = scanner->request_count(emu::RequestKind::BulkIn);
  census.allocations = platform::allocations_seen() - allocations;
  return result;
}

void FaultMatrix::faulted_run(const Flow& flow, FaultKind kind, uint64_t n,
                              const FlowResult& reference) {
  const std::string run_name =
      std::string(flow.name) + ", " + kind_name(kind) + " at site " + std::to_string(n);
  prepare(flow);
  switch (kind) {
    case FaultKind::kFailRequest:
      scanner->fail_request({emu::RequestKind::Any}, static_cast<uint32_t>(n));
      break;
    case FaultKind::kDisconnect:
      scanner->disconnect_at(static_cast<uint32_t>(n));
      break;
    case FaultKind::kStallBulkReads:
      scanner->stall_bulk_reads_from(static_cast<uint32_t>(n));
      break;
    case FaultKind::kAllocation:
      platform::fail_allocation_after(static_cast<long>(n) - 1);
      break;
  }
  const uint64_t started = gate.now_us();
  const FlowResult result = flow.run(*this);
  const uint64_t virtual_ms = (gate.now_us() - started) / 1000;
  platform::fail_allocation_after(-1);

  if (result.status == QRX_OK) {
    EXPECT_TRUE(result.product == reference.product)
        << run_name << ": reported success with another result than the clean run's ("
        << difference(result.product, reference.product) << "; " << first_refused() << ")";
  } else {
    EXPECT_TRUE(documented(result.status))
        << run_name << ": " << result.failed_call << " failed with undocumented status 0x"
        << std::hex << result.status;
  }
  EXPECT_LE(virtual_ms, 2 * reference.virtual_ms + kExtraVirtualMs)
      << run_name << ": took too long (" << result.failed_call << ")";
  EXPECT_EQ(lib().status_block.busy(), 0u) << run_name << ": the scanner left busy";
  EXPECT_EQ(lib().context.reader_thread, nullptr) << run_name << ": an image reader left";
  EXPECT_EQ(lib().context.calibration_thread, nullptr) << run_name << ": a calibration left";
  EXPECT_EQ(lib().context.image_ring, nullptr) << run_name << ": the scan left running";
  expect_recovery(kind, run_name, recoveries++ % 2 == 0);
}

void FaultMatrix::expect_recovery(FaultKind kind, const std::string& run_name, bool close_first) {
  const std::string recovery = run_name + (close_first ? ", closed first" : ", not closed first");
  platform::fail_allocation_after(-1);
  if (close_first) TerminateScanner(nullptr);
  scanner->clear_faults();
  if (kind == FaultKind::kDisconnect) {
    // Plugged in again after it was unplugged. A run that ended before its site
    // (the image reader's polls, and so the count of requests, vary from run to
    // run) never unplugged the scanner: the fault is taken back instead, as a
    // scanner power-cycled under an open handle without a failing request has
    // no counterpart on USB, where the old handle fails.
    if (scanner->unplugged()) {
      scanner->reconnect();
    } else {
      scanner->disconnect_at(0);
    }
  }
  const Files files = library_files();
  // A carriage a failed stop sent home may still be on its way: FindScannerEx
  // (when it opens the scanner) or SetLamp says so (0x9601) until it has
  // arrived, and a host tries again a little later.
  bool opened = false;
  FlowResult opening;
  for (int second = 0; second < 60 && !opened; ++second) {
    Host attempt{*this, {}};
    opened = open_and_initialise(attempt, QRX_LAMP_FLATBED);
    opening = attempt.result;
    if (!opened && opening.status != QRX_E_CARRIAGE_MOVING) break;
    if (!opened) gate.sleep_ms(1000);
  }
  Host host{*this, opening};
  if (opened) {
    // A run that left no calibration behind is followed by one, as a host does.
    if (files.count("QRX7730C.SHD") == 0 || files.count("QRX7730H.SHD") == 0) {
      host.ok("DoCalibration", DoCalibration(nullptr, 0, 0, 300));
    }
    if (host.result.status == QRX_OK) {
      scan(host, 300, 24, kRecoveryX, kRecoveryY, kRecoveryWidth, kRecoveryLength);
    }
  }
  EXPECT_EQ(host.result.status, QRX_OK) << recovery << ": afterwards " << host.result.failed_call
                                        << " failed with 0x" << std::hex << host.result.status;
  EXPECT_TRUE(host.result.status != QRX_OK || host.result.product == recovery_reference)
      << recovery << ": the scan afterwards differs from a clean one";
  EXPECT_EQ(lib().status_block.busy(), 0u) << recovery << ": busy after the scan afterwards";
}

void FaultMatrix::run_matrix(const Flow& flow, FaultKind kind) {
  // The shading files every flow but the calibration starts from, and the offset
  // the reference search finds, from one clean calibration.
  reset_scanner(flow.options);
  Host setup{*this, {}};
  ASSERT_TRUE(open_and_initialise(setup, QRX_LAMP_FLATBED)) << std::hex << setup.result.status;
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_TRUE) << std::hex << last_error();
  if (std::string(flow.name).find("1200") != std::string::npos) {
    ASSERT_EQ(DoCalibration(nullptr, 0, 0, 1200), QRX_TRUE) << std::hex << last_error();
  }
  shading_snapshot = library_files();
  home_offset = lib().status_block.home_offset();
  home_offset_aux = lib().status_block.home_offset_aux();

  // What a scan after a run must give: the same scan right after the calibration.
  Flow scan_state = flow;
  scan_state.needs_search = false;
  scan_state.with_shading = true;
  prepare(scan_state);
  Host recovery{*this, {}};
  ASSERT_TRUE(open_and_initialise(recovery, QRX_LAMP_FLATBED));
  scan(recovery, 300, 24, kRecoveryX, kRecoveryY, kRecoveryWidth, kRecoveryLength);
  ASSERT_EQ(recovery.result.status, QRX_OK) << std::hex << recovery.result.status;
  recovery_reference = recovery.result.product;
  ASSERT_FALSE(recovery_reference.empty());

  Census census;
  const FlowResult reference = clean_run(flow, census);
  ASSERT_EQ(reference.status, QRX_OK) << flow.name << ": " << reference.failed_call
                                      << " failed with 0x" << std::hex << reference.status;
  // A second clean run makes exactly the same: the comparison is fair.
  Census again;
  ASSERT_TRUE(clean_run(flow, again).product == reference.product) << flow.name;

  const uint64_t count = kind == FaultKind::kAllocation       ? census.allocations
                         : kind == FaultKind::kStallBulkReads ? census.bulk_reads
                                                              : census.requests;
  const std::vector<uint64_t> sites = sites_to_visit(count, stride_from_environment(count));
  const auto real_start = std::chrono::steady_clock::now();
  for (const uint64_t n : sites) {
    faulted_run(flow, kind, n, reference);
    if (HasFailure() && std::getenv("QRX_FAULT_KEEP_GOING") == nullptr) break;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - real_start).count();
  std::printf(
      "[ matrix ] %s, %s: %zu of %llu sites run (requests %llu, bulk reads %llu, "
      "allocations %llu; clean run %llu ms on the scanner's clock, %zu bytes made) in %.1f s\n",
      flow.name, kind_name(kind), sites.size(), static_cast<unsigned long long>(count),
      static_cast<unsigned long long>(census.requests),
      static_cast<unsigned long long>(census.bulk_reads),
      static_cast<unsigned long long>(census.allocations),
      static_cast<unsigned long long>(reference.virtual_ms), reference.product.size(), seconds);
}

}  // namespace qrx::test
