// The direct read's request rules: no scan, sizes that are not whole lines, an
// empty request, 4800 dpi lines widened one by one however many are asked for,
// its line buffer's allocation, and the playback light.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "imaging/direct_read.h"
#include "qrx7730.h"
#include "read_path_fixture.h"

namespace qrx::test {
namespace {

using imaging::direct_read;

TEST_F(ReadPathTest, RequestsThatAreNotWholeLinesOfARunningScanAreRefused) {
  std::vector<uint8_t> out(64);
  // Before any scan parameters, and with them but no scan started (or one stopped).
  EXPECT_EQ(direct_read(context, values, out.data(), 16).status, QRX_E_NO_SCAN);
  scan(600, 600, 8, 1, 0, 64, 48, 16, 4);
  context.image_ring.reset();
  EXPECT_EQ(direct_read(context, values, out.data(), 16).status, QRX_E_NO_SCAN);
  context.image_ring = ring;

  EXPECT_EQ(direct_read(context, values, out.data(), 40).status, QRX_E_READ_SIZE);
  EXPECT_EQ(direct_read(context, values, out.data(), 0).status, QRX_OK);
  EXPECT_EQ(values.line_count, 4u);
  EXPECT_EQ(direct_read(context, values, out.data(), 80).status, QRX_E_READ_PAST_END);
  EXPECT_EQ(context.lines_to_read.load(), 4u);
}

TEST_F(ReadPathTest, HalfResolutionLinesAreWidenedOneByOne) {
  // 4800 x 4800 read at 2400 across: 16 pixels of 24-bit colour per line, two lines
  // asked for in one call (four times the line bytes).
  values.half_x_res = 1;
  values.stored.BitsPerPixel = 24;
  scan(2400, 2400, 24, 3, 0, 16, 20544, 48, 3);
  push_lines(0, 2);
  ended_reader(1);
  EXPECT_EQ(direct_read(context, values, nullptr, 144).status, QRX_E_READ_SIZE)
      << "1.5 lines after halving";
  std::vector<uint8_t> out(192);
  ASSERT_EQ(direct_read(context, values, out.data(), 192).status, QRX_OK);
  for (uint32_t l = 0; l < 2; ++l) {
    for (uint32_t j = 0; j < 16; ++j) {
      for (uint32_t c = 0; c < 3; ++c) {
        const uint32_t a = raw_sample(c, l, 128 + j, 1);
        const uint32_t b = j < 15 ? raw_sample(c, l, 129 + j, 1) : a;
        ASSERT_EQ(out[l * 96 + 6 * j + c], a) << l << " " << j;
        ASSERT_EQ(out[l * 96 + 6 * j + 3 + c], (a + b) / 2) << l << " " << j;
      }
    }
  }
  EXPECT_EQ(values.line_count, 1u);

  // No room for the line buffer: nothing is read.
  std::vector<uint8_t>().swap(context.read_half_line);
  push_lines(2, 1);
  platform::fail_allocation_after(0);
  EXPECT_EQ(direct_read(context, values, out.data(), 96).status, QRX_E_NOMEM_BUFFER);
  EXPECT_EQ(ring->used(), context.read_line_bytes);
}

TEST_F(ReadPathTest, ThePlaybackLightReadsTheFileReversedAndCutToEightBits) {
  context.lamp_select = imaging::kPlaybackLight;
  context.image_ring.reset();
  values.line_bytes = 3;
  std::vector<uint8_t> out(3, 0xEE);
  EXPECT_EQ(direct_read(context, values, out.data(), 3).status, QRX_E_CALIBRATION_DATA)
      << "no file is open";

  context.playback_file.reset(std::tmpfile());
  ASSERT_TRUE(context.playback_file);
  const uint8_t samples[] = {0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x08, 0x07};
  ASSERT_EQ(std::fwrite(samples, 1, sizeof samples, context.playback_file.get()), sizeof samples);
  std::rewind(context.playback_file.get());
  ASSERT_EQ(direct_read(context, values, out.data(), 3).status, QRX_OK);
  EXPECT_EQ(out, (std::vector<uint8_t>{0x05, 0x03, 0x01}));
  // One sample left: the samples the file no longer has count as 0.
  ASSERT_EQ(direct_read(context, values, out.data(), 3).status, QRX_OK);
  EXPECT_EQ(out, (std::vector<uint8_t>{0x00, 0x00, 0x07}));
  EXPECT_EQ(direct_read(context, values, out.data(), 3).status, QRX_E_CALIBRATION_DATA);
}

}  // namespace
}  // namespace qrx::test
