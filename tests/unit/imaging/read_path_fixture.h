// ReadPathTest: a device context with a real ImageRing and a reader thread that
// has ended (normally or with failure) or still runs, on a virtual clock, for
// driving the line assembly and the direct read with synthetic raw lines.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "imaging/image_ring.h"
#include "imaging/scan_values.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "platform/thread.h"
#include "raw_lines.h"
#include "support/library_idle.h"
#include "transport/scanner_context.h"

namespace qrx::test {

class ReadPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ring = std::make_shared<imaging::ImageRing>();
    ASSERT_TRUE(ring->create(imaging::kScanRingBytes));
    context.image_ring = ring;
    context.lamp_select = 1;
    for (uint32_t c = 0; c < 3; ++c) {  // the power-on defaults
      context.gamma_table[c].resize(65536);
      for (uint32_t i = 0; i < 65536; ++i) context.gamma_table[c][i] = static_cast<uint16_t>(i);
      context.expand_table[c].resize(256);
      for (uint32_t i = 0; i < 256; ++i) context.expand_table[c][i] = static_cast<uint16_t>(i << 8);
    }
  }
  void TearDown() override {
    platform::fail_allocation_after(-1);
    release.store(true);
    context.reader_thread.reset();
    expect_library_left_idle(std::string("sim:#") +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }

  // The scan fields the scan parameters and the register programme would leave,
  // for a scan read (and asked) at the same resolution down as across.
  void scan(uint16_t scan_x, uint16_t out_x, uint8_t depth, uint8_t channels, uint32_t x,
            uint32_t width, uint32_t raw_pixels, uint32_t line_bytes, uint32_t raw_lines) {
    context.scan_x_res = context.scan_y_res = scan_x;
    context.output_x_res = context.output_y_res = out_x;
    context.bit_depth = depth;
    context.color_channels = channels;
    context.window.x = x;
    context.window.width = width;
    layout.pixels = raw_pixels;
    layout.channels = channels;
    layout.sample_bytes = depth == 8 || depth == 24 ? 1 : 2;
    layout.segments = scan_x >= 1200 ? scan_x / 1200 * 2 : 1;
    context.read_line_bytes = layout.bytes();
    values.line_bytes = line_bytes;
    values.line_count = raw_lines;
    context.lines_to_read.store(raw_lines);
  }

  void push_lines(uint32_t first, uint32_t count) {
    for (uint32_t l = first; l < first + count; ++l) {
      const std::vector<uint8_t> line = raw_line(layout, l);
      ASSERT_TRUE(ring->write(line.data(), static_cast<uint32_t>(line.size())));
    }
  }

  // A reader thread that has already ended with this exit code.
  void ended_reader(uint32_t code) {
    context.reader_thread = platform::Thread::start(
        code == 1 ? +[](void*) -> uint32_t { return 1; } : +[](void*) -> uint32_t { return 0; },
        nullptr);
    ASSERT_NE(context.reader_thread, nullptr);
    context.reader_thread->join();
  }
  // A reader thread that runs until the test ends.
  void running_reader() {
    context.reader_thread = platform::Thread::start(
        +[](void* flag) -> uint32_t {
          while (!static_cast<std::atomic<bool>*>(flag)->load()) std::this_thread::yield();
          return 1;
        },
        &release);
    ASSERT_NE(context.reader_thread, nullptr);
  }

  platform::VirtualClock clock;
  platform::ScopedClock use_clock{clock};
  transport::ScannerContext context;
  imaging::ScanValues values;
  std::shared_ptr<imaging::ImageRing> ring;
  RawLayout layout;
  std::atomic<bool> release{false};
};

}  // namespace qrx::test
