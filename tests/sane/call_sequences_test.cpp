// The backend through its entry points under call sequences front ends make
// besides the plain scan: reads of nothing, the parameters between scans, an open
// right after a close, cancels from another thread while scans start and end,
// and two threads opening at once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
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

// Scans started while another thread cancels at spread intervals.
constexpr int kCancelledScans = 8;

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


TEST_F(CallSequences, BetweenScansTheParametersFollowTheOptions) {
  open();
  // One inch square: 9600 units, 300 pixels at 300 dpi, 75 at 75 dpi.
  area(0, 0, 25.4, 25.4);
  ASSERT_EQ(sane_qrx7730_start(handle), SANE_STATUS_GOOD);
  SANE_Parameters p = parameters();
  EXPECT_EQ(p.bytes_per_line, 900);
  EXPECT_EQ(p.lines, 300);
  size_t bytes = 0;
  ASSERT_EQ(read_to_end(bytes), SANE_STATUS_EOF);
  EXPECT_EQ(bytes, 900u * 300);
  // Read to the end without a cancel: the next options count at once.
  ASSERT_EQ(set("resolution", 75), SANE_STATUS_GOOD);
  p = parameters();
  EXPECT_EQ(p.format, SANE_FRAME_RGB);
  EXPECT_EQ(p.pixels_per_line, 75);
  EXPECT_EQ(p.bytes_per_line, 225);
  EXPECT_EQ(p.lines, 75);

  // A colour scan at 300 dpi cancelled, then grey at 150 dpi and a calibration.
  ASSERT_EQ(set("resolution", 300), SANE_STATUS_GOOD);
  ASSERT_EQ(sane_qrx7730_start(handle), SANE_STATUS_GOOD);
  EXPECT_EQ(parameters().bytes_per_line, 900);
  sane_qrx7730_cancel(handle);
  ASSERT_EQ(set_mode("Gray"), SANE_STATUS_GOOD);
  ASSERT_EQ(set("resolution", 150), SANE_STATUS_GOOD);
  const SANE_Int calibrate = option("calibrate");
  ASSERT_EQ(sane_qrx7730_control_option(handle, calibrate, SANE_ACTION_SET_VALUE, nullptr, nullptr),
            SANE_STATUS_GOOD);
  p = parameters();
  EXPECT_EQ(p.format, SANE_FRAME_GRAY);
  EXPECT_EQ(p.pixels_per_line, 150);
  EXPECT_EQ(p.bytes_per_line, 150);
  EXPECT_EQ(p.lines, 150);
  // What the parameters said before the start is what the scan delivers.
  ASSERT_EQ(set_mode("Lineart"), SANE_STATUS_GOOD);
  ASSERT_EQ(set("resolution", 75), SANE_STATUS_GOOD);
  p = parameters();
  EXPECT_EQ(p.depth, 1);
  EXPECT_EQ(p.bytes_per_line, 10);  // 75 pixels, a bit each, in whole bytes
  EXPECT_EQ(p.lines, 75);
  ASSERT_EQ(sane_qrx7730_start(handle), SANE_STATUS_GOOD);
  p = parameters();
  EXPECT_EQ(p.depth, 1);
  EXPECT_EQ(p.bytes_per_line, 10);
  bytes = 0;
  ASSERT_EQ(read_to_end(bytes), SANE_STATUS_EOF);
  EXPECT_EQ(bytes, 10u * 75);
}

TEST_F(CallSequences, AnOpenRightAfterACloseWaitsForTheCarriageAndSaysSo) {
  open();
  // Low on the glass, so that the carriage has a long way home after the scan.
  ASSERT_EQ(set("resolution", 75), SANE_STATUS_GOOD);
  area(0, 270, 10, 272);
  ASSERT_EQ(sane_qrx7730_start(handle), SANE_STATUS_GOOD);
  size_t bytes = 0;
  ASSERT_EQ(read_to_end(bytes), SANE_STATUS_EOF);
  sane_qrx7730_close(handle);
  handle = nullptr;
  const std::shared_ptr<emu::Scanner> scanner = emu::inprocess_scanner();
  ASSERT_NE(scanner, nullptr);
  const bool returning = scanner->motor_running();

  setenv("SANE_DEBUG_QRX7730", "2", 1);
  const std::string log = dir.path() + "/log";
  const int saved = dup(2);
  FILE* file = std::freopen(log.c_str(), "w", stderr);
  ASSERT_NE(file, nullptr);
  sane_qrx7730_init(nullptr, nullptr);  // takes the debug level
  const SANE_Status status = sane_qrx7730_open(device().c_str(), &handle);
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  unsetenv("SANE_DEBUG_QRX7730");
  ASSERT_EQ(status, SANE_STATUS_GOOD);
  std::ifstream in(log);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  // The carriage was on its way home when the open came: the debug output says
  // what the open waited for.
  if (returning) {
    EXPECT_NE(text.find("waiting for the carriage to come home before the scanner is opened"),
              std::string::npos)
        << text;
  }
  // The scanner opened is whole: it scans (opened again without the debug output).
  sane_qrx7730_close(handle);
  handle = nullptr;
  ASSERT_EQ(sane_qrx7730_init(nullptr, nullptr), SANE_STATUS_GOOD);
  open();
  area(0, 0, 10, 2);
  ASSERT_EQ(sane_qrx7730_start(handle), SANE_STATUS_GOOD);
  bytes = 0;
  EXPECT_EQ(read_to_end(bytes), SANE_STATUS_EOF);
  EXPECT_GT(bytes, 0u);
}

