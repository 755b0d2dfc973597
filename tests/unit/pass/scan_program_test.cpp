// The register programme, checked in the registers and memory of the emulated
// controller after programming passes at 600, 1200 and 2400 dpi.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "pass/motor_program.h"
#include "pass/scan_program.h"
#include "pass/sensor_setup.h"
#include "support/hooked_channel.h"
#include "support/sim_fixture.h"

namespace qrx::test {
namespace {

class ScanProgramTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_TRUE(open_scanner());
  }
  pass::ScanSetup setup(uint16_t resolution, uint8_t depth, uint8_t channels, uint32_t x,
                        uint32_t width) {
    pass::ScanSetup s;
    s.x_resolution = s.y_resolution = resolution;
    s.bit_depth = depth;
    s.channels = channels;
    s.light_source = 1;
    s.port_type = 1;
    s.feed_steps = 4;
    s.window_x = x;
    s.window_width = width;
    s.lines = 10;
    s.exposure.channel = {255, 255, 255, 255};
    s.exposure.exposure = {3000, 4000, 5000, 0};
    s.fast_feed = 1;
    s.lamp_on = 1;
    return s;
  }
  uint16_t program(pass::ScanSetup& read) {
    const pass::ScanSetup image = read;
    return pass::program_scan(lib().context, lib().setting, image, read);
  }
  uint32_t reg(uint8_t first, int bytes = 1) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
      v = v << 8 | scanner->peek_register(static_cast<uint8_t>(first + i));
    return v;
  }
  std::vector<uint16_t> words(uint32_t address, size_t count) {
    std::vector<uint8_t> bytes(count * 2);
    EXPECT_TRUE(scanner->peek_memory(address, bytes.data(), static_cast<uint32_t>(bytes.size())));
    std::vector<uint16_t> w(count);
    for (size_t i = 0; i < count; ++i)
      w[i] = static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return w;
  }
};

TEST_F(ScanProgramTest, SixHundredDpiColour) {
  pass::ScanSetup read = setup(600, 24, 3, 7, 2400);
  ASSERT_EQ(program(read), QRX_OK);
  EXPECT_EQ(reg(0x05) >> 6, 0u);
  EXPECT_EQ(reg(0x2C, 2), 600u);
  EXPECT_EQ(reg(0x17) & 0x3F, 10u);
  EXPECT_EQ(reg(0x34), 18u);
  EXPECT_EQ(reg(0x30, 2), 321u) << "x 7 rounds down to a multiple of 4: 4 x 600/2400 + 320";
  EXPECT_EQ(reg(0x32, 2), 321u + 600);
  EXPECT_EQ(lib().context.sensor_resolution, 600);
  // 24-bit: byte samples; three channels.
  EXPECT_EQ(reg(0x04) & 0x0C, 0u);
  EXPECT_EQ(reg(0x04) & 0x40, 0u);
  EXPECT_EQ(reg(0x0C) & 0x0F, 2u);
  EXPECT_EQ(lib().context.read_line_bytes, 600u * 3);
  EXPECT_EQ(lib().context.image_line_bytes, 600u * 3);
  // Line period (24-bit 600 dpi, port type 1) and exposures. The start-speed limit
  // of the acceleration table raised the step divider to 4, and everything timed
  // by the chip is given in units of it.
  EXPECT_EQ(reg(0x1C) & 7, 2u);
  EXPECT_EQ(reg(0x38, 2), 5344u);
  EXPECT_EQ(reg(0x10, 2), 750u);
  EXPECT_EQ(reg(0x12, 2), 1000u);
  EXPECT_EQ(reg(0x14, 2), 1250u);
  // Motor: 10 lines of 3 exposures, feed 4 at step mode 2, ramp of 64 steps.
  EXPECT_EQ(reg(0x25, 3), 36u);
  EXPECT_EQ(reg(0x3D, 3), 16u);
  EXPECT_EQ(reg(0x21), 32u);
  EXPECT_EQ(reg(0x60) >> 5, 2u) << "step mode in the phase register's top bits";
  EXPECT_EQ(reg(0x02) & 0x10, 0x10u) << "the motor moves";
  EXPECT_EQ(reg(0x03) & 0x10, 0x10u) << "LEDs on";
  // The AFE set of board variant 0, preceded by register 0 = 128.
  EXPECT_EQ(scanner->afe_register(1), 145);
  EXPECT_EQ(scanner->afe_register(6), 63);
  EXPECT_EQ(scanner->afe_register(0), 157);
  EXPECT_EQ(reg(0x74, 3), 60u);
}

