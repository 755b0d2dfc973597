// Calibration per scanner: every scanner keeps its shading and counter files in a
// directory of its own inside the user's temporary directory, so that one
// scanner's calibration never serves, or replaces, another's.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "engine/carriage.h"
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
    engine::wait_for_stop(lib().context);  // the carriage home before the next open
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

}  // namespace
}  // namespace qrx::test
