// Every register of the programme for a few concrete passes, against values
// worked out by hand from the tuning tables (defaults) and the programme's rules;
// the registers the emulated chip only stores are checked here or nowhere. The
// order the programme writes its register groups in, in the request trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "pass/carriage.h"
#include "pass/motor_program.h"
#include "pass/scan_program.h"
#include "support/sim_fixture.h"

namespace qrx::test {
namespace {

struct Expected {
  uint8_t reg;
  int bytes;  // 1, 2 or 3, most significant first
  uint32_t value;
  uint32_t mask = 0xFFFFFF;
};

class ProgrammeRegistersTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_TRUE(open_scanner());
    auto& context = lib().context;
    context.vertical_above_horizontal = 0;
    context.output_x_res = 0;
    context.bit_depth = 0;
    context.scan_y_res = 0;
    scanner->clear_trace();
  }
  uint32_t reg(uint8_t first, int bytes = 1) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) {
      v = v << 8 | scanner->peek_register(static_cast<uint8_t>(first + i));
    }
    return v;
  }
  void expect(const std::vector<Expected>& registers) {
    for (const Expected& e : registers) {
      EXPECT_EQ(reg(e.reg, e.bytes) & e.mask, e.value & e.mask)
          << "register 0x" << std::hex << int(e.reg);
    }
  }
  // Register writes of the trace since it was cleared: (register, value).
  std::vector<std::pair<uint8_t, uint8_t>> writes() {
    std::vector<std::pair<uint8_t, uint8_t>> list;
    for (const auto& e : scanner->trace({emu::RequestKind::ControlOut, 0x83, -1})) {
      if (e.ok) list.emplace_back(e.data[0], e.data[1]);
    }
    return list;
  }
  std::vector<uint8_t> writes_to(std::initializer_list<uint8_t> registers) {
    std::vector<uint8_t> list;
    for (const auto& [r, v] : writes()) {
      if (std::find(registers.begin(), registers.end(), r) != registers.end()) list.push_back(r);
    }
    return list;
  }
  // The edge search's moving read at 600 dpi: grey, 8 bits, 256 lines.
  pass::ScanSetup edge_scan() {
    pass::ScanSetup s;
    s.x_resolution = s.y_resolution = 600;
    s.bit_depth = 8;
    s.light_source = 1;
    s.feed_steps = 4;
    s.window_x = 8684;
    s.window_width = 1796;
    s.lines = 256;
    s.channels = 1;
    s.port_type = 1;
    s.exposure.channel = {255, 255, 255, 255};
    s.exposure.exposure = {3141, 3141, 3141, 1};
    s.gamma_on = 1;
    s.fast_feed = 1;
    s.lamp_on = 1;
    return s;
  }
  uint16_t program(pass::ScanSetup& read) {
    const pass::ScanSetup image = read;
    return pass::program_scan(lib().context, lib().setting, image, read);
  }
};

