// Carriage moves and homing against the emulated scanner: arriving home, the
// step out, the fast approach, and a motor or home sensor that misbehaves.
#include <gtest/gtest.h>

#include <chrono>
#include <utility>
#include <vector>

#include "pass/carriage.h"
#include "support/hooked_channel.h"
#include "support/scripted_channel.h"
#include "support/sim_fixture.h"
#include "transport/registers.h"

namespace qrx::test {
namespace {

class CarriageTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_TRUE(open_scanner());
  }
  transport::ScannerContext& context() { return lib().context; }
  const settings::ScannerSetting& setting() { return lib().setting; }
  size_t starts() {
    size_t n = 0;
    for (const auto& e : scanner->trace({emu::RequestKind::ControlOut, 0x83, 0x0F})) n += e.ok;
    return n;
  }
};

TEST_F(CarriageTest, ReturnHomeArrivesAtTheHomeSensor) {
  scanner->set_carriage_steps(5000);
  ASSERT_EQ(pass::return_home(context(), setting(), true, false), QRX_OK);
  EXPECT_EQ(scanner->carriage_steps(), 0.0);
  EXPECT_FALSE(scanner->motor_running());
  EXPECT_EQ(scanner->peek_register(0x01) & 1, 0) << "scan enable cleared after the stop";
  // Already home: nothing moves.
  scanner->clear_trace();
  ASSERT_EQ(pass::return_home(context(), setting(), true, true), QRX_OK);
  EXPECT_EQ(starts(), 0u);
}

TEST_F(CarriageTest, ACarriageFartherOutThanOneReturnHomeIsSentHomeTwice) {
  // 16000 steps: 14532 steps towards home leave it 1468 steps out.
  scanner->set_carriage_steps(16000);
  scanner->clear_trace();
  ASSERT_EQ(pass::return_home(context(), setting(), true, false), QRX_OK);
  EXPECT_EQ(scanner->carriage_steps(), 0.0);
  EXPECT_EQ(starts(), 2u);
  EXPECT_FALSE(scanner->motor_running());
}

TEST_F(CarriageTest, ReturnHomeWithoutWaitingLeavesTheMotorRunning) {
  scanner->set_carriage_steps(8000);
  ASSERT_EQ(pass::return_home(context(), setting(), false, true), QRX_OK);
  EXPECT_TRUE(scanner->motor_running());
  EXPECT_EQ(scanner->peek_register(0x2C) << 8 | scanner->peek_register(0x2D), 600)
      << "the fast row moves at 600 dpi";
  ASSERT_EQ(pass::wait_for_stop(context()), QRX_OK);
  EXPECT_EQ(scanner->carriage_steps(), 0.0);
}

TEST_F(CarriageTest, HomeAndStepOutEndsAThousandStepsAndARampOut) {
  scanner->set_carriage_steps(3000);
  ASSERT_EQ(pass::home_and_step_out(context(), setting()), QRX_OK);
  EXPECT_DOUBLE_EQ(scanner->carriage_steps(), scanner->step_out_steps());
  EXPECT_GT(scanner->carriage_steps(), 1000.0);
  EXPECT_EQ(scanner->peek_register(0x0D) & 0x04, 0x04);
}

TEST_F(CarriageTest, AMotorThatNeverStopsIsReportedAfterAMinuteOfPolling) {
  scanner->jam_motor(true);
  scanner->set_carriage_steps(100);
  ASSERT_EQ(pass::move(context(), setting(), {.distance = 200, .row = pass::kRowStepOut}), QRX_OK);
  const auto wall_start = std::chrono::steady_clock::now();
  const uint64_t virtual_start = clock.now_us();
  const uint64_t sleeps = clock.sleeps();
  EXPECT_EQ(pass::wait_for_stop(context()), QRX_E_MOTOR_TIMEOUT);
  // A minute of polling, 100 ms apart, all on the virtual clock: the wall-time
  // bound only catches a wait that slipped onto the real clock.
  EXPECT_EQ(clock.sleeps() - sleeps, 599u);
  EXPECT_GE(clock.now_us() - virtual_start, 59'000'000u);
  EXPECT_LT(std::chrono::steady_clock::now() - wall_start, std::chrono::seconds(30));
  EXPECT_EQ(pass::return_home(context(), setting(), true, false), QRX_E_MOTOR_TIMEOUT);
}

