// StartScanEx and GetCalibrationStatus: when a background calibration runs, what
// the other exports do meanwhile, how its failure surfaces, a user's cancel while
// it runs, the scan counter, and the start of the scan proper with its failures and
// the tone curves it gives the scanner.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "integration/scan_test_fixture.h"
#include "pass/carriage.h"
#include "platform/memory.h"
#include "support/hooked_channel.h"

namespace qrx::test {
namespace {

// 300 dpi colour, one inch square at the top left of the document.
constexpr uint32_t kInch = 2400;

TEST_F(ScanTest, WithoutShadingTheScannerIsCalibratedInTheBackgroundFirst) {
  ASSERT_EQ(set_scan(300, 24, 0, 0, kInch, kInch), QRX_TRUE);
  gate.close();
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
  ASSERT_TRUE(gate.wait_until_held()) << "the calibration waits for the scanner at some point";

  // While it is held mid-way: reported as running, the scanner held for it, the
  // scan parameters it calibrates for refused, framed exports kept waiting, and a
  // tone curve kept for the scan (without touching what the calibration uses).
  uint8_t status = 0;
  EXPECT_EQ(GetCalibrationStatus(nullptr, &status), QRX_TRUE);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(lib().status_block.busy(), 1u);
  EXPECT_EQ(set_scan(600, 24, 0, 0, kInch, kInch), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_CALIBRATING);
  std::vector<uint16_t> curve(65536);
  for (size_t i = 0; i < curve.size(); ++i) curve[i] = static_cast<uint16_t>(i);
  EXPECT_EQ(SetGamma(nullptr, curve.data(), 0, 0), QRX_TRUE);
  EXPECT_EQ(last_error(), QRX_OK);
  std::atomic<bool> framed_done{false};
  QRX_BOOL framed_result = QRX_FALSE;
  std::thread framed([&] {
    gate.run_free();
    OPUMode opu{};
    framed_result = GetOPUMode(nullptr, &opu);
    framed_done = true;
  });
  const uint64_t waited_from = gate.now_us();
  // Two seconds of its polling, unless it got through.
  while (gate.now_us() - waited_from < 2'000'000 && !framed_done) std::this_thread::yield();
  EXPECT_FALSE(framed_done) << "a framed export ran beside the calibration";
  EXPECT_EQ(GetCalibrationStatus(nullptr, &status), QRX_TRUE);
  EXPECT_EQ(status, 2);

  // The calibration goes on; the waiting export is parked meanwhile, so that its
  // polls do not run the calibration's time limits out.
  gate.park(framed.get_id());
  gate.open();
  EXPECT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
  gate.unpark();
  framed.join();
  EXPECT_TRUE(framed_done);
  EXPECT_EQ(framed_result, QRX_TRUE);
  for (const char* name : {"QRX7730A.SHD", "QRX7730B.SHD", "QRX7730C.SHD", "QRX7730D.SHD",
                           "QRX7730E.SHD", "QRX7730F.SHD"}) {
    EXPECT_TRUE(exists(name)) << name;
  }
  EXPECT_EQ(read_counter(), 1) << "the scan after the calibration is counted";
  EXPECT_NE(lib().context.reader_thread, nullptr) << "the scan started";
  EXPECT_EQ(lib().status_block.busy(), 0u);
  EXPECT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
}

TEST_F(ScanTest, TheScanCounterDecidesWhenToCalibrateAgain) {
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_TRUE) << std::hex << last_error();
  ASSERT_EQ(set_scan(300, 24, 0, 0, kInch, kInch), QRX_TRUE);

  write_counter(999);
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  EXPECT_EQ(lib().context.calibration_thread, nullptr) << "999 scans: still usable";
  ASSERT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(read_counter(), 1000);
  ASSERT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();

  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  EXPECT_NE(lib().context.calibration_thread, nullptr) << "1000 scans: due";
  ASSERT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(read_counter(), 1) << "calibrated afresh, then this scan counted";
  ASSERT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();