// Step-out move: row 2 (1200 dpi, line period 10848, step mode 2, 8 + 8 ramp
// steps, phase 2), port group 1 (a move plans for port type 2), 24 bits, 1000 steps.
// Line period 10848 fits 16 bits: divider 1. Slope: 10848 x 3600 / 1200 x 8 / 30 =
// 8678 us a step, 115 steps a second: no ramp, 32 entries of 10848 x 3600 / 1200 /
// 4 = 8136. The start speed 187504 needs divider 4: entries 2034, entry 0 46876.
// Z: A = (46876 + 31 x 2034) x 4 = 439720, L = 2034 x 4 = 8136, P = 10848 x 3 =
// 32544; Z2 = (439720 + 3999 x 8136) mod 32544 = 8512; forward feed 127 (group 1,
// 24 bits, 1200 dpi): Z1 = (439720 + 8136 x (127 x 8 / 8 x 8 - 1)) mod 32544 = 8512.
TEST_F(ProgrammeRegistersTest, TheStepOutMove) {
  ASSERT_EQ(pass::move(lib().context, lib().setting,
                       {.distance = 1000, .row = pass::kRowStepOut, .b1 = 1}),
            QRX_OK);
  expect({
      {0x02, 1, 0x92},        // hold (b5 = 0), motor, b1; forward, no fast feed
      {0x1C, 1, 2, 0x07},     // divider 4
      {0x1D, 1, 0x04},        // sampling 4, bit 5 clear
      {0x1E, 1, 0x00, 0x0F},  // vertical multiplier 1
      {0x16, 1, 0x10, 0x32},
      {0x17, 1, 8, 0x3F},  // timing code of 1200 dpi
      {0x1F, 1, 4},
      {0x21, 1, 4},
      {0x24, 1, 4},
      {0x69, 1, 4},
      {0x6A, 1, 4},
      {0x5F, 1, 4},  // 8 steps x 4 / 8
      {0x22, 1, 63},
      {0x23, 1, 63},  // (127 x 4 mod 256) x 2 / 8
      {0x25, 3, 12},  // 2 lines x 3 + 6
      {0x2C, 2, 1200},
      {0x30, 2, 320},
      {0x32, 2, 448},  // 128 pixels at 1200 dpi from 320
      {0x34, 1, 16},
      {0x35, 3, 96},               // (384 / 2) x 2400 / 1200 / 4
      {0x38, 2, 2712},             // 10848 / 4
      {0x3D, 3, 4000},             // 1000 steps << 2
      {0x60, 3, 0x400000 | 8512},  // step mode 2 in the top bits, Z1
      {0x63, 3, 0x400000 | 8512},  // Z2
      {0x6C, 1, 2 << 2, 7 << 2},   // phase 2 on lines 13, 12, 11
      {0x74, 3, 60},
      {0x7D, 1, 0x00, 0x80},
      {0x10, 2, 0},
      {0x12, 2, 0},
      {0x14, 2, 0},
      {0x01, 1, 0x00, 0x20},
      {0x03, 1, 0x00, 0x10},
      {0x04, 1, 0x00, 0x4C},  // 24 bits: colour, byte samples
      {0x05, 1, 0x40, 0xC8},  // sensor at 1200 dpi, gamma off
      {0x0C, 1, 2, 0x0F},
  });
  EXPECT_EQ(lib().context.read_line_bytes, 384u);
}

// The edge search's moving read (port type 1): 600 dpi, 8-bit grey, x 8684, width
// 1796 (449 pixels, widened to 450). Group 0, 8 bits, 600 dpi: line period 21376,
// step mode 1, ramp 8 + 8 steps, phase 2, forward feed 55. Divider 1 until the
// start speed raises it to 4: 16 entries of 21376 x 600 / 1200 / 2 = 5344, then
// 1336 with entry 0 at 46876. A = (46876 + 15 x 1336) x 4 = 267664, L = 5344, P =
// 21376 (one channel); Z2 = (267664 + 7 x 5344) mod 21376 = 5808; Z1 = (267664 +
// 5344 x (55 x 4 / 8 x 8 - 1)) mod 21376 = 5808.
TEST_F(ProgrammeRegistersTest, TheEdgeSearchScan) {
  pass::ScanSetup read = edge_scan();
  ASSERT_EQ(program(read), QRX_OK);
  EXPECT_EQ(read.window_width, 1800u);
  expect({
      {0x02, 1, 0xD0},  // hold, fast feed, motor
      {0x1C, 1, 2, 0x07},
      {0x1E, 1, 0x00, 0x0F},
      {0x17, 1, 10, 0x3F},
      {0x21, 1, 2},
      {0x24, 1, 2},
      {0x69, 1, 2},
      {0x6A, 1, 2},
      {0x5F, 1, 2},
      {0x22, 1, 1},
      {0x23, 1, 1},    // fast feed
      {0x25, 3, 262},  // 256 lines, one channel, + 6
      {0x2C, 2, 600},
      {0x30, 2, 2491},
      {0x32, 2, 2941},  // 8684 / 4 x 4 x 600 / 2400 + 320; + 450
      {0x34, 1, 18},
      {0x35, 3, 450},  // 450 x 2400 / 600 / 4
      {0x38, 2, 5344},
      {0x10, 2, 785},
      {0x12, 2, 785},
      {0x14, 2, 785},  // 3141 / 4
      {0x3D, 3, 8},
      {0x60, 3, 0x200000 | 5808},
      {0x63, 3, 0x200000 | 5808},
      {0x6C, 1, 2 << 2, 7 << 2},
      {0x01, 1, 0x00, 0x20},
      {0x03, 1, 0x10, 0x10},
      {0x04, 1, 0x08, 0x4C},  // 8-bit grey
      {0x05, 1, 0x08, 0xC8},  // sensor at 600 dpi, gamma on
      {0x0C, 1, 0, 0x0F},
  });
  EXPECT_EQ(lib().context.image_line_bytes, 449u);
  EXPECT_EQ(lib().context.read_line_bytes, 450u);
}