TEST_F(CarriageTest, AnUnreadableHomeSensorHasItsOwnCodes) {
  scanner->set_carriage_steps(2000);
  // Reads of 0x41: the wait for stop reads once, then the sensor read fails.
  scanner->fail_request({emu::RequestKind::ControlIn, 0x8E, 0x41}, 2, 10);
  EXPECT_EQ(pass::return_home(context(), setting(), true, false), QRX_E_HOME_SENSOR_BEFORE);
  scanner->clear_faults();
}

// What the status register reads once the pass of the next start strobe has been
// seen stopped: after `allowed` more good reads, every read fails, or reports the
// carriage at home or away from it.
struct AfterTheStop {
  enum Then { kFail, kHome, kAway } then = kFail;
  int allowed = 0;
  bool strobed = false, stopped = false;

  void hook(HookedChannel& channel) {
    channel.on_write = [this](uint8_t reg, uint8_t value) {
      if (reg == 0x0F && value != 0) strobed = true;
    };
    channel.on_read = [this](uint8_t reg, uint8_t& value) {
      if (reg != 0x41 || !strobed) return true;
      if (!stopped) {
        stopped = (value & 0x01) == 0;
        return true;
      }
      if (allowed > 0) {
        --allowed;
        return true;
      }
      if (then == kFail) return false;
      value = static_cast<uint8_t>(then == kHome ? value | 0x08 : value & ~0x08);
      return true;
    };
  }
};

TEST_F(CarriageTest, EachHomingFailureHasItsOwnCode) {
  // Return home: the sensor unreadable once the move has ended, or the carriage
  // never seen at home, also after the second move it is given.
  AfterTheStop after;
  after.hook(hook_emulator_channel(context().link));
  scanner->set_carriage_steps(5000);
  EXPECT_EQ(pass::return_home(context(), setting(), true, false), QRX_E_HOME_SENSOR_AFTER);
  hook_emulator_channel(context().link);
  ASSERT_EQ(pass::wait_for_stop(context()), QRX_OK);
  AfterTheStop away;
  away.then = AfterTheStop::kAway;
  away.hook(hook_emulator_channel(context().link));
  scanner->set_carriage_steps(5000);
  scanner->clear_trace();
  EXPECT_EQ(pass::return_home(context(), setting(), true, true), QRX_E_NOT_HOME);
  EXPECT_EQ(starts(), 2u);
  hook_emulator_channel(context().link);
  ASSERT_EQ(pass::wait_for_stop(context()), QRX_OK);

  // Home and step out from home: the wait and the sensor's two agreeing reads of the
  // return home come first, then its own read at home.
  scanner->set_carriage_steps(0);
  scanner->fail_request({emu::RequestKind::ControlIn, 0x8E, 0x41}, 4, 0);
  EXPECT_EQ(pass::home_and_step_out(context(), setting()), QRX_E_HOME_SENSOR_INIT);
  scanner->clear_faults();
  int reads = 0;
  hook_emulator_channel(context().link).on_read = [&reads](uint8_t reg, uint8_t& value) {
    if (reg == 0x41 && ++reads > 3) value = static_cast<uint8_t>(value & ~0x08);
    return true;
  };
  EXPECT_EQ(pass::home_and_step_out(context(), setting()), QRX_E_HOME_POSITION)
      << "not at home after homing";
  // After stepping out: unreadable, or still at home.
  for (const auto& [then, code] : {std::pair{AfterTheStop::kFail, QRX_E_HOME_SENSOR_STEP_OUT},
                                   std::pair{AfterTheStop::kHome, QRX_E_HOME_POSITION}}) {
    hook_emulator_channel(context().link);
    ASSERT_EQ(pass::wait_for_stop(context()), QRX_OK);
    scanner->set_carriage_steps(0);
    AfterTheStop step_out;
    step_out.then = then;
    step_out.hook(hook_emulator_channel(context().link));
    EXPECT_EQ(pass::home_and_step_out(context(), setting()), code);
  }
}

