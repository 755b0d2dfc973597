// ScannerFixture: a fresh emulated scanner on a virtual clock, driven through the
// Usb helper, for the emulator's tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "emulator/scanner.h"
#include "platform/clock.h"
#include "usb_helper.h"

namespace qrx::emu::test {

template <class Base = ::testing::Test>
class ScannerFixture : public Base {
 protected:
  void make(const Options& options = {}) {
    std::string error;
    scanner_ = Scanner::create(options, error, &clock_);
    ASSERT_TRUE(scanner_) << error;
    usb_ = std::make_unique<Usb>(*scanner_);
  }
  // Reads `total` bytes of the running pass the way the image reader does: as much
  // as the controller holds, polling every 10 ms while it holds nothing.
  std::vector<uint8_t> read_pass(uint32_t total, int max_polls = 200000) {
    std::vector<uint8_t> all;
    for (int polls = 0; all.size() < total && polls < max_polls; ++polls) {
      const uint32_t avail = std::min<uint32_t>(usb_->buffered(), total - uint32_t(all.size()));
      if (avail == 0) {
        clock_.sleep_ms(10);
        continue;
      }
      std::vector<uint8_t> part;
      EXPECT_TRUE(usb_->read_bulk(0x10000000, avail, part));
      all.insert(all.end(), part.begin(), part.end());
    }
    return all;
  }

  platform::VirtualClock clock_;
  std::unique_ptr<Scanner> scanner_;
  std::unique_ptr<Usb> usb_;
};

}  // namespace qrx::emu::test