TEST_F(ScanProgramTest, TwelveHundredDpiReadsAnEvenNumberOfPixels) {
  pass::ScanSetup read = setup(1200, 48, 3, 0, 2002);  // 1001 pixels
  ASSERT_EQ(program(read), QRX_OK);
  EXPECT_EQ(read.window_width, 2004u);
  EXPECT_EQ(reg(0x32, 2) - reg(0x30, 2), 1002u);
  EXPECT_EQ(reg(0x05) >> 6, 1u);
  EXPECT_EQ(reg(0x17) & 0x3F, 8u);
  EXPECT_EQ(lib().context.read_line_bytes, 1002u * 3 * 2);
  EXPECT_EQ(reg(0x04) & 0x40, 0x40u) << "16-bit samples";
}

TEST_F(ScanProgramTest, TwentyFourHundredDpiGreyEightBit) {
  pass::ScanSetup read = setup(2400, 8, 1, 0, 20544);
  read.gamma_on = 1;
  ASSERT_EQ(program(read), QRX_OK);
  EXPECT_EQ(reg(0x05) >> 6, 2u);
  EXPECT_EQ(reg(0x05) & 0x08, 0x08u) << "gamma switched on";
  EXPECT_EQ(reg(0x17) & 0x3F, 6u);
  EXPECT_EQ(reg(0x34), 14u);
  EXPECT_EQ(reg(0x04) & 0x0C, 0x08u);
  EXPECT_EQ(reg(0x0C) & 0x0F, 0u);
  EXPECT_EQ(lib().context.read_line_bytes, 20544u);
  // The identity curve: entries 0, 256, ... 65280 and both flags clear.
  const auto curve = words(0x01000000, 256);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(curve[i], i * 256) << i;
  EXPECT_EQ(reg(0xBD) & 7, 0u);
  EXPECT_EQ(reg(0xBE) & 7, 0u);
}

TEST_F(ScanProgramTest, ACurveThatRisesAndFallsIsNotUploaded) {
  auto& gamma = lib().context.gamma_table;
  for (size_t i = 0; i < 65536; ++i) gamma[1][i] = static_cast<uint16_t>(i < 32768 ? i : 65535 - i);
  for (size_t i = 0; i < 65536; ++i) gamma[2][i] = static_cast<uint16_t>(65535 - i);  // falls
  pass::ScanSetup read = setup(600, 24, 3, 0, 2400);
  read.gamma_on = 1;
  ASSERT_EQ(program(read), QRX_OK) << "the pass goes on";
  EXPECT_EQ(words(0x01000200, 2)[1], 256) << "green keeps the chip's previous curve";
  EXPECT_EQ(words(0x01000400, 1)[0], 65535) << "a falling curve is fine";
  EXPECT_EQ(reg(0xBD) & 4, 0u) << "falling curve ending at 0: flag A clear";
  EXPECT_EQ(reg(0xBE) & 4, 4u);
  EXPECT_EQ(reg(0xC9, 2), 65535u);
}