TEST_F(CarriageTest, WaitAndStartFailuresHaveTheirOwnCodes) {
  scanner->fail_request({emu::RequestKind::ControlIn, 0x8E, 0x41}, 1);
  EXPECT_EQ(pass::wait_for_stop(context()), QRX_E_STATUS_REGISTER);
  scanner->fail_request({emu::RequestKind::ControlOut, 0x83, 0x01}, 1);
  EXPECT_EQ(pass::wait_for_stop(context()), QRX_E_SCAN_ENABLE_WAIT);
  scanner->clear_faults();
  // The start strobe refused: scan enable is cleared again.
  scanner->fail_request({emu::RequestKind::ControlOut, 0x83, 0x0F}, 1);
  EXPECT_EQ(pass::start_motor(context()), QRX_E_START_WRITE);
  EXPECT_EQ(scanner->peek_register(0x01) & 1, 0);
  scanner->clear_faults();
}

TEST_F(CarriageTest, TheDataCountHasTenReadsToReachZero) {
  // The count (registers 0x4B..0x4D) reads 1 until its nth read.
  for (const auto& [zero_at, code] : {std::pair{10, QRX_OK}, std::pair{11, QRX_E_START_COUNT}}) {
    int reads = 0;
    const int at = zero_at;
    hook_emulator_channel(context().link).on_read = [&reads, at](uint8_t reg, uint8_t& value) {
      if (reg == 0x4D && ++reads < at) value = 1;
      return true;
    };
    const uint64_t sleeps = clock.sleeps();
    EXPECT_EQ(pass::start_motor(context()), code) << zero_at;
    EXPECT_GE(clock.sleeps() - sleeps, 9u) << "50 ms between the reads";
    hook_emulator_channel(context().link);
    ASSERT_EQ(pass::wait_for_stop(context()), QRX_OK);
  }
}

// A status register whose home bit changes on every read.
class FlickeringHome final : public transport::DeviceChannel {
 public:
  bool control_read(uint8_t request, uint16_t index, uint8_t* buffer, uint32_t length) override {
    if (request != 0x8E || length != 2) return false;
    buffer[0] = (index >> 8) == 0x41 ? static_cast<uint8_t>((reads_++ & 1) ? 0x08 : 0x00) : 0;
    buffer[1] = 0x55;
    return true;
  }
  bool control_write(uint8_t, uint16_t, const uint8_t*, uint32_t) override { return true; }
  bool device_descriptor(transport::DeviceDescriptor&) override { return true; }
  bool bulk_read(uint8_t*, uint32_t, uint32_t& n) override { return (n = 0), true; }
  bool bulk_write(const uint8_t*, uint32_t length, uint32_t& n) override {
    return (n = length), true;
  }

 private:
  int reads_ = 0;
};

TEST_F(CarriageTest, TheHomeSensorHasFiveRereadsToAgree) {
  // The home bit of successive reads of register 0x41: the first read and up to
  // five more must contain two successive ones that agree.
  struct Case {
    std::vector<int> home;
    bool readable;
  };
  const Case cases[] = {{{0, 1, 0, 1, 0, 0}, true}, {{0, 1, 0, 1, 0, 1, 1}, false}};
  for (const Case& c : cases) {
    size_t reads = 0;
    const std::vector<int> home = c.home;
    hook_emulator_channel(context().link).on_read = [&reads, home](uint8_t reg, uint8_t& value) {
      if (reg == 0x41 && reads < home.size()) {
        value = static_cast<uint8_t>(home[reads++] != 0 ? value | 0x08 : value & ~0x08);
      }
      return true;
    };
    bool at_home = false;
    EXPECT_EQ(pass::read_home_sensor(context(), at_home), c.readable) << c.home.size();
    if (c.readable) {
      EXPECT_FALSE(at_home);
    }
  }
}

