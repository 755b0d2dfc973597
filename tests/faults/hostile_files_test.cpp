// The library among hostile files, through the host's calls: a shading file, the
// counter file or the data file cut short, too long, replaced by a link, a
// directory or a FIFO, or unreadable; a full disk; a temporary directory that
// cannot be used. Never a wrong image, never a write through a link, never a
// hang, and a clear status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "faults/matrix_fixture.h"
#include "pass/carriage.h"
#include "platform/private_file.h"

namespace qrx::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// 300 dpi colour, half an inch by a quarter over the grey ramp.
constexpr uint32_t kX = 600, kY = 1000, kWidth = 1200, kLength = 600;

void write_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Bytes read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One hostile thing put at a file's name, given the good file's content and what a
// link points to (at `spare`, outside the library's directory).
struct Form {
  const char* what;
  std::function<void(const std::string& path, const Bytes& good, const Bytes& planted,
                     const std::string& spare)>
      make;
};

// The forms a file of the library can be found in.
std::vector<Form> hostile_forms() {
  return {
      {"cut short",
       [](auto& p, auto& good, auto&, auto&) {
         write_bytes(p, Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2)));
       }},
      {"too long",
       [](auto& p, auto& good, auto&, auto&) {
         Bytes longer = good;
         longer.push_back(0);
         write_bytes(p, longer);
       }},
      {"a link",
       [](auto& p, auto&, auto& planted, auto& spare) {
         write_bytes(spare, planted);
         fs::remove(p);
         fs::create_symlink(spare, p);
       }},
      {"a directory",
       [](auto& p, auto&, auto&, auto&) {
         fs::remove(p);
         fs::create_directories(p + "/inside");
       }},
      {"a FIFO",
       [](auto& p, auto&, auto&, auto&) {
         fs::remove(p);
         ASSERT_EQ(mkfifo(p.c_str(), 0600), 0);
       }},
  };
}

class HostileFiles : public FaultMatrix {
 protected:
  void SetUp() override {
    FaultMatrix::SetUp();
    emu::Options quiet;
    quiet.sensor_noise = false;
    reset_scanner(quiet);
    Host host{*this, {}};
    ASSERT_TRUE(open_and_initialise(host, QRX_LAMP_FLATBED));
    ASSERT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_TRUE) << std::hex << last_error();
    calibrated = library_files();
    reference = scan_image();
    ASSERT_EQ(reference.status, QRX_OK) << std::hex << reference.status;
    ASSERT_FALSE(reference.product.empty());
  }
  void TearDown() override {
    platform::simulate_full_disk(false);
    FaultMatrix::TearDown();
  }

  FlowResult scan_image() {
    Host host{*this, {}};
    scan(host, 300, 24, kX, kY, kWidth, kLength);
    return host.result;
  }
  std::string in_library(const char* name) { return scanner_dir() + name; }
  // Closes the scanner once the carriage a stop sent home has arrived (until then
  // a new FindScannerEx would find it moving).
  void close_scanner() {
    pass::wait_for_stop(lib().context);
    TerminateScanner(nullptr);
  }
  std::string listing() {
    std::string names;
    for (const auto& [name, bytes] : library_files()) {
      names += name + (calibrated.count(name) && calibrated.at(name) == bytes ? "= " : "* ");
    }
    return names;
  }

  // With `name` in each hostile form: the scan calibrates afresh rather than use
  // it, and comes out as the reference; or it fails with `refused` when the name
  // cannot be taken back. A link's target is never written.
  void expect_each_form_refused(const char* name, uint16_t refused) {
    for (const Form& form : hostile_forms()) {
      SCOPED_TRACE(std::string(name) + " " + form.what);
      restore_files(calibrated);
      const std::string spare = temp.path() + "/planted";
      const Bytes good = calibrated.at(name);
      // A file of the right size and another content: followed, it would change
      // the image (another white) or the count (4097 scans).
      Bytes planted = good;
      for (size_t i = std::min<size_t>(13, good.size() - 1); i < planted.size(); ++i)
        planted[i] ^= 0x10;
      form.make(in_library(name), good, planted, spare);
      const FlowResult result = scan_image();
      if (result.status == QRX_OK) {
        EXPECT_TRUE(result.product == reference.product) << "another image than the reference";
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(in_library(name))));
        EXPECT_EQ(read_bytes(in_library(name)).size(), good.size());
      } else {
        EXPECT_EQ(result.status, refused) << result.failed_call << std::hex << " " << result.status;
      }
      if (fs::exists(spare)) {
        EXPECT_EQ(read_bytes(spare), planted) << "written through the link";
      }
      fs::remove(spare);
      EXPECT_EQ(lib().status_block.busy(), 0u);
    }
  }

  Files calibrated;
  FlowResult reference;
};