// A white reference read at 1200 dpi (a shading pass): 48 bits, motor planned at
// 600 dpi (group 0, 48 bits: step mode 2, ramp 64 + 8, phase 2, forward feed 4)
// with the 1200 dpi line period 21376 and the first slot cut to 8 steps. Slot 0:
// 32 entries of 21376 x 1800 / 1200 / 4 = 8016, divided by 4: 2004, entry 0 46876.
// A = (46876 + 31 x 2004) x 4 = 436000, L = 8016, P = 21376 x 3 = 64128; Z2 =
// (436000 + 15 x 8016) mod 64128 = 43216; Z1 = (436000 + 8016 x 31) mod 64128 =
// 43216.
TEST_F(ProgrammeRegistersTest, AWhiteReferenceReadAt1200Dpi) {
  pass::ScanSetup read;
  read.x_resolution = read.y_resolution = 1200;
  read.bit_depth = 48;
  read.light_source = 1;
  read.feed_steps = 4;
  read.window_width = 20544;
  read.lines = 48;
  read.channels = 3;
  read.port_type = 1;
  read.exposure.channel = {255, 255, 255, 255};
  read.exposure.exposure = {6000, 5000, 7000, 0};
  read.fast_feed = 1;
  read.lamp_on = 1;
  read.shading_pass = 1;
  ASSERT_EQ(program(read), QRX_OK);
  expect({
      {0x02, 1, 0xD0},
      {0x1C, 1, 2, 0x07},
      {0x1E, 1, 0x00, 0x0F},
      {0x17, 1, 8, 0x3F},
      {0x21, 1, 4},
      {0x24, 1, 32},
      {0x69, 1, 4},
      {0x6A, 1, 32},
      {0x5F, 1, 4},
      {0x25, 3, 150},
      {0x30, 2, 320},
      {0x32, 2, 10592},
      {0x35, 3, 15408},  // (61632 / 2) x 2400 / 1200 / 4
      {0x38, 2, 5344},
      {0x10, 2, 1500},
      {0x12, 2, 1250},
      {0x14, 2, 1750},
      {0x3D, 3, 16},
      {0x60, 3, 0x400000 | 43216},
      {0x63, 3, 0x400000 | 43216},
      {0x6C, 1, 2 << 2, 7 << 2},
      {0x04, 1, 0x40, 0x4C},  // 16-bit colour samples
      {0x05, 1, 0x40, 0xC8},
      {0x0C, 1, 2, 0x0F},
  });
  EXPECT_EQ(lib().context.read_line_bytes, 61632u);
}

// An exposure read at 1200 dpi (48 bits, the carriage standing): not a shading
// pass, so planned at 1200 dpi, where group 0 has the vertical multiplier 4 and
// step mode 2, ramp 8 + 8. Line period 21376, times 4 in the slope: 32 entries of
// 21376 x 4 x 3600 / 1200 / 4 = 64128, divided by 4 for the start speed: 16032,
// entry 0 46876. A = (46876 + 31 x 16032) x 4 = 2175472, L = 64128 = P (21376 x
// 3): Z1 = Z2 = 2175472 mod 64128 = 59248.
TEST_F(ProgrammeRegistersTest, AnExposureReadAt1200DpiTakesTheVerticalMultiplier) {
  pass::ScanSetup read = edge_scan();
  read.x_resolution = read.y_resolution = 1200;
  read.bit_depth = 48;
  read.channels = 3;
  read.window_x = 0;
  read.window_width = 20416;
  read.lines = 2;
  read.no_motor = 1;
  read.gamma_on = 0;
  read.exposure.exposure = {4000, 4000, 4000, 0};
  ASSERT_EQ(program(read), QRX_OK);
  expect({
      {0x02, 1, 0xC0},  // hold, fast feed; the carriage stands
      {0x1C, 1, 2, 0x07},
      {0x1E, 1, 3, 0x0F},  // multiplier 4
      {0x21, 1, 4},
      {0x38, 2, 5344},
      {0x10, 2, 1000},
      {0x25, 3, 12},
      {0x60, 3, 0x400000 | 59248},
      {0x63, 3, 0x400000 | 59248},
      {0x6C, 1, 4 << 2, 7 << 2},  // phase 4 at 1200 dpi, 48 bits
  });
  std::vector<uint8_t> slot0(8);
  ASSERT_TRUE(scanner->peek_memory(0x10000000, slot0.data(), 8));
  EXPECT_EQ(slot0[0] | slot0[1] << 8, 46876);
  EXPECT_EQ(slot0[6] | slot0[7] << 8, 16032);
}

