// ScanTest: an opened and initialised emulated scanner with the flatbed light,
// a private temporary directory for the shading files, a virtual clock that can
// hold the library's worker threads, and helpers to describe and start a scan
// through the exports and to take raw lines out of its ring.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "imaging/image_ring.h"
#include "imaging/reader_thread.h"
#include "scan/background_calibration.h"
#include "scan/scan_start.h"
#include "scan/scan_stop.h"
#include "support/gated_clock.h"
#include "support/sim_fixture.h"
#include "support/temp_dir.h"

namespace qrx::test {

class ScanTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_TRUE(open_scanner());
    ASSERT_EQ(InitializeScanner(nullptr), QRX_TRUE) << std::hex << last_error();
    ASSERT_EQ(SetLamp(nullptr, 1), QRX_TRUE) << std::hex << last_error();
    // The host's waits for data are paced while the image reader runs.
    gate.pace_while([this] {
      const auto& reader = lib().context.reader_thread;
      return reader && reader->exit_code() == platform::Thread::kStillActive;
    });
  }
  void TearDown() override {
    scan::stop_background_calibration(lib().context);
    if (scan::scan_running(lib().context)) scan::stop_now(lib().context, lib().setting);
    lib().lamp_select = 0;  // as loaded, for the next test of this process
    SimTest::TearDown();
  }

  // Guards a poll on the virtual clock against hanging for ever: the threads it
  // waits for run on real time (slowly under a sanitizer).
  static bool still_waiting(std::chrono::steady_clock::time_point since) {
    return std::chrono::steady_clock::now() - since < std::chrono::minutes(2);
  }

  // SetScanParameter for a window given in 2400 dpi units.
  QRX_BOOL set_scan(uint16_t resolution, uint8_t depth, uint32_t x, uint32_t y, uint32_t width,
                    uint32_t length, uint8_t use_ag = 0) {
    ScanParameter p{};
    p.xRes = p.yRes = resolution;
    p.BitsPerPixel = depth;
    p.ScanningArea = {4 * x, 4 * y, 4 * width, 4 * length};
    p.UseAGData = use_ag;
    return SetScanParameter(nullptr, &p);
  }

  // Polls GetCalibrationStatus until it no longer reports a background
  // calibration; its result. The polls are paced in real time: a host polling on
  // the virtual clock would run the calibration's own time limits out while the
  // calibration thread waits for a processor.
  QRX_BOOL poll_calibration_status(uint8_t* last_status = nullptr) {
    uint8_t local = 2;
    uint8_t& status = last_status != nullptr ? *last_status : local;
    status = 2;
    for (const auto since = std::chrono::steady_clock::now(); still_waiting(since);) {
      const QRX_BOOL result = GetCalibrationStatus(nullptr, &status);
      if (status != 2) return result;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ADD_FAILURE() << "the background calibration never ended";
    return QRX_FALSE;
  }

  // Waits (on the virtual clock) until the reader thread has counted every line.
  void wait_for_reader_end() {
    auto& context = lib().context;
    ASSERT_NE(context.reader_thread, nullptr);
    for (const auto since = std::chrono::steady_clock::now(); still_waiting(since);) {
      if (context.reader_thread->exit_code() != platform::Thread::kStillActive) break;
      platform::clock().sleep_ms(10);
    }
    ASSERT_EQ(context.reader_thread->exit_code(), imaging::kReaderEndedNormally);
  }

  // Takes n raw lines out of the ring, waiting for them; what the read path does.
  std::vector<uint8_t> take_lines(uint32_t n) {
    auto& context = lib().context;
    const uint32_t bytes = context.read_line_bytes;
    std::vector<uint8_t> lines(static_cast<size_t>(bytes) * n);
    for (uint32_t i = 0; i < n; ++i) {
      const auto since = std::chrono::steady_clock::now();
      while (!context.image_ring->read(lines.data() + static_cast<size_t>(i) * bytes, bytes)) {
        if (!still_waiting(since)) {
          ADD_FAILURE() << "line " << i << " never arrived";
          return lines;
        }
        platform::clock().sleep_ms(10);
      }
      context.lines_to_read.fetch_sub(1);
    }
    return lines;
  }

  // This fixture's own temporary directory (the TMPDIR its tests run with).
  std::string scanner_dir() const { return temp.scanner_dir(scanner_identity()); }
  std::string library_file(const char* name) { return scanner_dir() + name; }
  bool exists(const char* name) {
    FILE* f = std::fopen(library_file(name).c_str(), "rb");
    if (f != nullptr) std::fclose(f);
    return f != nullptr;
  }
  int read_counter() {
    FILE* f = std::fopen(library_file("QRX7730H.SHD").c_str(), "rb");
    if (f == nullptr) return -1;
    uint8_t b[2] = {0, 0};
    const size_t n = std::fread(b, 1, 2, f);
    std::fclose(f);
    return n == 2 ? b[0] | b[1] << 8 : -1;
  }
  void write_counter(uint16_t value) {
    FILE* f = std::fopen(library_file("QRX7730H.SHD").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const uint8_t b[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    ASSERT_EQ(std::fwrite(b, 1, 2, f), 2u);
    std::fclose(f);
  }

  ScopedTempDir temp;
  // Installed over the fixture's virtual clock before the scanner is first used.
  GatedClock gate;
  platform::ScopedClock use_gate{gate};
};

}  // namespace qrx::test