TEST_F(HostileFiles, AShadingFileInAnyHostileFormIsNotUsed) {
  // A directory at the name cannot be replaced by the new calibration.
  expect_each_form_refused("QRX7730C.SHD", QRX_E_SHADING_SAVE);
}

TEST_F(HostileFiles, ACounterFileInAnyHostileFormIsNotUsed) {
  expect_each_form_refused("QRX7730H.SHD", QRX_E_SHADING_SAVE);
}

TEST_F(HostileFiles, UnreadableFilesAreRecalibrated) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  for (const char* name : {"QRX7730C.SHD", "QRX7730H.SHD"}) {
    restore_files(calibrated);
    ASSERT_EQ(chmod(in_library(name).c_str(), 0), 0);
    const FlowResult result = scan_image();
    EXPECT_EQ(result.status, QRX_E_SHADING_SAVE) << name << std::hex << " " << result.status;
  }
}

TEST_F(HostileFiles, ADataFileInAnyHostileFormIsReportedOrReadAsItsCurves) {
  const std::string dir = temp.path() + "/install/";
  fs::create_directories(dir);
  setenv("QRX7730_INSTALL_DIR", dir.c_str(), 1);
  const Bytes good = read_bytes(std::string(QRX_TEST_DATA_DIR) + "QRX7730N.dat");
  ASSERT_EQ(good.size(), 393216u);
  for (const Form& form : hostile_forms()) {
    SCOPED_TRACE(form.what);
    fs::remove_all(dir + "QRX7730N.dat");
    write_bytes(dir + "QRX7730N.dat", good);
    const std::string spare = temp.path() + "/planted.dat";
    form.make(dir + "QRX7730N.dat", good, good, spare);
    close_scanner();
    // An installed file may be a link; a longer file gives its first curves.
    const bool usable = std::string(form.what) == "too long" || std::string(form.what) == "a link";
    const QRX_BOOL found = FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID);
    EXPECT_EQ(lib().status_block.busy(), 0u);
    if (!usable) {
      EXPECT_EQ(found, QRX_FALSE);
      EXPECT_EQ(last_error(), QRX_E_DATA_FILE);
      continue;
    }
    ASSERT_EQ(found, QRX_TRUE) << std::hex << last_error();
    ASSERT_EQ(InitializeScanner(nullptr), QRX_TRUE);
    const FlowResult result = scan_image();
    EXPECT_EQ(result.status, QRX_OK) << std::hex << result.status;
    EXPECT_TRUE(result.product == reference.product);
    fs::remove(spare);
  }
  if (geteuid() != 0) {
    write_bytes(dir + "QRX7730N.dat", good);
    ASSERT_EQ(chmod((dir + "QRX7730N.dat").c_str(), 0), 0);
    close_scanner();
    EXPECT_EQ(FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID), QRX_FALSE);
    EXPECT_EQ(last_error(), QRX_E_DATA_FILE);
  }
}