// The emulated chip checks the phase it is given against the time its own motion
// took: every moving pass the library programmes is in phase.
TEST_F(ProgrammeRegistersTest, ThePhaseMatchesTheMotionOfEveryMovingPass) {
  auto& context = lib().context;
  const auto run_and_check = [&](const char* pass) {
    clock.sleep_ms(20000);
    const std::optional<int64_t> error = scanner->motor_phase_error();
    ASSERT_TRUE(error.has_value()) << pass;
    EXPECT_EQ(*error, 0) << pass;
    ASSERT_EQ(pass::wait_for_stop(context), QRX_OK) << pass;
  };
  ASSERT_EQ(
      pass::move(context, lib().setting, {.distance = 1000, .row = pass::kRowStepOut, .b1 = 1}),
      QRX_OK);
  run_and_check("step out");
  for (uint8_t row : {pass::kRowHome, pass::kRowHomeFast, pass::kRowApproachOversampled}) {
    scanner->set_carriage_steps(0);
    ASSERT_EQ(pass::move(context, lib().setting, {.distance = 3000, .row = row}), QRX_OK);
    run_and_check("move");
  }
  pass::ScanSetup read = edge_scan();
  ASSERT_EQ(program(read), QRX_OK);
  ASSERT_EQ(pass::start_motor(context), QRX_OK);
  run_and_check("edge search");
  read = edge_scan();
  read.bit_depth = 48;
  read.channels = 3;
  read.x_resolution = read.y_resolution = 2400;
  read.window_x = 0;
  read.window_width = 20544;
  read.lines = 4;
  read.shading_pass = 1;
  ASSERT_EQ(program(read), QRX_OK);
  ASSERT_EQ(pass::start_motor(context), QRX_OK);
  run_and_check("white reference at 2400 dpi");
  read = edge_scan();
  read.bit_depth = 24;
  read.channels = 3;
  read.x_resolution = read.y_resolution = 300;
  read.feed_steps = 300;
  read.fast_feed = 0;
  read.lines = 4;
  ASSERT_EQ(program(read), QRX_OK);
  ASSERT_EQ(pass::start_motor(context), QRX_OK);
  run_and_check("colour at 300 dpi");
}

TEST_F(ProgrammeRegistersTest, PortTypeTwoPutsEightBitGreyAt1200DpiEightTicksEarly) {
  emu::Options options;
  options.port_type = 2;
  reset_scanner(options);
  TerminateScanner(nullptr);
  ASSERT_TRUE(open_scanner());
  auto& context = lib().context;
  context.bit_depth = 8;
  context.scan_y_res = 1200;
  pass::ScanSetup read = edge_scan();
  read.port_type = 2;
  read.x_resolution = read.y_resolution = 1200;
  read.window_x = 0;
  read.window_width = 2400;
  read.fast_feed = 0;
  read.feed_steps = 100;
  ASSERT_EQ(program(read), QRX_OK);
  ASSERT_EQ(pass::start_motor(context), QRX_OK);
  clock.sleep_ms(20000);
  ASSERT_TRUE(scanner->motor_phase_error().has_value());
  EXPECT_EQ(*scanner->motor_phase_error(), 8);
}

TEST_F(ProgrammeRegistersTest, TheBufferThresholdInBothDepthsAndBothOrientations) {
  struct Case {
    uint16_t resolution;
    uint8_t depth, channels;
    uint32_t width;
    uint32_t vertical_above_horizontal;
    uint32_t threshold;
    uint32_t sensor_pixels;
  };
  const Case cases[] = {
      // 302 pixels of colour: 906 bytes, 453 half, 452 even; x 2400 / 300 / 4.
      {300, 24, 3, 2416, 0, 904, 604},
      {300, 24, 3, 2416, 1, 113, 604},
      // 601 pixels of grey widened to 602 bytes: x 2400 / 600 / 4, or / 4 alone.
      {600, 8, 1, 2404, 0, 602, 602},
      {600, 8, 1, 2404, 1, 150, 602},
      // 20544 pixels of 48-bit colour: 123264 bytes, 61632 half.
      {2400, 48, 3, 20544, 0, 15408, 20544},
  };
  for (const Case& c : cases) {
    pass::ScanSetup read = edge_scan();
    read.x_resolution = read.y_resolution = c.resolution;
    read.bit_depth = c.depth;
    read.channels = c.channels;
    read.window_x = 0;
    read.window_width = c.width;
    read.gamma_on = 0;
    lib().context.vertical_above_horizontal = c.vertical_above_horizontal;
    ASSERT_EQ(program(read), QRX_OK) << c.resolution;
    EXPECT_EQ(reg(0x35, 3), c.threshold) << c.resolution << " dpi, depth " << int(c.depth)
                                         << ", vertical " << c.vertical_above_horizontal;
    // The window counts sensor pixels: 600 dpi ones below 600 dpi.
    EXPECT_EQ(reg(0x32, 2) - reg(0x30, 2), c.sensor_pixels) << c.resolution;
  }
}