TEST_F(ScanProgramTest, ShadingIsUploadedIn252WordBlocks) {
  auto& context = lib().context;
  for (int c = 0; c < 3; ++c) {
    for (size_t i = 0; i < context.shading_offset[c].size(); ++i) {
      context.shading_offset[c][i] = static_cast<uint16_t>(1000 * c + i % 1000);
      context.shading_gain[c][i] = static_cast<uint16_t>(8192 + c);
    }
  }
  pass::ScanSetup read = setup(600, 48, 3, 400, 2400);  // pixels 100 to 699
  read.shading_on = 1;
  // The power-on value of register 0x06 (bits 7..5 = 2) asks for a packed stream.
  ASSERT_EQ(program(read), QRX_OK);
  EXPECT_EQ(reg(0x01) & 0x20, 0x20u);
  auto green = words(0x1002A000, 1200);
  EXPECT_EQ(green[252], 1226);
  EXPECT_EQ(green[1199], 8193);
  // Any other value: 252 data words and four empty ones in every 256.
  scanner->poke_register(0x06, 0x10);
  ASSERT_EQ(program(read), QRX_OK);
  green = words(0x1002A000, 520);
  EXPECT_EQ(green[0], 1100) << "offset of the window's first pixel";
  EXPECT_EQ(green[1], 8193);
  EXPECT_EQ(green[250], 1225);
  EXPECT_EQ(green[252], 0);
  EXPECT_EQ(green[255], 0);
  EXPECT_EQ(green[256], 1226) << "data resumes after four empty words";
}

TEST_F(ScanProgramTest, TheShadingSwitchCanBeForcedOff) {
  lib().setting.mutable_values().SPECIALMODE = 0x80;
  pass::ScanSetup read = setup(600, 48, 3, 0, 2400);
  read.shading_on = 1;
  scanner->clear_trace();
  const uint16_t status = program(read);
  lib().setting.mutable_values().SPECIALMODE = 0;
  ASSERT_EQ(status, QRX_OK);
  EXPECT_EQ(reg(0x01) & 0x20, 0u);
  for (const auto& entry : scanner->trace({emu::RequestKind::ControlOut, 0x82, -1})) {
    const uint32_t address = entry.data[0] | entry.data[1] << 8 | entry.data[2] << 16 |
                             static_cast<uint32_t>(entry.data[3]) << 24;
    EXPECT_LT(address, 0x10014000u) << "only slope tables were written";
  }
}

