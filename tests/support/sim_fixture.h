// SimTest: runs the library against a fresh in-process emulated scanner on a
// virtual clock, under a device path ("sim:#<test>-<pid>") whose status block
// belongs to this test alone, with a temporary directory of its own (so shading
// and counter files never meet another test's). At its end the library must be
// idle: no busy flag held, no worker thread left.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "api/library.h"
#include "emulator/inprocess.h"
#include "emulator/scanner.h"
#include "platform/clock.h"
#include "qrx7730.h"
#include "support/library_idle.h"
#include "support/temp_dir.h"

namespace qrx::test {

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QRX7730_INSTALL_DIR", QRX_TEST_DATA_DIR, 1);
    TerminateScanner(nullptr);
    path = std::string("sim:#") +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
           std::to_string(getpid());
    reset_scanner(emu::Options{});
  }
  void TearDown() override {
    expect_library_left_idle(path);
    TerminateScanner(nullptr);
  }

  // A new scanner with these options (what the next open of the path reaches).
  void reset_scanner(const emu::Options& options) {
    scanner = emu::reset_inprocess_scanner(options);
    ASSERT_NE(scanner, nullptr);
  }
  // What identifies the in-process scanner under this test's path: its seed and
  // the path's "#name"; its calibration is kept in the directory named after it.
  std::string scanner_identity() const {
    return "sim-seed-" + std::to_string(scanner->options().seed) + path.substr(4);
  }
  std::string scanner_dir() const { return temp.scanner_dir(scanner_identity()); }
  // FindScannerEx on this test's path; true when it succeeded.
  bool open_scanner() { return FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID) != 0; }

  api::Library& lib() { return api::library(); }
  uint16_t last_error() {
    uint16_t status = 0xDEAD;
    GetScannerStatus(nullptr, &status);
    return status;
  }

  ScopedTempDir temp;
  platform::VirtualClock clock;
  platform::ScopedClock use_clock{clock};
  std::shared_ptr<emu::Scanner> scanner;
  std::string path;
};

}  // namespace qrx::test
