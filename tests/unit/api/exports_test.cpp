// The exports' frame, result and last-status rules, and their refusal of bad
// input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/memory.h"
#include "support/api_fixture.h"

namespace qrx::test {
namespace {

using api::StatusBlock;
using ExportsTest = ApiTest;

TEST_F(ExportsTest, FindScannerOpensAndIdentifiesAndASecondCallChangesNothing) {
  ASSERT_EQ(FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID), QRX_TRUE);
  EXPECT_EQ(last_error(), QRX_OK);
  EXPECT_EQ(lib().device_open, 1u);
  EXPECT_TRUE(lib().context.link.is_open());
  EXPECT_EQ(lib().status_block.busy(), 0u) << "the frame is released";

  lib().last_error = 0x1234;
  const size_t calls = device->calls.size();
  EXPECT_EQ(FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID), QRX_TRUE);
  EXPECT_EQ(last_error(), 0x1234) << "already open: the last status is left alone";
  EXPECT_EQ(device->calls.size(), calls) << "already open: the device is not asked again";
}

TEST_F(ExportsTest, FindScannerRefusesAnotherModelAndLeavesNothingOpen) {
  device->product_id = QRX7730_USB_PRODUCT_ID + 1;
  EXPECT_EQ(FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_DEVICE_OPEN);
  EXPECT_EQ(lib().device_open, 0u);
  EXPECT_FALSE(lib().context.link.is_open());
  EXPECT_EQ(lib().status_block.busy(), 0u);

  device->product_id = QRX7730_USB_PRODUCT_ID;
  EXPECT_EQ(FindScannerEx(nullptr, path.c_str(), 0x7777), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_DEVICE_OPEN);
  const std::string unknown = "no-such-device-" + std::to_string(getpid());
  EXPECT_EQ(FindScannerEx(nullptr, unknown.c_str(), QRX7730_USB_PRODUCT_ID), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_DEVICE_OPEN);
}

TEST_F(ExportsTest, FindScannerRefusesUnusablePathsBeforeTouchingAnything) {
  EXPECT_EQ(FindScannerEx(nullptr, nullptr, QRX7730_USB_PRODUCT_ID), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NULL_ARGUMENT);
  EXPECT_EQ(FindScannerEx(nullptr, "", QRX7730_USB_PRODUCT_ID), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_DEVICE_PATH);
  const std::string too_long = path + std::string(QRX7730_MAX_DEVICE_PATH, 'x');
  EXPECT_EQ(FindScannerEx(nullptr, too_long.c_str(), QRX7730_USB_PRODUCT_ID), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_DEVICE_PATH);
  EXPECT_TRUE(device->calls.empty());
  std::string longest = "test:" + std::to_string(getpid()) + "-";
  longest.resize(QRX7730_MAX_DEVICE_PATH, 'y');
  EXPECT_EQ(FindScannerEx(nullptr, longest.c_str(), QRX7730_USB_PRODUCT_ID), QRX_TRUE)
      << "a path of exactly the limit is fine";
}

TEST_F(ExportsTest, TerminateAlwaysSucceedsAndClearsTheLastStatus) {
  lib().last_error = 0x9B10;
  EXPECT_EQ(TerminateScanner(nullptr), QRX_TRUE);
  EXPECT_EQ(last_error(), QRX_OK);
  ASSERT_EQ(FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID), QRX_TRUE);
  EXPECT_EQ(TerminateScanner(nullptr), QRX_TRUE);
  EXPECT_EQ(lib().device_open, 0u);
  EXPECT_FALSE(lib().context.link.is_open());
}

TEST_F(ExportsTest, ExportsWithoutLastStatusLeaveTheOlderCode) {
  lib().last_error = 0x9701;
  uint16_t ag[QRX_AG_VALUE_COUNT];
  EXPECT_EQ(GetAGData(nullptr, ag), QRX_TRUE);
  uint32_t version = 0;
  EXPECT_EQ(GetQuarnAPIVersion(nullptr, &version), QRX_TRUE);
  EXPECT_EQ(version, 2u);
  EXPECT_EQ(LockScanner(nullptr, 0), QRX_TRUE);
  EXPECT_EQ(ReadRawData(nullptr, nullptr, nullptr), QRX_TRUE);
  EXPECT_EQ(last_error(), 0x9701);
}