  // With the host's own gains the count steps back instead.
  ASSERT_EQ(set_scan(300, 24, 0, 0, kInch, kInch, 1), QRX_TRUE);
  write_counter(1000);
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  EXPECT_EQ(lib().context.calibration_thread, nullptr);
  EXPECT_EQ(read_counter(), 999);
  ASSERT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(read_counter(), 1000);
  EXPECT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE);
}

TEST_F(ScanTest, ABackgroundCalibrationFailingAt1200DpiIsReportedAndNoScanStarts) {
  ASSERT_EQ(set_scan(300, 24, 0, 0, kInch, kInch), QRX_TRUE);
  // Each dark reference reads register 0x19 once: 300, 150 and 75 dpi, then 600;
  // the fifth read is the 1200 dpi one.
  scanner->fail_request({emu::RequestKind::ControlIn, 0x8E, 0x19}, 5);
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  scanner->clear_trace();
  uint8_t status = 0xEE;
  EXPECT_EQ(poll_calibration_status(&status), QRX_FALSE);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(last_error(), QRX_E_EXPOSURE_REGISTER);
  EXPECT_TRUE(exists("QRX7730D.SHD"));
  EXPECT_FALSE(exists("QRX7730E.SHD")) << "it failed at 1200 dpi";
  EXPECT_EQ(lib().context.calibration_thread, nullptr);
  EXPECT_FALSE(scan::scan_running(lib().context));
  EXPECT_EQ(lib().status_block.busy(), 0u) << "the thread gave the scanner back";
  EXPECT_EQ(lib().context.exposure_cache_enabled, 0u);
}

