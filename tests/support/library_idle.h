// The check every fixture that drives the library makes when its test ends: the
// busy flag of the status block free, and no worker thread (background
// calibration, image reader) left behind. A leak fails the test that left it;
// what it left is then cleared, so that it costs that one failure rather than a
// hang of the next test's first framed call.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "api/library.h"

namespace qrx::test {

// release_path: a device path of this test alone; opening its block ends this
// process's hold of the old block's busy flag.
inline void expect_library_left_idle(const std::string& release_path) {
  api::Library& lib = api::library();
  if (lib.status_block.busy() != 0) {
    ADD_FAILURE() << "the test left the scanner's busy flag set";
    lib.status_block.open((release_path + "#released").c_str());
  }
  transport::ScannerContext& context = lib.context;
  if (context.reader_thread) {
    ADD_FAILURE() << "the test left an image reader thread behind";
    context.stop_reader.store(1);
    context.reader_thread.reset();
  }
  if (context.calibration_thread) {
    ADD_FAILURE() << "the test left a background calibration thread behind";
    context.calibration_stop.store(1);
    context.calibration_thread.reset();
    context.calibration_stop.store(0);
  }
}

}  // namespace qrx::test