TEST_F(ExportsTest, AgDataReportsTheDefaultsWhateverWasStored) {
  uint8_t block[QRX_AG_BLOCK_SIZE];
  for (int i = 0; i < QRX_AG_BLOCK_SIZE; ++i) block[i] = static_cast<uint8_t>(i + 1);
  EXPECT_EQ(SetAGData(nullptr, block), QRX_TRUE);
  EXPECT_EQ(lib().ag_block[43], 44);
  uint16_t ag[QRX_AG_VALUE_COUNT];
  ASSERT_EQ(GetAGData(nullptr, ag), QRX_TRUE);
  for (int i = 0; i < QRX_AG_VALUE_COUNT; ++i) {
    EXPECT_EQ(ag[i], (i == 1 || i == 17) ? 0xFFFF : 0x1000) << "entry " << i;
  }
}

TEST_F(ExportsTest, OpuModeReportsNoFilmAdapter) {
  OPUMode mode;
  std::memset(&mode, 0xEE, sizeof mode);
  ASSERT_EQ(GetOPUMode(nullptr, &mode), QRX_TRUE);
  EXPECT_EQ(mode.Attached, 0);
  EXPECT_EQ(mode.Reserved[0], 0);
  EXPECT_EQ(mode.Reserved[1], 0);
  EXPECT_EQ(mode.Reserved[2], 0);
  EXPECT_EQ(mode.Mode, 2);
  EXPECT_EQ(last_error(), QRX_OK);
}

TEST_F(ExportsTest, TestNumbersOutsideTheListSucceedWithoutWork) {
  lib().last_error = 0x1111;
  EXPECT_EQ(TestScanner(nullptr, 1, 0, 0), QRX_TRUE);
  EXPECT_EQ(last_error(), QRX_OK);
  EXPECT_EQ(TestScanner(nullptr, 200, 0, 0), QRX_TRUE);
  EXPECT_EQ(TestScanner(nullptr, 55, 0, 0), QRX_TRUE);
}

TEST_F(ExportsTest, NullRecordsAreRefusedWithTheNullArgumentCode) {
  EXPECT_EQ(GetOPUMode(nullptr, nullptr), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NULL_ARGUMENT);
  lib().last_error = 0;
  EXPECT_EQ(GetScannerAbilitySize(nullptr, nullptr), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NULL_ARGUMENT);
  struct Case {
    const char* name;
    QRX_BOOL result;
  };
  const Case cases[] = {
      {"GetScannerAbilityXp", GetScannerAbilityXp(nullptr, nullptr)},
      {"SetScanParameter", SetScanParameter(nullptr, nullptr)},
      {"GetDataStatus", GetDataStatus(nullptr, nullptr)},
      {"GetCalibrationStatus", GetCalibrationStatus(nullptr, nullptr)},
      {"SetAGData", SetAGData(nullptr, nullptr)},
      {"GetAGData", GetAGData(nullptr, nullptr)},
      {"InitialButton", InitialButton(nullptr, nullptr)},
      {"ReadPushButton", ReadPushButton(nullptr, 0, nullptr)},
      {"SetGamma", SetGamma(nullptr, nullptr, 0, 0)},
      {"GetQuarnAPIVersion", GetQuarnAPIVersion(nullptr, nullptr)},
      {"ReadRegister", ReadRegister(0x41, nullptr)},
      {"ReadScan", ReadScan(nullptr, nullptr, nullptr, 16)},
      {"GetScannerStatus", GetScannerStatus(nullptr, nullptr)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.result, QRX_FALSE) << c.name;
  }
  EXPECT_EQ(last_error(), QRX_E_NULL_ARGUMENT);
  EXPECT_EQ(lib().status_block.busy(), 0u);
}