TEST_F(ScanProgramTest, AFailingRegisterGroupStopsTheProgrammeWithItsCode) {
  struct Case {
    uint8_t reg;
    uint32_t nth;  // which write of the register fails
    uint16_t code;
  };
  // Register 0x02 is written for the motor switch, then in the motor block for
  // bit 3, bit 7, bits 5, 6, 2, 1 and bit 0; 0x6A first with 4, then slot 3;
  // 0x60 and 0x63 with Z1 and Z2, then with the step mode; 0x1D for the sampling,
  // then its bit 5.
  const Case cases[] = {{0x05, 1, QRX_E_MEMORY_MAP},
                        {0x05, 2, QRX_E_SENSOR_RESOLUTION},
                        {0x2C, 1, QRX_E_SENSOR_RESOLUTION},
                        {0x74, 1, QRX_E_SENSOR_RESOLUTION},
                        {0x7D, 1, QRX_E_SENSOR_RESOLUTION},
                        {0x51, 1, QRX_E_SENSOR_RESOLUTION},
                        {0x30, 1, QRX_E_PIXEL_WINDOW},
                        {0x32, 1, QRX_E_PIXEL_WINDOW},
                        {0x35, 1, QRX_E_BUFFER_THRESHOLD},
                        {0x02, 1, QRX_E_MODE_BITS},
                        {0x02, 2, QRX_E_MOTOR_CONTROL},
                        {0x6A, 1, QRX_E_MOTOR_CONTROL},
                        {0x1F, 1, QRX_E_MOTOR_CONTROL},
                        {0x02, 3, QRX_E_MOTOR_HOLD},
                        {0x02, 4, QRX_E_MOTOR_MODE},
                        {0x02, 7, QRX_E_MOTOR_MODE},
                        {0x02, 8, QRX_E_MOTOR_ENABLE_BIT},
                        {0x21, 1, QRX_E_MOTOR_SLOT0},
                        {0x24, 1, QRX_E_MOTOR_SLOT1},
                        {0x69, 1, QRX_E_MOTOR_SLOT2},
                        {0x6A, 2, QRX_E_MOTOR_SLOT3},
                        {0x5F, 1, QRX_E_MOTOR_SLOT4},
                        {0x3D, 1, QRX_E_MOTOR_FEED},
                        {0x25, 1, QRX_E_MOTOR_LINES},
                        {0x23, 1, QRX_E_MOTOR_BACKWARD_FEED},
                        {0x22, 1, QRX_E_MOTOR_FORWARD_FEED},
                        {0x6C, 1, QRX_E_MOTOR_PHASE},
                        {0x60, 1, QRX_E_MOTOR_LINES},
                        {0x63, 1, QRX_E_MOTOR_LINES},
                        {0x60, 2, QRX_E_MOTOR_CONTROL},
                        {0x63, 2, QRX_E_MOTOR_CONTROL},
                        {0x1C, 1, QRX_E_TIMING_CODE},
                        {0x1E, 1, QRX_E_TIMING_MULTIPLIER},
                        {0x38, 1, QRX_E_TIMING_LINE_PERIOD},
                        {0x10, 1, QRX_E_TIMING_EXPOSURE},
                        {0x14, 1, QRX_E_TIMING_EXPOSURE},
                        {0x17, 1, QRX_E_TIMING_CODE},
                        {0x1D, 1, QRX_E_TIMING_SAMPLING},
                        {0x34, 1, QRX_E_TIMING_CODE},
                        {0x16, 1, QRX_E_STATUS_REGISTER},
                        {0x1D, 2, QRX_E_STATUS_REGISTER},
                        {0x01, 1, QRX_E_BUFFER_THRESHOLD},
                        {0x03, 1, QRX_E_MODE_BITS},
                        {0x04, 1, QRX_E_MODE_BITS},
                        {0x0C, 1, QRX_E_MODE_BITS}};
  for (const Case& c : cases) {
    scanner->fail_request({emu::RequestKind::ControlOut, 0x83, c.reg}, c.nth);
    pass::ScanSetup read = setup(600, 24, 3, 0, 2400);
    EXPECT_EQ(program(read), c.code) << std::hex << int(c.reg) << " write " << c.nth;
    scanner->clear_faults();
  }
}

TEST_F(ScanProgramTest, EachShadingChannelThatCannotBeUploadedHasItsCode) {
  // Five slope tables go first, then the channels' shading.
  const std::pair<uint32_t, uint16_t> colour[] = {
      {6, QRX_E_SHADING_UPLOAD_R}, {7, QRX_E_SHADING_UPLOAD_G}, {8, QRX_E_SHADING_UPLOAD_B}};
  for (const auto& [nth, code] : colour) {
    scanner->fail_request({emu::RequestKind::ControlOut, 0x82, -1}, nth);
    pass::ScanSetup read = setup(600, 48, 3, 0, 2400);
    read.shading_on = 1;
    EXPECT_EQ(program(read), code) << nth;
    scanner->clear_faults();
  }
  scanner->fail_request({emu::RequestKind::ControlOut, 0x82, -1}, 6);
  pass::ScanSetup grey = setup(600, 8, 1, 0, 2400);
  grey.shading_on = 1;
  EXPECT_EQ(program(grey), QRX_E_SHADING_UPLOAD_1);
  scanner->clear_faults();
}