TEST_F(ScanTest, AStopDuringTheBackgroundCalibrationEndsItSoonAndStartsNoScan) {
  ASSERT_EQ(set_scan(300, 24, 0, 0, kInch, kInch), QRX_TRUE);
  // The user cancels while a block of lines is being read at 1200 dpi, once 300
  // and 600 dpi are done: the calibration is held at its next wait there.
  // (The hook stays with the scanner until the test has ended: it owns its counts.)
  auto armed = std::make_shared<std::atomic<bool>>(false);
  auto count_reads = std::make_shared<std::atomic<int>>(0);
  hook_emulator_channel(lib().context.link).on_read = [this, armed, count_reads](uint8_t reg,
                                                                                 uint8_t&) {
    if (*armed && reg == 0x42 && ++*count_reads == 3) gate.close();
    return true;
  };
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
  for (const auto since = std::chrono::steady_clock::now();
       !exists("QRX7730D.SHD") && still_waiting(since);) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ASSERT_TRUE(exists("QRX7730D.SHD"));
  *armed = true;
  ASSERT_TRUE(gate.wait_until_held());
  EXPECT_FALSE(exists("QRX7730E.SHD"));

  // A second thread of the host polls GetCalibrationStatus all the while: it sees
  // the calibration running, then no scan; it never gets a scan started.
  std::atomic<bool> polling{true};
  std::atomic<int> scans_started{0}, other_answers{0};
  std::thread poller([&] {
    gate.run_free();
    while (polling) {
      uint8_t status = 0xEE;
      const QRX_BOOL result = GetCalibrationStatus(nullptr, &status);
      if (result == QRX_TRUE && status == 0) {
        ++scans_started;
      } else if (!(result == QRX_TRUE && status == 2) && !(result == QRX_FALSE && status == 0)) {
        ++other_answers;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  auto& context = lib().context;
  const uint64_t asked = gate.now_us();
  std::atomic<QRX_BOOL> stopped{QRX_FALSE};
  std::thread stopper([&] {
    gate.run_free();
    stopped = StopScanEx(nullptr, nullptr);
  });
  // The calibration goes on once the stop has been asked of it (or, should the
  // stop never ask it, after ten seconds).
  const auto since = std::chrono::steady_clock::now();
  while (context.calibration_stop.load() == 0 &&
         std::chrono::steady_clock::now() - since < std::chrono::seconds(10)) {
    std::this_thread::yield();
  }
  EXPECT_NE(context.calibration_stop.load(), 0u) << "the stop was asked of the calibration";
  gate.open();
  stopper.join();
  const uint64_t took_us = gate.now_us() - asked;
  polling = false;
  poller.join();
  EXPECT_EQ(stopped.load(), QRX_TRUE);
  // Within the block of lines in progress (not the minute the resolutions left
  // would take); the carriage is then on its way home.
  EXPECT_LE(took_us, 2'000'000u);
  EXPECT_EQ(pass::wait_for_stop(context), QRX_OK);
  EXPECT_EQ(scanner->carriage_steps(), 0.0) << "sent home";
  EXPECT_EQ(scans_started, 0);
  EXPECT_EQ(other_answers, 0);
  EXPECT_EQ(context.calibration_thread, nullptr);
  EXPECT_EQ(context.reader_thread, nullptr);
  EXPECT_EQ(context.exposure_cache_enabled, 0u);
  EXPECT_EQ(lib().status_block.busy(), 0u);

  // The resolutions done keep their files, whole; the one cut short has none, and
  // nothing half-written is left beside them.
  const std::pair<const char*, long> files[] = {
      {"QRX7730A.SHD", 13 + 16 * 642},   {"QRX7730B.SHD", 13 + 16 * 1284},
      {"QRX7730C.SHD", 41101},           {"QRX7730D.SHD", 13 + 16 * 5136},
      {"QRX7730E.SHD", 13 + 16 * 10272}, {"QRX7730F.SHD", 328717}};
  size_t kept = 0;
  for (const auto& [name, size] : files) {
    FILE* f = std::fopen(library_file(name).c_str(), "rb");
    if (f == nullptr) break;
    std::fseek(f, 0, SEEK_END);
    EXPECT_EQ(std::ftell(f), size) << name;
    std::fclose(f);
    ++kept;
  }
  EXPECT_EQ(kept, 4u) << "300 and 600 dpi done, 1200 dpi cut short";
  for (size_t i = kept; i < 6; ++i) EXPECT_FALSE(exists(files[i].first)) << files[i].first;
  size_t entries = 0;
  if (DIR* dir = opendir(scanner_dir().c_str())) {
    while (dirent* entry = readdir(dir)) entries += entry->d_name[0] != '.';
    closedir(dir);
  }
  EXPECT_EQ(entries, kept + 2)
      << "the shading files, the counter and the scan origin, nothing else";

  // Asked afterwards: no calibration, no scan, and no failure of the cancelled
  // calibration, then or with the next scan, which starts on the files kept.
  uint8_t status = 0xEE;
  EXPECT_EQ(GetCalibrationStatus(nullptr, &status), QRX_FALSE);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(last_error(), QRX_E_NO_SCAN);
  EXPECT_EQ(context.reader_thread, nullptr);
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
  EXPECT_NE(context.reader_thread, nullptr) << "the next scan started";
  EXPECT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
}

TEST_F(ScanTest, AScanIsStartedOnceUntilItIsStopped) {
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_TRUE) << std::hex << last_error();
  ASSERT_EQ(set_scan(300, 24, 0, 0, kInch, kInch), QRX_TRUE);
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  ASSERT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
  scanner->clear_trace();
  uint8_t status = 0xEE;
  EXPECT_EQ(GetCalibrationStatus(nullptr, &status), QRX_FALSE);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(last_error(), QRX_E_SCAN_RUNNING);
  EXPECT_EQ(StartScanEx(nullptr, nullptr), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_SCAN_RUNNING);
  EXPECT_TRUE(scanner->trace({emu::RequestKind::ControlOut, 0x83, 0x0F}).empty())
      << "nothing was started under the running scan";
  EXPECT_EQ(lib().status_block.busy(), 0u);
  ASSERT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  EXPECT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
}

TEST_F(ScanTest, AStartWithoutStoredCalibrationFailsAndReleasesTheScanner) {
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_TRUE) << std::hex << last_error();
  ASSERT_EQ(set_scan(300, 24, 0, 0, kInch, kInch), QRX_TRUE);
  // The calibration is there when the start looks, and gone when the scan loads it.
  ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE);
  EXPECT_EQ(lib().context.calibration_thread, nullptr);
  ASSERT_EQ(std::remove(library_file("QRX7730C.SHD").c_str()), 0);
  EXPECT_EQ(poll_calibration_status(), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_CALIBRATION_DATA);
  EXPECT_EQ(lib().status_block.busy(), 0u);
  EXPECT_FALSE(scan::scan_running(lib().context));
}

TEST_F(ScanTest, EveryAllocationFailureOfTheStartIsReportedAndLeavesNothingRunning) {
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_TRUE) << std::hex << last_error();
  ASSERT_EQ(set_scan(300, 24, 0, 0, kInch, kInch), QRX_TRUE);
  // Some allocations may fail without failing the start (a table the scanner
  // keeps from before); every one that fails it must say so and leave nothing.
  std::set<uint16_t> codes;
  int started = 0;
  // The ring is the start's last allocation.
  for (long n = 0; n < 400 && codes.count(QRX_E_IMAGE_RING) == 0; ++n) {
    platform::fail_allocation_after(n);
    uint8_t status = 0;
    const QRX_BOOL result = GetCalibrationStatus(nullptr, &status);
    platform::fail_allocation_after(-1);
    EXPECT_EQ(lib().status_block.busy(), 0u);
    if (result == QRX_TRUE) {
      ++started;
      EXPECT_EQ(scan::stop_now(lib().context, lib().setting), QRX_OK);
      continue;
    }
    codes.insert(last_error());
    EXPECT_FALSE(scan::scan_running(lib().context)) << std::hex << last_error();
  }
  EXPECT_GT(started, 0);
  EXPECT_TRUE(codes.count(QRX_E_IMAGE_RING)) << "the ring's own code is reachable";
  EXPECT_TRUE(codes.count(QRX_E_NOMEM_COMPOSE)) << "so is the data-file composition's";
  EXPECT_EQ(codes.count(QRX_OK), 0u);
}