TEST_F(CallSequences, CancelsFromAnotherThreadAtAnyPointLeaveEveryScanWholeOrCancelled) {
  open();
  // 10 x 3 mm of grey at 75 dpi: 3780 x 1134 units, 29 x 8 pixels of 128 units.
  ASSERT_EQ(set_mode("Gray"), SANE_STATUS_GOOD);
  ASSERT_EQ(set("resolution", 75), SANE_STATUS_GOOD);
  area(0, 0, 10, 3);
  const size_t whole = 29 * 8;
  // The first scan calibrates for the resolution, undisturbed.
  size_t bytes = 0;
  ASSERT_EQ(sane_qrx7730_start(handle), SANE_STATUS_GOOD);
  ASSERT_EQ(read_to_end(bytes), SANE_STATUS_EOF);
  ASSERT_EQ(bytes, whole);
  // One cancel a scan, a time after its start that differs from scan to scan,
  // spread from 0 to 1 s (a scan takes about 0.9 s from one start to the next),
  // so that over the scans the cancels meet every step: the start, the lines,
  // the end of the data, the step from the end to the next start.
  std::atomic<int> started_scans{0};
  std::atomic<bool> done{false};
  std::thread canceller([&] {
    for (int seen = 0; !done.load();) {
      const int now = started_scans.load();
      if (now == seen) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      seen = now;
      std::this_thread::sleep_for(std::chrono::milliseconds((seen * 173) % 1000));
      sane_qrx7730_cancel(handle);
    }
  });
  int whole_scans = 0, cancelled = 0;
  for (int scan = 0; scan < kCancelledScans; ++scan) {
    started_scans.store(scan + 1);
    const SANE_Status started = sane_qrx7730_start(handle);
    if (started == SANE_STATUS_CANCELLED) {
      ++cancelled;
      continue;
    }
    ASSERT_EQ(started, SANE_STATUS_GOOD) << "scan " << scan;
    bytes = 0;
    const SANE_Status end = read_to_end(bytes, 64);
    if (end == SANE_STATUS_EOF) {
      EXPECT_EQ(bytes, whole) << "scan " << scan;
      ++whole_scans;
    } else {
      EXPECT_EQ(end, SANE_STATUS_CANCELLED) << "scan " << scan;
      EXPECT_LE(bytes, whole) << "scan " << scan;
      ++cancelled;
    }
  }
  done = true;
  canceller.join();
  std::printf("%d scans whole, %d cancelled\n", whole_scans, cancelled);
  // The scanner is free and the handle sound: a scan without cancels is whole.
  ASSERT_EQ(sane_qrx7730_start(handle), SANE_STATUS_GOOD);
  bytes = 0;
  EXPECT_EQ(read_to_end(bytes), SANE_STATUS_EOF);
  EXPECT_EQ(bytes, whole);
}

TEST_F(CallSequences, OfTwoThreadsOpeningAtOnceOneHasTheScannerAndTheOtherIsBusy) {
  const std::string names[2] = {"qrx7730:" + device("-first"), device("-second")};
  for (int round = 0; round < 5; ++round) {
    SANE_Handle opened[2] = {nullptr, nullptr};
    SANE_Status status[2] = {SANE_STATUS_INVAL, SANE_STATUS_INVAL};
    std::atomic<int> ready{0};
    const auto open_one = [&](int i) {
      ready.fetch_add(1);
      while (ready.load() < 2) {
      }
      status[i] = sane_qrx7730_open(names[i].c_str(), &opened[i]);
    };
    std::thread first(open_one, 0), second(open_one, 1);
    first.join();
    second.join();
    ASSERT_TRUE((status[0] == SANE_STATUS_GOOD) != (status[1] == SANE_STATUS_GOOD))
        << "round " << round << ": " << status[0] << " " << status[1];
    const int winner = status[0] == SANE_STATUS_GOOD ? 0 : 1;
    EXPECT_EQ(status[1 - winner], SANE_STATUS_DEVICE_BUSY) << "round " << round;
    handle = opened[winner];
    // The handle opened is whole: its options are there, and the library has
    // its scanner open (a sensor reads the front-panel buttons).
    ASSERT_GT(option("scan"), 0) << "round " << round;
    SANE_Word pressed = -1;
    EXPECT_EQ(sane_qrx7730_control_option(handle, option("scan"), SANE_ACTION_GET_VALUE,
                                          &pressed, nullptr),
              SANE_STATUS_GOOD)
        << "round " << round;
    EXPECT_EQ(pressed, SANE_FALSE);
    if (round == 4) {
      // And it scans.
      ASSERT_EQ(set("resolution", 75), SANE_STATUS_GOOD);
      area(0, 0, 10, 2);
      ASSERT_EQ(sane_qrx7730_start(handle), SANE_STATUS_GOOD);
      size_t bytes = 0;
      EXPECT_EQ(read_to_end(bytes), SANE_STATUS_EOF);
      EXPECT_EQ(bytes, 29u * 3 * 5);  // 10 x 2 mm at 75 dpi: 29 x 5 colour pixels
    }
    sane_qrx7730_close(handle);
    handle = nullptr;
  }
}

}  // namespace
}  // namespace qrx::test