TEST_F(ScanProgramTest, TheHighFlagOfARisingCurveIsSetBelow65280) {
  auto& gamma = lib().context.gamma_table;
  for (size_t i = 0; i < 65536; ++i) {
    gamma[0][i] = static_cast<uint16_t>(std::min<size_t>(i, 65280));          // ends at 65280
    gamma[1][i] = static_cast<uint16_t>(std::min<size_t>(i, 65279));          // ends just below
    gamma[2][i] = static_cast<uint16_t>(65280 - std::min<size_t>(i, 65280));  // falls from 65280
  }
  pass::ScanSetup read = setup(600, 24, 3, 0, 2400);
  read.gamma_on = 1;
  ASSERT_EQ(program(read), QRX_OK);
  EXPECT_EQ(reg(0xBE) & 7, 2u) << "only green ends below 65280; blue starts at it";
  EXPECT_EQ(reg(0xBD) & 7, 0u) << "the rising curves start at 0, the falling one ends at 0";
}

TEST_F(ScanProgramTest, TheClockMapPolarityAndAfeSetComeFromTheBoardsRow) {
  auto& values = lib().setting.mutable_values();
  values.CK1NEG_SETTING[0][3] = 1;  // board variant 0, 600 dpi
  values.CK1MAP_SETTING[0][3] = 0xC3;
  pass::ScanSetup read = setup(600, 24, 3, 0, 2400);
  const uint16_t status = program(read);
  values.CK1NEG_SETTING[0][3] = 0;
  values.CK1MAP_SETTING[0][3] = 60;
  ASSERT_EQ(status, QRX_OK);
  EXPECT_EQ(reg(0x7D) & 0xC0, 0x80u) << "the polarity is bit 7";
  EXPECT_EQ(reg(0x74, 3), 0xC3u);
  // Board variant 1: its own clock map (120) and AFE values.
  emu::Options options;
  options.board_variant = 1;
  reset_scanner(options);
  TerminateScanner(nullptr);
  ASSERT_TRUE(open_scanner());
  read = setup(600, 24, 3, 0, 2400);
  ASSERT_EQ(program(read), QRX_OK);
  EXPECT_EQ(reg(0x74, 3), 120u);
  const uint16_t afe[8] = {157, 146, 53, 4, 0, 0, 36, 0};
  for (uint8_t a = 0; a < 8; ++a) EXPECT_EQ(scanner->afe_register(a), afe[a]) << int(a);
}

TEST_F(ScanProgramTest, AnAfeBusyThroughFiveAttemptsTenMillisecondsApartIsAFailure) {
  auto& link = lib().context.link;
  // Attempts at 0, 10, 20, 30 and 40 ms: busy for 39 ms the fifth gets through,
  // busy for 41 ms none does.
  for (const auto& [busy_ms, written] : {std::pair{39u, true}, std::pair{41u, false}}) {
    const uint64_t until = clock.now_us() + busy_ms * 1000;
    hook_emulator_channel(link).on_read = [this, until](uint8_t r, uint8_t& value) {
      if (r == 0x41 && clock.now_us() < until) value = static_cast<uint8_t>(value | 0x02);
      return true;
    };
    EXPECT_EQ(pass::write_afe_register(link, clock, 0x20, 96), written) << busy_ms << " ms";
    clock.advance_us(100'000);
  }
  EXPECT_EQ(scanner->afe_register(0x20), 96);
}

TEST_F(ScanProgramTest, PassesWithoutTimingOrResolutionAreRefused) {
  pass::ScanSetup read = setup(600, 16, 1, 0, 2400);
  EXPECT_EQ(program(read), QRX_E_SCAN_MODE) << "16-bit modes have no line period";
  read = setup(4800, 24, 3, 0, 2400);
  EXPECT_EQ(program(read), QRX_E_RESOLUTION) << "the sensor is read at 2400 dpi at most";
  read = setup(0, 24, 3, 0, 2400);
  EXPECT_EQ(program(read), QRX_E_RESOLUTION);
}

}  // namespace
}  // namespace qrx::test