TEST_F(ProgrammeRegistersTest, LineBytesOf75DpiAskedAndRead150) {
  // 2416 units: 151 pixels at 150 dpi, widened to 152 for the read; at 75 dpi 75
  // and 76, each line counted twice.
  pass::ScanSetup read = edge_scan();
  read.x_resolution = read.y_resolution = 150;
  read.bit_depth = 24;
  read.channels = 3;
  read.window_x = 0;
  read.window_width = 2416;
  read.gamma_on = 0;
  lib().context.output_x_res = 75;
  const pass::ScanSetup image = read;
  ASSERT_EQ(pass::program_scan(lib().context, lib().setting, image, read), QRX_OK);
  EXPECT_EQ(lib().context.image_line_bytes, 2u * 75 * 3);
  EXPECT_EQ(lib().context.read_line_bytes, 2u * 76 * 3);
  lib().context.output_x_res = 150;
  read = image;
  ASSERT_EQ(pass::program_scan(lib().context, lib().setting, image, read), QRX_OK);
  EXPECT_EQ(lib().context.image_line_bytes, 151u * 3);
}

TEST_F(ProgrammeRegistersTest, RegisterGroupsAreWrittenInTheirOrder) {
  pass::ScanSetup read = edge_scan();
  read.shading_on = 1;
  ASSERT_EQ(program(read), QRX_OK);
  // The first write of each group's lead register, in the programme's order:
  // memory map and gamma switch, sensor resolution, its clock map, the AFE, the
  // pixel window, the buffer threshold, the motor switch, the motor block, the
  // sensor timing, the shading switch, the light bit, the mode bits.
  const std::vector<uint8_t> order = {0x05, 0x2C, 0x74, 0x51, 0x30, 0x35, 0x02,
                                      0x21, 0x1C, 0x01, 0x03, 0x04, 0x0C};
  const auto all = writes();
  std::vector<size_t> first;
  for (uint8_t r : order) {
    const auto at =
        std::find_if(all.begin(), all.end(), [r](const auto& w) { return w.first == r; });
    ASSERT_NE(at, all.end()) << std::hex << int(r);
    first.push_back(static_cast<size_t>(at - all.begin()));
  }
  for (size_t i = 1; i < first.size(); ++i) {
    EXPECT_LT(first[i - 1], first[i])
        << std::hex << "0x" << int(order[i - 1]) << " before 0x" << int(order[i]);
  }
  // The motor block: 0x6A and 0x1F first, then the slot counts 0, 1, 2, 3, 4, the
  // feed, the lines, the backward then the forward feed register, the phase.
  EXPECT_EQ(
      writes_to({0x21, 0x24, 0x69, 0x6A, 0x5F, 0x3D, 0x3E, 0x3F, 0x25, 0x26,
                 0x27, 0x23, 0x22, 0x1F, 0x60, 0x61, 0x62, 0x63, 0x64, 0x65}),
      (std::vector<uint8_t>{0x6A, 0x1F, 0x21, 0x24, 0x69, 0x6A, 0x5F, 0x3D, 0x3E, 0x3F, 0x25, 0x26,
                            0x27, 0x23, 0x22, 0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x60, 0x63}));
  // The sensor timing: divider, multiplier, line period, exposures, timing code,
  // sampling, its copy in 0x34, the sensor bits.
  EXPECT_EQ(writes_to({0x1C, 0x1E, 0x38, 0x39, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x17, 0x1D, 0x34,
                       0x16}),
            (std::vector<uint8_t>{0x1C, 0x1E, 0x38, 0x39, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x17,
                                  0x1D, 0x34, 0x16, 0x16, 0x16, 0x1D}));
}

