// The backend through its entry points under call sequences front ends make
// besides the plain scan: reads of nothing, the parameters between scans, an open
// right after a close, cancels from another thread while scans start and end,
// and two threads opening at once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "emulator/inprocess.h"
#include "emulator/scanner.h"
#include "entry_points.h"
#include "support/temp_dir.h"

namespace qrx::test {
namespace {

class CallSequences : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SANE_CONFIG_DIR", dir.path().c_str(), 1);
    // The library is linked in: its data file lies beside the shared library.
    setenv("QRX7730_INSTALL_DIR", QRX_TEST_DATA_DIR, 1);
    setenv("QRX7730_SIM", "speed=" QRX_SIM_SPEED, 1);
    std::ofstream(dir.path() + "/qrx7730.conf") << "";
    ASSERT_EQ(sane_qrx7730_init(nullptr, nullptr), SANE_STATUS_GOOD);
  }
  void TearDown() override {
    if (handle != nullptr) sane_qrx7730_close(handle);
    sane_qrx7730_exit();
    unsetenv("QRX7730_SIM");
  }
  // A device path whose status block and hold are this test's alone.
  std::string device(const std::string& tag = "") const {
    return "sim:#" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
           tag + "-" + std::to_string(getpid());
  }
  void open() { ASSERT_EQ(sane_qrx7730_open(device().c_str(), &handle), SANE_STATUS_GOOD); }
  SANE_Int option(const char* name) const {
    for (SANE_Int i = 1;; ++i) {
      const SANE_Option_Descriptor* d = sane_qrx7730_get_option_descriptor(handle, i);
      if (d == nullptr) return -1;
      if (d->name != nullptr && std::strcmp(d->name, name) == 0) return i;
    }
  }
  SANE_Status set(const char* name, SANE_Word value) {
    return sane_qrx7730_control_option(handle, option(name), SANE_ACTION_SET_VALUE, &value,
                                       nullptr);
  }
  SANE_Status set_mode(const char* mode) {
    char value[16];
    std::snprintf(value, sizeof value, "%s", mode);
    return sane_qrx7730_control_option(handle, option("mode"), SANE_ACTION_SET_VALUE, value,
                                       nullptr);
  }
  // The scan area, in millimetres from the origin.
  void area(double left, double top, double right, double bottom) {
    ASSERT_EQ(set("tl-x", SANE_FIX(left)), SANE_STATUS_GOOD);
    ASSERT_EQ(set("tl-y", SANE_FIX(top)), SANE_STATUS_GOOD);
    ASSERT_EQ(set("br-x", SANE_FIX(right)), SANE_STATUS_GOOD);
    ASSERT_EQ(set("br-y", SANE_FIX(bottom)), SANE_STATUS_GOOD);
  }
  SANE_Parameters parameters() {
    SANE_Parameters p{};
    EXPECT_EQ(sane_qrx7730_get_parameters(handle, &p), SANE_STATUS_GOOD);
    return p;
  }
  // Blocking reads to the end of the data; the bytes read and the final status.
  SANE_Status read_to_end(size_t& bytes, SANE_Int piece = 4096) {
    std::vector<SANE_Byte> buffer(static_cast<size_t>(piece));
    for (;;) {
      SANE_Int length = 0;
      const SANE_Status status = sane_qrx7730_read(handle, buffer.data(), piece, &length);
      if (status != SANE_STATUS_GOOD) return status;
      if (length == 0) return SANE_STATUS_IO_ERROR;  // a blocking read never returns nothing
      bytes += static_cast<size_t>(length);
    }
  }

  ScopedTempDir dir;
  SANE_Handle handle = nullptr;
};

TEST_F(CallSequences, AReadOfNothingReturnsAtOnceAndKeepsEveryByte) {
  open();
  // 25 x 13 mm of grey at 150 dpi: 9449 x 4913 units of 1/9600 inch, whole
  // pixels of 64 units: 147 x 76.
  ASSERT_EQ(set_mode("Gray"), SANE_STATUS_GOOD);
  ASSERT_EQ(set("resolution", 150), SANE_STATUS_GOOD);
  area(0, 0, 25, 13);
  ASSERT_EQ(sane_qrx7730_start(handle), SANE_STATUS_GOOD);
  const SANE_Parameters p = parameters();
  ASSERT_EQ(p.bytes_per_line, 147);
  ASSERT_EQ(p.lines, 76);
  const size_t expected = 147 * 76;
  SANE_Byte buffer[1000];
  SANE_Int length = -1;
  // Before any data, amid them, and when all are read but the end is not yet
  // reported: nothing is taken and nothing is lost.
  EXPECT_EQ(sane_qrx7730_read(handle, buffer, 0, &length), SANE_STATUS_GOOD);
  EXPECT_EQ(length, 0);
  size_t got = 0;
  while (got < expected / 2) {
    ASSERT_EQ(sane_qrx7730_read(handle, buffer, sizeof buffer, &length), SANE_STATUS_GOOD);
    got += static_cast<size_t>(length);
    length = -1;
    ASSERT_EQ(sane_qrx7730_read(handle, buffer, 0, &length), SANE_STATUS_GOOD);
    ASSERT_EQ(length, 0);
  }
  // In non-blocking mode too.
  ASSERT_EQ(sane_qrx7730_set_io_mode(handle, SANE_TRUE), SANE_STATUS_GOOD);
  EXPECT_EQ(sane_qrx7730_read(handle, buffer, 0, &length), SANE_STATUS_GOOD);
  EXPECT_EQ(length, 0);
  ASSERT_EQ(sane_qrx7730_set_io_mode(handle, SANE_FALSE), SANE_STATUS_GOOD);
  while (got < expected) {
    const SANE_Int want = static_cast<SANE_Int>(std::min(sizeof buffer, expected - got));
    ASSERT_EQ(sane_qrx7730_read(handle, buffer, want, &length), SANE_STATUS_GOOD);
    got += static_cast<size_t>(length);
  }
  EXPECT_EQ(sane_qrx7730_read(handle, buffer, 0, &length), SANE_STATUS_GOOD);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(sane_qrx7730_read(handle, buffer, sizeof buffer, &length), SANE_STATUS_EOF);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace qrx::test