TEST_F(ExportsTest, RegisterExportsGoStraightToTheDeviceWithoutTheFrame) {
  ASSERT_EQ(FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID), QRX_TRUE);
  ASSERT_EQ(WriteRegister(0x6D, 0x3F), QRX_TRUE);
  uint8_t value = 0;
  ASSERT_EQ(ReadRegister(0x6D, &value), QRX_TRUE);
  EXPECT_EQ(value, 0x3F);
  // Held busy flag: the register exports do not wait for it.
  const StatusBlock::BusyTicket ticket = lib().status_block.try_take_busy();
  ASSERT_NE(ticket, 0u);
  EXPECT_EQ(ReadRegister(0x6D, &value), QRX_TRUE);
  lib().status_block.release_busy(ticket);

  // A success leaves the last status alone; a failure leaves its own code.
  lib().last_error = 0x4242;
  EXPECT_EQ(ReadRegister(0x6D, &value), QRX_TRUE);
  EXPECT_EQ(WriteRegister(0x6D, 0x3F), QRX_TRUE);
  EXPECT_EQ(last_error(), 0x4242);
  device->register_marker = 0x54;
  value = 0x77;
  EXPECT_EQ(ReadRegister(0x6D, &value), QRX_FALSE);
  EXPECT_EQ(value, 0x77);
  EXPECT_EQ(last_error(), QRX_E_REGISTER_READ);
  device->fail_request = 0x83;
  EXPECT_EQ(WriteRegister(0x6D, 1), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_REGISTER_WRITE);

  // After TerminateScanner there is no scanner to ask.
  ASSERT_EQ(TerminateScanner(nullptr), QRX_TRUE);
  EXPECT_EQ(ReadRegister(0x6D, &value), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NOT_OPEN);
  EXPECT_EQ(value, 0x77);
  lib().last_error = QRX_OK;
  EXPECT_EQ(WriteRegister(0x6D, 1), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NOT_OPEN);
}

TEST_F(ExportsTest, FindScannerWithAnotherPathKeepsTheOpenScannerAndItsStatusBlock) {
  ASSERT_EQ(FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID), QRX_TRUE);
  const std::string block = lib().status_block.block_name();
  const size_t calls = device->calls.size();
  const std::string pid = std::to_string(getpid());
  const std::string unopenable = "foo:" + path + "-" + pid;
  for (const std::string& other :
       {path + "-other", "sim:/nobody-" + pid + ".sock", "usb:#" + pid, unopenable}) {
    EXPECT_EQ(FindScannerEx(nullptr, other.c_str(), QRX7730_USB_PRODUCT_ID), QRX_FALSE) << other;
    EXPECT_EQ(last_error(), QRX_E_OTHER_SCANNER_OPEN) << other;
    EXPECT_EQ(lib().status_block.block_name(), block) << other;
  }
  EXPECT_EQ(device->calls.size(), calls) << "the open scanner was not touched";
  EXPECT_EQ(lib().device_open, 1u);
  uint8_t value = 0;
  EXPECT_EQ(ReadRegister(0x6D, &value), QRX_TRUE) << "and is still open";
  EXPECT_EQ(FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID), QRX_TRUE);

  // Once it is closed another path opens, or fails as that path deserves.
  ASSERT_EQ(TerminateScanner(nullptr), QRX_TRUE);
  EXPECT_EQ(FindScannerEx(nullptr, unopenable.c_str(), QRX7730_USB_PRODUCT_ID), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_DEVICE_OPEN);
  const std::string other = path + "-other";
  EXPECT_EQ(FindScannerEx(nullptr, other.c_str(), QRX7730_USB_PRODUCT_ID), QRX_TRUE);
  EXPECT_NE(lib().status_block.block_name(), block);
}