TEST_F(ProgrammeRegistersTest, TheAfeSetStartsWithRegisterZeroAt128) {
  pass::ScanSetup read = edge_scan();
  ASSERT_EQ(program(read), QRX_OK);
  // AFE writes as (address, value): register 0x51 takes the address, 0x3A/0x3B
  // the value's two bytes.
  std::vector<std::pair<int, int>> afe;
  int address = -1, high = 0;
  for (const auto& [r, v] : writes()) {
    if (r == 0x51) address = v;
    if (r == 0x3A) high = v;
    if (r == 0x3B) afe.emplace_back(address, high << 8 | v);
  }
  const std::vector<std::pair<int, int>> expected = {{0, 128}, {0, 157}, {1, 145}, {2, 50}, {3, 4},
                                                     {4, 0},   {5, 0},   {6, 63},  {7, 0}};
  EXPECT_EQ(afe, expected);
}

TEST_F(ProgrammeRegistersTest, PhaseValuesAndThePortTypeTwoCorrections) {
  auto& context = lib().context;
  pass::MotorPlan plan;
  plan.line_period = 21120;
  plan.step_divider = 2;
  plan.step_mode = 1;
  plan.forward_feed_steps = 55;
  plan.slots[0].table_sum = 40000;      // A = 80000
  plan.slots[0].last_step_time = 1000;  // L = 2000
  // Z2 = (80000 + (4 x 2 - 1) x 2000) mod P = 94000 mod P; Z1 = (80000 + 2000 x
  // (55 x 2 x 2 / 8 x 8 - 1)) mod P = 510000 mod P.
  plan.channels = 1;  // P = 21120
  auto z = pass::motor_phase_values(context, lib().setting, plan, 4);
  EXPECT_EQ(z.z1, 3120u);
  EXPECT_EQ(z.z2, 9520u);
  plan.channels = 3;  // P = 63360
  z = pass::motor_phase_values(context, lib().setting, plan, 4);
  EXPECT_EQ(z.z1, 3120u);
  EXPECT_EQ(z.z2, 30640u);
  // Port type 1 at 8 bits and 1200 dpi: no correction.
  context.bit_depth = 8;
  context.scan_y_res = 1200;
  plan.channels = 1;
  EXPECT_EQ(pass::motor_phase_values(context, lib().setting, plan, 4).z2, 9520u);

  emu::Options options;
  options.port_type = 2;
  reset_scanner(options);
  TerminateScanner(nullptr);
  ASSERT_TRUE(open_scanner());
  context.bit_depth = 8;
  context.scan_y_res = 1200;
  z = pass::motor_phase_values(context, lib().setting, plan, 4);
  EXPECT_EQ(z.z1, 3112u);
  EXPECT_EQ(z.z2, 9512u);
  // At the edge of the correction: with L = 0 both values are A mod P.
  plan.slots[0].last_step_time = 0;
  plan.step_divider = 1;
  for (const auto& [a, z1, z2] : {std::tuple{8u, 1u, 1u}, std::tuple{9u, 1u, 1u},
                                  std::tuple{10u, 2u, 2u}, std::tuple{0u, 1u, 1u}}) {
    plan.slots[0].table_sum = a;
    z = pass::motor_phase_values(context, lib().setting, plan, 4);
    EXPECT_EQ(z.z1, z1) << a;
    EXPECT_EQ(z.z2, z2) << a;
  }
  context.scan_y_res = 2400;
  z = pass::motor_phase_values(context, lib().setting, plan, 4);
  EXPECT_EQ(z.z1, 2640u);
  EXPECT_EQ(z.z2, 0u);
  context.bit_depth = 24;  // only 8-bit grey is corrected
  plan.slots[0].table_sum = 10;
  EXPECT_EQ(pass::motor_phase_values(context, lib().setting, plan, 4).z1, 10u);

  auto& values = lib().setting.mutable_values();
  values.SPECIALMODE = 0x2000;
  values.SPECIAL_Z1MOD_SETTING = 1234;
  values.SPECIAL_Z2MOD_SETTING = 5678;
  context.bit_depth = 0;
  z = pass::motor_phase_values(context, lib().setting, plan, 4);
  values.SPECIALMODE = 0;
  values.SPECIAL_Z1MOD_SETTING = 0;
  values.SPECIAL_Z2MOD_SETTING = 0;
  EXPECT_EQ(z.z1, 1234u);
  EXPECT_EQ(z.z2, 5678u);
}

}  // namespace
}  // namespace qrx::test
