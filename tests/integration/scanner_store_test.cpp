// Calibration per scanner: every scanner keeps its shading and counter files, and
// the scan origin its reference search found, in a directory of its own inside the
// user's temporary directory, so that one scanner's calibration never serves, or
// replaces, another's; and a new process takes the kept origin instead of
// searching while the controller has stayed set up.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "pass/carriage.h"
#include "integration/scan_test_fixture.h"

namespace qrx::test {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

constexpr uint32_t kInch = 2400;

// Every plain file of a directory with its content.
Files files_in(const std::string& dir) {
  Files files;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(dir, ignored)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files[entry.path().filename().string()] = {std::istreambuf_iterator<char>(in),
                                               std::istreambuf_iterator<char>()};
  }
  return files;
}

class ScannerStoreTest : public ScanTest {
 protected:
  // A one-inch colour scan at 300 dpi through the exports; whether a background
  // calibration ran before it.
  bool scan_calibrated() {
    EXPECT_EQ(set_scan(300, 24, 0, 0, kInch, kInch), QRX_TRUE);
    EXPECT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
    const bool calibrated = lib().context.calibration_thread != nullptr;
    EXPECT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
    EXPECT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
    pass::wait_for_stop(lib().context);  // the carriage home before the next open
    return calibrated;
  }
  // Opens and initialises the scanner under another path.
  void switch_to(const std::string& other) {
    TerminateScanner(nullptr);
    path = other;
    ASSERT_TRUE(open_scanner()) << std::hex << last_error();
    ASSERT_EQ(InitializeScanner(nullptr), QRX_TRUE) << std::hex << last_error();
    ASSERT_EQ(SetLamp(nullptr, 1), QRX_TRUE) << std::hex << last_error();
  }
  // Reference searches since the trace was cleared: each reads its white level
  // and its 256 moving lines with 3141 ticks of each LED, 785 in the exposure
  // registers with the divider 4 of its 600 dpi reads; nothing else uses it.
  size_t searches() {
    size_t reads = 0;
    uint32_t high = 0;
    for (const auto& e : scanner->trace({emu::RequestKind::ControlOut, 0x83, -1})) {
      if (e.data[0] == 0x14) high = e.data[1];
      if (e.data[0] == 0x15 && (high << 8 | e.data[1]) == 785) ++reads;
    }
    return reads / 2;
  }
  // What a new process finds once every process before it has ended: a status
  // block of its own, with no origin in it yet.
  void as_a_new_process() {
    TerminateScanner(nullptr);
    const uint16_t none = 0;
    lib().status_block.write_field(1, &none, sizeof none);
    lib().status_block.write_field(2, &none, sizeof none);
    scanner->clear_trace();
  }
};

TEST_F(ScannerStoreTest, TwoScannersOfOneUserKeepCalibrationsOfTheirOwn) {
  const std::string name = path.substr(5);  // after "sim:#"
  const std::string dir_a = temp.library_dir() + "sim-seed-7730%23" + name + "/";
  ASSERT_EQ(temp.scanner_dir(scanner_identity()), dir_a);
  EXPECT_TRUE(scan_calibrated()) << "scanner A has no calibration yet";
  const Files of_a = files_in(dir_a);
  ASSERT_EQ(of_a.count("QRX7730C.SHD"), 1u);
  ASSERT_EQ(of_a.count("QRX7730H.SHD"), 1u);
  EXPECT_FALSE(scan_calibrated()) << "its second scan takes its calibration";
  const Files counted_a = files_in(dir_a);

  // Files an older library left in the user's directory itself (whose scanner
  // they were no file says): left as they are, and not taken for any scanner.
  for (const char* legacy : {"QRX7730C.SHD", "QRX7730H.SHD"}) {
    std::ofstream(temp.library_dir() + legacy, std::ios::binary) << of_a.at(legacy);
  }
  const Files legacy = files_in(temp.library_dir());
  ASSERT_EQ(legacy.size(), 2u);

  // Scanner B, another name: calibrates at its first scan, into its own directory.
  switch_to(path + "-B");
  const std::string dir_b = temp.library_dir() + "sim-seed-7730%23" + name + "-B/";
  EXPECT_TRUE(scan_calibrated()) << "scanner B has no calibration yet";
  const Files of_b = files_in(dir_b);
  EXPECT_EQ(of_b.count("QRX7730C.SHD"), 1u);
  EXPECT_EQ(of_b.count("QRX7730H.SHD"), 1u);
  EXPECT_TRUE(files_in(dir_a) == counted_a) << "A's files untouched by B's calibration";
  EXPECT_TRUE(files_in(temp.library_dir()) == legacy) << "the old files left alone";

  // Back on A: its own calibration and counter, counted on from where A left them.
  switch_to(path.substr(0, path.size() - 2));
  EXPECT_FALSE(scan_calibrated());
  EXPECT_EQ(files_in(dir_a).at("QRX7730C.SHD"), of_a.at("QRX7730C.SHD"));
  const std::string counter = files_in(dir_a).at("QRX7730H.SHD");
  ASSERT_EQ(counter.size(), 2u);
  EXPECT_EQ(counter[0], 3) << "A's third scan since its calibration";
}