TEST_F(ExportsTest, FramedExportsWaitWhileAnotherCallerHoldsTheScanner) {
  ASSERT_EQ(FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID), QRX_TRUE);
  const StatusBlock::BusyTicket ticket = lib().status_block.try_take_busy();
  ASSERT_NE(ticket, 0u);
  std::atomic<bool> returned{false};
  std::thread caller([&] {
    OPUMode mode;
    GetOPUMode(nullptr, &mode);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_FALSE(returned) << "the export ran while the flag was held";
  lib().status_block.release_busy(ticket);
  caller.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(lib().status_block.busy(), 0u);
}

// FindScannerEx reads the data file after giving the frame back. A caller that
// takes the scanner meanwhile keeps it when that load then fails: FindScannerEx
// waits for it before it closes the device.
// The data file's load, outside the frame, is held at its first allocation; there
// another caller takes the flag and the load fails.
std::atomic<bool> g_take_at_load{false};
std::atomic<StatusBlock::BusyTicket> g_other_ticket{0};

TEST_F(ExportsTest, AFailedDataFileLoadLeavesAnotherCallersFlagAlone) {
  platform::VirtualClock clock;
  platform::ScopedClock use_clock{clock};
  const std::string data_file = temp.path() + "/QRX7730N.dat";
  std::ofstream(data_file, std::ios::binary) << std::string(100, '\0');
  setenv("QRX7730_INSTALL_DIR", (temp.path() + "/").c_str(), 1);
  g_take_at_load = true;
  platform::set_allocation_hook([] {
    // Before the load the device is closed; during the power-on the frame holds
    // the flag: the first allocation with the device open and the flag free is
    // the load's.
    if (!g_take_at_load || api::library().device_open != 1 || api::library().status_block.busy() != 0) return;
    g_take_at_load = false;
    g_other_ticket = api::library().status_block.try_take_busy();
    platform::fail_allocation_after(0);
  });
  std::atomic<bool> done{false};
  QRX_BOOL found = QRX_TRUE;
  std::thread finder([&] {
    found = FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID);
    done = true;
  });
  while (!done && g_other_ticket == 0) std::this_thread::yield();
  const uint64_t sleeps = clock.sleeps();
  // Either FindScannerEx waits for the flag (it sleeps between looks) or it ends.
  while (!done && clock.sleeps() == sleeps) std::this_thread::yield();
  const bool waited = !done;
  const uint32_t busy = lib().status_block.busy();
  lib().status_block.release_busy(g_other_ticket);
  finder.join();
  platform::set_allocation_hook(nullptr);
  ASSERT_NE(g_other_ticket, 0u) << "the frame is given back before the load";
  EXPECT_TRUE(waited) << "the device was closed under another caller";
  EXPECT_EQ(busy, 1u) << "another caller's flag was released";
  EXPECT_EQ(found, QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_DATA_FILE);
  EXPECT_EQ(lib().device_open, 0u);
  EXPECT_EQ(lib().status_block.busy(), 0u);
}

// One thread runs framed exports while another calls FindScannerEx: on the path
// that is open, and on two paths in turn, closing the scanner in between, so
// that the block is replaced each time.
TEST_F(ExportsTest, FindScannerBesideFramedExportsOnAnotherThread) {
  platform::VirtualClock clock;
  platform::ScopedClock use_clock{clock};
  ASSERT_EQ(FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID), QRX_TRUE);
  std::atomic<bool> stop{false};
  int found = 0;
  std::thread buttons([&] {
    ButtonEvent event{};
    while (!stop) ReadPushButton(nullptr, 0, &event);
  });
  for (int i = 0; i < 1500; ++i) {
    found += FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID) == QRX_TRUE ? 1 : 0;
  }
  stop = true;
  buttons.join();

  // An opening sets the last status outside its frame, so the framed export
  // beside it is one that leaves the last status alone: the flatbed light's
  // GetLampStatus, which writes the block's light state.
  ASSERT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_TRUE) << std::hex << last_error();
  stop = false;
  std::thread lamp([&] {
    while (!stop) GetLampStatus(nullptr, 0);
  });
  const std::string other = path + "-other";
  for (int i = 0; i < 30; ++i) {
    TerminateScanner(nullptr);
    const std::string& p = i % 2 == 0 ? other : path;
    found += FindScannerEx(nullptr, p.c_str(), QRX7730_USB_PRODUCT_ID) == QRX_TRUE ? 1 : 0;
  }
  stop = true;
  lamp.join();
  lib().lamp_select = 0;  // as loaded, for the next test of this process
  EXPECT_EQ(found, 1530);
  EXPECT_EQ(lib().status_block.busy(), 0u);
}

}  // namespace
}  // namespace qrx::test
