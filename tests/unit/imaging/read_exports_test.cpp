// ReadScan, GetDataStatus and SetGamma through the exports against the emulated
// scanner: refusals before a scan and after a cancel, a read that cancels the scan
// it cannot finish, and a whole filtered scan line by line.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "imaging/image_ring.h"
#include "platform/thread.h"
#include "qrx7730.h"
#include "raw_lines.h"
#include "support/sim_fixture.h"

namespace qrx::test {
namespace {

class ReadExportsTest : public SimTest {
 protected:
  // A scan this fixture planted (there is no stop here to end it) is taken away
  // again before the fixture checks that the library was left idle.
  void TearDown() override {
    auto& context = lib().context;
    if (planted_reader_ != nullptr && context.reader_thread.get() == planted_reader_) {
      context.reader_thread.reset();
      context.image_ring.reset();
    }
    SimTest::TearDown();
  }
  // Grey 8-bit, 600 dpi across, 16 pixels wide; length in 1/9600 inch.
  void set_parameters(uint16_t y_res, uint32_t length) {
    ScanParameter p{};
    p.xRes = 600;
    p.yRes = y_res;
    p.ScanningArea = {0, 0, 256, length};
    p.BitsPerPixel = 8;
    lib().lamp_select = QRX_LAMP_FLATBED;
    ASSERT_EQ(SetScanParameter(nullptr, &p), QRX_TRUE) << std::hex << last_error();
  }
  // What the scan start leaves: the ring holding `lines` raw lines of 48 pixels
  // (window plus lead-in) and a reader that has ended with `code`.
  void started_scan(uint32_t lines, uint32_t stored, uint32_t code) {
    auto& context = lib().context;
    context.image_ring = std::make_shared<imaging::ImageRing>();
    ASSERT_TRUE(context.image_ring->create(imaging::kScanRingBytes));
    context.read_line_bytes = 48;
    context.lines_to_read.store(lines);
    for (uint32_t l = 0; l < stored; ++l) {
      const std::vector<uint8_t> line = raw_line(layout, l);
      ASSERT_TRUE(context.image_ring->write(line.data(), 48));
    }
    context.reader_thread = platform::Thread::start(
        code == 1 ? +[](void*) -> uint32_t { return 1; } : +[](void*) -> uint32_t { return 0; },
        nullptr);
    ASSERT_NE(context.reader_thread, nullptr);
    context.reader_thread->join();
    planted_reader_ = context.reader_thread.get();
  }
  const RawLayout layout{48, 1, 1, 1};
  const platform::Thread* planted_reader_ = nullptr;
};

TEST_F(ReadExportsTest, ReadsWithoutARunningScanAreRefusedAndAFailedOneIsCancelled) {
  ASSERT_TRUE(open_scanner());
  std::vector<uint8_t> out(16);
  EXPECT_EQ(ReadScan(nullptr, nullptr, out.data(), 16), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NO_SCAN);
  set_parameters(600, 128);
  EXPECT_EQ(ReadScan(nullptr, nullptr, out.data(), 16), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NO_SCAN);

  // The reader failed before delivering anything: the read fails and cancels the scan.
  started_scan(8, 0, 0);
  EXPECT_EQ(ReadScan(nullptr, nullptr, out.data(), 16), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_LINE_ASSEMBLY);
  EXPECT_EQ(lib().context.image_ring, nullptr);
  EXPECT_EQ(lib().context.reader_thread, nullptr);
  EXPECT_EQ(lib().status_block.busy(), 0u);
  EXPECT_EQ(ReadScan(nullptr, nullptr, out.data(), 16), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NO_SCAN);
}

TEST_F(ReadExportsTest, AFilteredScanDeliversEveryLineOnceAndNothingAfter) {
  ASSERT_TRUE(open_scanner());
  // 1200 dpi down over 32 units of length: 16 lines.
  set_parameters(1200, 128);
  DataStatus status{};
  ASSERT_EQ(GetDataStatus(nullptr, &status), QRX_TRUE);
  EXPECT_EQ(status.LineBytes, 16u);
  EXPECT_EQ(status.LinesLeft, 16u);
  started_scan(16, 16, 1);

  std::vector<uint8_t> out(32);
  EXPECT_EQ(ReadScan(nullptr, nullptr, out.data(), 32), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_FILTER_LINE_SIZE);
  for (uint32_t i = 0; i < 16; ++i) {
    ASSERT_EQ(ReadScan(nullptr, nullptr, out.data(), 16), QRX_TRUE) << i;
    for (uint32_t j = 0; j < 16; ++j) {
      const auto at = [&](uint32_t line) { return raw_sample(0, line, 32 + j, 1); };
      const uint32_t expected = i == 0    ? (2 * at(0) + at(1)) / 3
                                : i == 15 ? (at(14) + 2 * at(15)) / 3
                                          : (at(i - 1) + 2 * at(i) + at(i + 1)) / 4;
      ASSERT_EQ(out[j], expected) << i << " " << j;
    }
  }
  EXPECT_EQ(lib().scan_values.line_count, 0u);
  EXPECT_EQ(ReadScan(nullptr, nullptr, out.data(), 16), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_READ_PAST_END);
  EXPECT_EQ(lib().status_block.busy(), 0u);
}

TEST_F(ReadExportsTest, SetGammaDerivesTheExpansionUnderTheLightLastGivenToSetLamp) {
  ASSERT_TRUE(open_scanner());
  std::vector<uint16_t> identity(65536);
  for (uint32_t i = 0; i < identity.size(); ++i) identity[i] = static_cast<uint16_t>(i);
  lib().lamp_select = QRX_LAMP_FLATBED;
  lib().context.lamp_select = QRX_LAMP_NONE;
  EXPECT_EQ(SetGamma(nullptr, identity.data(), 1, 0), QRX_TRUE);
  EXPECT_EQ(lib().context.expand_table[0][2], 514);
  EXPECT_EQ(lib().context.expand_table[1][2], 512);
}

}  // namespace
}  // namespace qrx::test