TEST_F(ScannerStoreTest, ANewProcessTakesTheKeptOriginUntilTheControllerComesUpFresh) {
  // A scanner of its own, fresh.
  TerminateScanner(nullptr);
  reset_scanner(emu::Options{});
  path += "-fresh";
  ASSERT_TRUE(open_scanner());
  ASSERT_EQ(InitializeScanner(nullptr), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(searches(), 1u);
  const uint16_t origin = scanner->expected_home_offset();
  EXPECT_EQ(lib().status_block.home_offset(), origin);
  const std::string kept = scanner_dir() + "QRX7730O.dat";
  ASSERT_TRUE(fs::is_regular_file(kept)) << "the origin kept with the calibration";

  // A new process on the controller as the last one left it: no search, no move,
  // the same origin, for the scan start and for the processes beside it.
  as_a_new_process();
  ASSERT_TRUE(open_scanner());
  ASSERT_EQ(InitializeScanner(nullptr), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(searches(), 0u);
  EXPECT_EQ(scanner->carriage_steps(), 0.0);
  EXPECT_EQ(lib().context.reference_offset, origin);
  EXPECT_EQ(lib().status_block.home_offset(), origin);

  // Switched off and on, or unplugged and plugged in again: the controller comes up
  // fresh and the next process searches again; the one after it need not.
  const std::pair<const char*, void (emu::Scanner::*)()> restarts[] = {
      {"power cycle", &emu::Scanner::power_cycle}, {"re-plug", &emu::Scanner::reconnect}};
  for (const auto& [what, restart] : restarts) {
    SCOPED_TRACE(what);
    ((*scanner).*restart)();
    as_a_new_process();
    ASSERT_TRUE(open_scanner()) << std::hex << last_error();
    EXPECT_FALSE(fs::exists(kept)) << "forgotten when the controller came up fresh";
    ASSERT_EQ(InitializeScanner(nullptr), QRX_TRUE) << std::hex << last_error();
    EXPECT_EQ(searches(), 1u);
    EXPECT_EQ(lib().status_block.home_offset(), origin);
    as_a_new_process();
    ASSERT_TRUE(open_scanner());
    ASSERT_EQ(InitializeScanner(nullptr), QRX_TRUE);
    EXPECT_EQ(searches(), 0u);
    EXPECT_EQ(lib().status_block.home_offset(), origin);
  }

  // A process that opens a fresh controller (which sets it up) and ends without
  // initialising leaves no stale origin behind: the next one searches.
  scanner->power_cycle();
  as_a_new_process();
  ASSERT_TRUE(open_scanner());
  as_a_new_process();
  ASSERT_TRUE(open_scanner());
  ASSERT_EQ(InitializeScanner(nullptr), QRX_TRUE);
  EXPECT_EQ(searches(), 1u);
  EXPECT_EQ(lib().status_block.home_offset(), origin);
}

}  // namespace
}  // namespace qrx::test