TEST_F(HostileFiles, OnAFullDiskNothingOfTheCalibrationChangesAndScansSayWhy) {
  calibrated = library_files();  // as the reference scan left them (counted once)
  platform::simulate_full_disk(true);
  EXPECT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_SHADING_SAVE);
  EXPECT_TRUE(library_files() == calibrated)
      << "the earlier calibration is left whole: " << listing();
  // The scan cannot be counted in the counter file: it does not start.
  const FlowResult full = scan_image();
  EXPECT_EQ(full.status, QRX_E_CALIBRATION_DATA) << std::hex << full.status;
  EXPECT_EQ(full.failed_call, "GetCalibrationStatus");
  EXPECT_TRUE(library_files() == calibrated) << listing();
  EXPECT_EQ(lib().status_block.busy(), 0u);
  platform::simulate_full_disk(false);
  const FlowResult room = scan_image();
  EXPECT_EQ(room.status, QRX_OK) << std::hex << room.status;
  EXPECT_TRUE(room.product == reference.product);
}

TEST_F(HostileFiles, ALinkOrSomeoneElsesDirectoryAtTheScannersNameIsRefused) {
  // At the scanner's directory name: a link to a directory holding a calibration
  // (which, followed, would be used and written), or a directory of another user
  // (who could plant or read the files in it).
  const std::string dir = scanner_dir().substr(0, scanner_dir().size() - 1);
  const std::string elsewhere = temp.path() + "/elsewhere";
  const std::pair<const char*, std::function<void()>> forms[] = {
      {"a link",
       [&] {
         fs::rename(dir, elsewhere);
         fs::create_directory_symlink(elsewhere, dir);
       }},
      {"someone else's directory", [&] { ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0); }},
  };
  for (const auto& [what, make] : forms) {
    SCOPED_TRACE(what);
    close_scanner();
    restore_files(calibrated);
    make();
    if (HasFatalFailure()) return;
    const Files before = library_files();
    // The scan origin is not taken from there: a new process searches.
    const uint16_t none = 0;
    lib().status_block.write_field(2, &none, sizeof none);
    scanner->clear_trace();
    Host host{*this, {}};
    ASSERT_TRUE(open_and_initialise(host, QRX_LAMP_FLATBED));
    EXPECT_GT(scanner->trace({emu::RequestKind::ControlOut, 0x83, 0x0F}).size(), 0u)
        << "the carriage moved for a search";
    EXPECT_EQ(lib().status_block.home_offset(), scanner->expected_home_offset());
    // The calibration can neither be kept there nor taken from there.
    EXPECT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_FALSE);
    EXPECT_EQ(last_error(), QRX_E_SHADING_SAVE);
    const FlowResult result = scan_image();
    EXPECT_EQ(result.status, QRX_E_SHADING_SAVE) << std::hex << result.status;
    EXPECT_EQ(lib().status_block.busy(), 0u);
    EXPECT_TRUE(library_files() == before) << "nothing written there";
    // Taken away, the scanner's own directory is made anew and used.
    std::error_code ignored;
    fs::remove(dir, ignored);  // the link itself, not where it leads
    fs::remove_all(dir, ignored);
    fs::remove_all(elsewhere, ignored);
  }
  const FlowResult result = scan_image();
  EXPECT_EQ(result.status, QRX_OK) << std::hex << result.status;
  EXPECT_TRUE(result.product == reference.product);
}

TEST_F(HostileFiles, ATemporaryDirectoryThatCannotBeUsedIsReported) {
  // Not writable even by root (/proc), or not a directory at all.
  const std::string not_a_directory = temp.path() + "/a-file";
  write_bytes(not_a_directory, {1});
  for (const std::string& tmpdir : {std::string("/proc"), not_a_directory}) {
    SCOPED_TRACE(tmpdir);
    setenv("TMPDIR", tmpdir.c_str(), 1);
    EXPECT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_FALSE);
    EXPECT_EQ(last_error(), QRX_E_SHADING_SAVE);
    // No stored calibration to scan with, and none can be kept: the background
    // calibration fails at its first save.
    const FlowResult result = scan_image();
    EXPECT_EQ(result.status, QRX_E_SHADING_SAVE) << std::hex << result.status;
    EXPECT_EQ(lib().status_block.busy(), 0u);
  }
  setenv("TMPDIR", temp.path().c_str(), 1);
  const FlowResult result = scan_image();
  EXPECT_EQ(result.status, QRX_OK);
  EXPECT_TRUE(result.product == reference.product);
}

}  // namespace
}  // namespace qrx::test