TEST(HomeSensorTest, ASensorThatNeverAgreesIsAFailure) {
  platform::VirtualClock clock;
  platform::ScopedClock use(clock);
  auto context = std::make_unique<transport::ScannerContext>();
  context->link.attach(std::make_unique<FlickeringHome>());
  bool at_home = true;
  EXPECT_FALSE(pass::read_home_sensor(*context, at_home));
  settings::ScannerSetting setting;
  EXPECT_EQ(pass::return_home(*context, setting, true, false), QRX_E_HOME_SENSOR_BEFORE);
}

TEST_F(CarriageTest, FastApproachUsesTheRowForItsDistance) {
  context().scan_y_res = 600;
  context().low_res_oversample = 0;
  struct Case {
    uint32_t feed;
    uint8_t oversample;
    uint16_t row_resolution;
  };
  for (const Case& c : {Case{900, 0, 600}, Case{999, 0, 600}, Case{1000, 0, 75}, Case{5000, 0, 75},
                        Case{5000, 1, 300}}) {
    scanner->set_carriage_steps(1000);
    context().low_res_oversample = c.oversample;
    uint32_t feed = c.feed;
    ASSERT_EQ(pass::fast_approach(context(), setting(), feed), QRX_OK);
    EXPECT_EQ(feed, 4u);
    EXPECT_EQ(scanner->peek_register(0x2C) << 8 | scanner->peek_register(0x2D), c.row_resolution)
        << c.feed;
    // The carriage ends four steps short: the scan's own feed covers them. Row 9
    // runs on stored ramp tables, whose speed is not the one its line period
    // implies: its two lines take the carriage 32.3 steps on instead of 16
    // (12 exposures of 5472 ticks at 127 x 4 ticks a quarter step), which the
    // approach allows for, to within the part of a step a move cannot make.
    if (c.oversample == 0) {
      EXPECT_DOUBLE_EQ(scanner->carriage_steps(), 1000.0 + c.feed - 4) << c.feed;
    } else {
      EXPECT_NEAR(scanner->carriage_steps(), 1000.0 + c.feed - 4, 0.5) << c.feed;
    }
  }
}

TEST_F(CarriageTest, FastApproachStaysPutWhenThereIsNothingToGain) {
  scanner->set_carriage_steps(1000);
  scanner->clear_trace();
  context().low_res_oversample = 0;
  context().scan_y_res = 150;
  uint32_t feed = 3000;
  ASSERT_EQ(pass::fast_approach(context(), setting(), feed), QRX_OK);
  EXPECT_EQ(feed, 3000u) << "150 dpi scans feed all the way themselves";
  context().scan_y_res = 600;
  feed = 0;
  ASSERT_EQ(pass::fast_approach(context(), setting(), feed), QRX_OK);
  EXPECT_EQ(starts(), 0u);
  // Shorter than the margin: a one-step move, then the scan feeds 4.
  feed = 20;
  ASSERT_EQ(pass::fast_approach(context(), setting(), feed), QRX_OK);
  EXPECT_EQ(feed, 4u);
  EXPECT_EQ(starts(), 1u);
  // From 151 dpi on the carriage goes ahead.
  context().scan_y_res = 151;
  feed = 3000;
  ASSERT_EQ(pass::fast_approach(context(), setting(), feed), QRX_OK);
  EXPECT_EQ(feed, 4u);
  EXPECT_EQ(starts(), 2u);
}

}  // namespace
}  // namespace qrx::test