// The curves of a data file other than the build's, by colour channel: red
// inverted, green at half strength, blue squeezed into the upper half.
uint16_t data_file_curve(uint32_t channel, uint32_t i) {
  switch (channel) {
    case 0:
      return static_cast<uint16_t>(65535 - i);
    case 1:
      return static_cast<uint16_t>(i / 2);
    default:
      return static_cast<uint16_t>(32768 + i / 2);
  }
}

TEST_F(ScanTest, TheScannerAppliesTheHostsCurvesThroughTheDataFilesFromTheFirstScanOn) {
  // Without sensor noise a window reads the same every time, so the curve the
  // scanner applies shows sample by sample.
  emu::Options quiet;
  quiet.sensor_noise = false;
  reset_scanner(quiet);
  TerminateScanner(nullptr);
  ASSERT_TRUE(open_scanner());
  ASSERT_EQ(SetLamp(nullptr, 1), QRX_TRUE) << std::hex << last_error();
  ASSERT_EQ(DoCalibration(nullptr, 0, 0, 300), QRX_TRUE) << std::hex << last_error();

  // 300 dpi over paper and the black patch, raw lines (planar, 8 bits a sample).
  const uint32_t lines = 1600 * 300 / 2400;
  const auto start = [&](uint8_t depth) {
    ASSERT_EQ(set_scan(300, depth, 11000, 6000, 2400, 1600), QRX_TRUE) << std::hex << last_error();
    ASSERT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
    ASSERT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();
  };
  const auto finish = [&] {
    std::vector<uint8_t> data = take_lines(lines);
    EXPECT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
    return data;
  };
  // With the build's data file and the host's curves as at power-on (identity),
  // the samples as the sensor gives them.
  std::array<std::vector<uint8_t>, 2> plain;  // colour, grey
  start(24);
  ASSERT_FALSE(HasFatalFailure());
  plain[0] = finish();
  start(8);
  ASSERT_FALSE(HasFatalFailure());
  plain[1] = finish();

  // Another data file, found through the install directory when the scanner is
  // opened, and a host curve of exponent 1.8.
  const std::string install = temp.path() + "/install/";
  ASSERT_EQ(mkdir(install.c_str(), 0700), 0);
  {
    std::ofstream file(install + "QRX7730N.dat", std::ios::binary);
    for (uint32_t c = 0; c < 3; ++c) {
      for (uint32_t i = 0; i < 65536; ++i) {
        const uint16_t v = data_file_curve(c, i);
        const char le[2] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
        file.write(le, 2);
      }
    }
    ASSERT_TRUE(file.good());
  }
  setenv("QRX7730_INSTALL_DIR", install.c_str(), 1);
  // Opened again once the carriage is home (opening refuses a moving carriage).
  ASSERT_EQ(pass::wait_for_stop(lib().context), QRX_OK);
  TerminateScanner(nullptr);
  const bool reopened = open_scanner();
  setenv("QRX7730_INSTALL_DIR", QRX_TEST_DATA_DIR, 1);
  ASSERT_TRUE(reopened) << std::hex << last_error();
  ASSERT_EQ(SetLamp(nullptr, 1), QRX_TRUE) << std::hex << last_error();
  std::vector<uint16_t> host(65536);
  for (uint32_t i = 0; i < 65536; ++i) {
    host[i] = static_cast<uint16_t>(65535.0 * std::pow(i / 65535.0, 1.0 / 1.8));
  }
  ASSERT_EQ(SetGamma(nullptr, host.data(), 0, 0), QRX_TRUE) << std::hex << last_error();
  // What the scanner must apply: the host's curve at the data file's curve.
  std::array<std::vector<uint16_t>, 3> composed;
  for (uint32_t c = 0; c < 3; ++c) {
    composed[c].resize(65536);
    for (uint32_t i = 0; i < 65536; ++i) composed[c][i] = host[data_file_curve(c, i)];
  }

  for (const uint8_t depth : {24, 8}) {
    SCOPED_TRACE(testing::Message() << int{depth} << "-bit");
    start(depth);
    ASSERT_FALSE(HasFatalFailure());
    // The scanner's gamma memory as the pass runs: three curves of 256 entries
    // from 0x01000000, entry k the curve at k * 256.
    for (uint32_t c = 0; c < 3; ++c) {
      std::vector<uint8_t> memory(512);
      ASSERT_TRUE(scanner->peek_memory(0x01000000 + 0x200 * c, memory.data(), 512));
      int wrong = 0;
      for (uint32_t k = 0; k < 256; ++k) {
        const uint16_t entry = static_cast<uint16_t>(memory[2 * k] | memory[2 * k + 1] << 8);
        if (entry != composed[c][k * 256] && wrong++ < 3) {
          ADD_FAILURE() << "channel " << c << " entry " << k << ": " << entry << ", not "
                        << composed[c][k * 256];
        }
      }
      EXPECT_EQ(wrong, 0) << "channel " << c;
    }
    // Each sample is what the same sample read through identity curves becomes
    // under the scanner's curve: colour blocks R, G, B; grey read with green's.
    const uint32_t channels = depth == 24 ? 3 : 1, pixels = (2400 + 128) * 300 / 2400;
    const uint32_t line_bytes = channels * pixels;
    ASSERT_EQ(lib().context.read_line_bytes, line_bytes) << "the window and the lead-in";
    const std::vector<uint8_t> data = finish();
    const std::vector<uint8_t>& before = plain[depth == 24 ? 0 : 1];
    ASSERT_EQ(data.size(), before.size());
    int wrong = 0;
    for (size_t n = 0; n < data.size(); ++n) {
      const uint32_t curve = channels == 1 ? 1 : static_cast<uint32_t>(n % line_bytes) / pixels;
      const int expected = composed[curve][before[n] * 256] >> 8;
      if (data[n] != expected && wrong++ < 3) {
        ADD_FAILURE() << "line " << n / line_bytes << " byte " << n % line_bytes << ": "
                      << int{data[n]} << ", expected " << expected << " from " << int{before[n]};
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

}  // namespace
}  // namespace qrx::test
