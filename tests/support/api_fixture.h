// ApiTest: runs the exported functions against a scripted device on a device
// path of its own, with a temporary directory of its own, checks that the library
// was left idle (no busy flag, no worker thread) and closes it again afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include "api/library.h"
#include "qrx7730.h"
#include "support/library_idle.h"
#include "support/scripted_channel.h"
#include "support/temp_dir.h"

namespace qrx::test {

class ApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QRX7730_INSTALL_DIR", QRX_TEST_DATA_DIR, 1);
    device = std::make_shared<ScriptedDevice>();
    path = install_scripted_backend(device, ::testing::UnitTest::GetInstance()->current_test_info()->name());
    TerminateScanner(nullptr);
  }
  void TearDown() override {
    expect_library_left_idle(path);
    TerminateScanner(nullptr);
  }

  api::Library& lib() { return api::library(); }
  uint16_t last_error() {
    uint16_t status = 0xDEAD;
    EXPECT_EQ(GetScannerStatus(nullptr, &status), QRX_TRUE);
    return status;
  }

  ScopedTempDir temp;
  std::shared_ptr<ScriptedDevice> device;
  std::string path;
};

}  // namespace qrx::test
