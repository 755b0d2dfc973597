// SetLamp and GetLampStatus against the emulated scanner: the flatbed light, the
// film light's warm-up in each of its endings, the motor watchdog, and failing
// register accesses.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "lamp/lamp.h"
#include "pass/carriage.h"
#include "support/hooked_channel.h"
#include "support/sim_fixture.h"

namespace qrx::test {
namespace {

using emu::RequestKind;

constexpr uint16_t kWarming = QRX_LAMP_WARMING_UP;

class LampTest : public SimTest {
 protected:
  void open(emu::Options::FilmLight film) {
    emu::Options options;
    options.film_light = film;
    TerminateScanner(nullptr);
    reset_scanner(options);
    ASSERT_TRUE(open_scanner());
    lamp::reset_warm_up_attempts(lib().context);  // no warm-up of an earlier test goes on
    // What InitializeScanner hands over: the film area lies that far beyond it.
    lib().context.reference_offset = scanner->expected_home_offset();
  }
  // Polls GetLampStatus (pace_us of host time apart) until it stops warming up.
  // The codes answered, 0 for ready.
  std::vector<uint16_t> poll(int at_most, uint64_t pace_us = 1'000'000) {
    std::vector<uint16_t> codes;
    for (int i = 0; i < at_most; ++i) {
      codes.push_back(GetLampStatus(nullptr, 0) ? 0 : last_error());
      EXPECT_EQ(lib().status_block.busy(), 0u);
      if ((codes.back() & 0xFF00) != kWarming) break;
      clock.advance_us(pace_us);
    }
    return codes;
  }
  // Every code but the last is the warming-up code with its attempt number, the
  // first being attempt `first`.
  static void expect_counting(const std::vector<uint16_t>& codes, size_t first = 0) {
    for (size_t i = 0; i + 1 < codes.size(); ++i) EXPECT_EQ(codes[i], kWarming + first + i) << i;
  }
  bool film_light_selected() { return ((scanner->peek_register(0x03) >> 4) & 3) == 3; }
};

TEST_F(LampTest, TheFlatbedLightIsReadyAtOnceWithoutTouchingTheScanner) {
  open(emu::Options::FilmLight::kNone);
  ASSERT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_TRUE);
  lib().status_block.set_lamp_state(0);
  lib().last_error = 0x1234;
  scanner->clear_trace();
  EXPECT_EQ(GetLampStatus(nullptr, 0), QRX_TRUE);
  EXPECT_TRUE(scanner->trace().empty());
  EXPECT_EQ(last_error(), 0x1234) << "the flatbed answer leaves the last status";
  EXPECT_EQ(lib().status_block.lamp_state(), QRX_LAMP_FLATBED);

  ASSERT_EQ(SetLamp(nullptr, QRX_LAMP_NONE), QRX_TRUE);
  EXPECT_EQ(GetLampStatus(nullptr, 0), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NO_LAMP_SELECTED);
}

TEST_F(LampTest, AWarmFilmLightIsSwitchedOnMeasuredAndReadyOnceSettled) {
  open(emu::Options::FilmLight::kWarm);
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FILM), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NO_FILM_ADAPTER);
  EXPECT_EQ(lib().lamp_select, QRX_LAMP_FILM_STORED);

  // The first poll switches both film lights on and measures nothing.
  EXPECT_EQ(GetLampStatus(nullptr, 0), QRX_FALSE);
  EXPECT_EQ(last_error(), kWarming);
  EXPECT_TRUE(film_light_selected());
  EXPECT_EQ(scanner->peek_register(0x6C) & 0x80, 0x80);
  for (uint8_t afe = 0x28; afe <= 0x2A; ++afe) EXPECT_EQ(scanner->afe_register(afe), 75);
  EXPECT_EQ(scanner->carriage_steps(), 0.0);

  const std::vector<uint16_t> codes = poll(40);
  ASSERT_EQ(codes.back(), QRX_OK);
  expect_counting(codes, 1);
  EXPECT_LT(codes.size(), 28u) << "settled, not given up";
  EXPECT_GE(codes.size(), 3u) << "a lamp struck cold is not ready at its first measurement";
  EXPECT_EQ(lib().status_block.lamp_state(), QRX_LAMP_FILM_STORED);
  EXPECT_EQ(scanner->carriage_steps(), 0.0);
  EXPECT_EQ(lib().context.warm_up_attempts, 0);
}

TEST_F(LampTest, AWarmedFilmLightStaysReadyUntilALightIsSwitchedOrTheScannerReset) {
  open(emu::Options::FilmLight::kWarm);
  const auto warm_up = [&] {
    SetLamp(nullptr, QRX_LAMP_FILM);
    ASSERT_EQ(poll(40).back(), QRX_OK);
  };
  const auto passes = [&] { return scanner->trace({RequestKind::ControlOut, 0x83, 0x0F}).size(); };
  warm_up();
  // The return home put the light out (register 0x03 bit 4); it stays selected.
  ASSERT_EQ((scanner->peek_register(0x03) >> 4) & 3, 2);
  scanner->clear_trace();
  EXPECT_EQ(GetLampStatus(nullptr, 0), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(GetLampStatus(nullptr, 0), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(last_error(), QRX_OK);
  EXPECT_EQ(passes(), 0u) << "neither measured nor moved again";
  EXPECT_FALSE(film_light_selected()) << "nor switched on again";
  EXPECT_EQ(lib().status_block.lamp_state(), QRX_LAMP_FILM_STORED);

  // Another light switched: the film light must be warmed again (measured, the
  // attempt count going on from the infrared light's).
  SetLamp(nullptr, QRX_LAMP_INFRARED);
  EXPECT_EQ(poll(1).front(), kWarming);
  SetLamp(nullptr, QRX_LAMP_FILM);
  EXPECT_EQ(poll(1).front() & 0xFF00, kWarming);
  warm_up();
  // A dark reference (or the flatbed light) deselects it.
  scanner->poke_register(0x03, static_cast<uint8_t>(scanner->peek_register(0x03) & ~0x30));
  EXPECT_EQ(poll(1).front(), kWarming);
  warm_up();
  // The controller reset of another open (its power-on) puts it out.
  TerminateScanner(nullptr);
  ASSERT_TRUE(open_scanner());
  EXPECT_EQ(poll(1).front(), kWarming);
}

TEST_F(LampTest, EachPatternOfTheLightSelectBitsGivesItsLightState) {
  // Infrared chosen after the film light leaves one film bit of register 0x03:
  // bit 5 from the film light, bit 4 cleared by the infrared switch.
  open(emu::Options::FilmLight::kWarm);
  SetLamp(nullptr, QRX_LAMP_FILM);
  ASSERT_EQ(poll(40).back(), QRX_OK);
  SetLamp(nullptr, QRX_LAMP_INFRARED);
  ASSERT_EQ(poll(1).front(), kWarming);
  ASSERT_EQ((scanner->peek_register(0x03) >> 4) & 3, 2);
  uint8_t state = 0xFF;
  ASSERT_TRUE(lamp::read_light_state(lib().context, state));
  EXPECT_EQ(state, QRX_LAMP_INFRARED) << "the infrared light, not the film light";
  // So the infrared warm-up measures from its next poll on, not starting afresh.
  EXPECT_EQ(poll(2, 0), (std::vector<uint16_t>{kWarming + 1, kWarming + 2}));

  // Every pattern, with the infrared light off and on (status bit 2 follows
  // register 0x03 bit 4 or register 0x6C bit 7).
  struct Case {
    uint8_t bits;
    bool infrared;
    uint8_t state;
  };
  const uint8_t original = scanner->peek_register(0x03);
  for (const Case& c :
       {Case{0, false, 0}, Case{0, true, QRX_LAMP_INFRARED}, Case{1, false, QRX_LAMP_FLATBED},
        Case{1, true, QRX_LAMP_FLATBED}, Case{2, false, 0}, Case{2, true, QRX_LAMP_INFRARED},
        Case{3, false, QRX_LAMP_FILM}, Case{3, true, QRX_LAMP_FILM}}) {
    scanner->poke_register(0x03, static_cast<uint8_t>((original & ~0x30) | c.bits << 4));
    scanner->poke_register(0x6C, c.infrared ? 0x80 : 0x00);
    state = 0xFF;
    ASSERT_TRUE(lamp::read_light_state(lib().context, state));
    EXPECT_EQ(state, c.state) << "bits 5..4 = " << int{c.bits} << ", infrared " << c.infrared;
  }
}

TEST_F(LampTest, EachMeasurementSetsTheAfeAndGoesUnderTheFilmArea) {
  open(emu::Options::FilmLight::kWarm);
  SetLamp(nullptr, QRX_LAMP_FILM);
  ASSERT_EQ(poll(2, 0), (std::vector<uint16_t>{kWarming, kWarming + 1}));
  for (uint8_t afe = 0x20; afe <= 0x22; ++afe) EXPECT_EQ(scanner->afe_register(afe), 96);
  for (uint8_t afe = 0x28; afe <= 0x2A; ++afe) EXPECT_EQ(scanner->afe_register(afe), 75);
  EXPECT_EQ(scanner->peek_register(0x01) & 0x20, 0) << "shading off";
  // The first measurement stands where a move of 2800 units (1400 steps) past the
  // reference edge, with move row 1, leaves the carriage.
  const double measured_at = scanner->carriage_steps();
  reset_scanner(emu::Options{});
  TerminateScanner(nullptr);
  ASSERT_TRUE(open_scanner());
  ASSERT_EQ(
      pass::move(lib().context, lib().setting,
                 {.distance = 1400u + scanner->expected_home_offset(), .row = pass::kRowHomeFast}),
      QRX_OK);
  ASSERT_EQ(pass::wait_for_stop(lib().context), QRX_OK);
  EXPECT_DOUBLE_EQ(measured_at, scanner->carriage_steps());
}

TEST_F(LampTest, EachMeasuringStepHasItsCode) {
  struct Case {
    int reg;
    uint32_t nth;
    uint16_t code;
  };
  // Register 0x51 takes each AFE address: 0x20..0x22 first, then 0x28..0x2A.
  for (const Case& c : {Case{0x51, 1, QRX_E_WARMUP_SETTING}, Case{0x51, 3, QRX_E_WARMUP_SETTING},
                        Case{0x51, 4, QRX_E_MOTOR_ENABLE_BIT}, Case{0x01, 1, QRX_E_MOTOR_SLOT0}}) {
    open(emu::Options::FilmLight::kWarm);
    SetLamp(nullptr, QRX_LAMP_FILM);
    ASSERT_EQ(poll(2, 0).back(), kWarming + 1);
    scanner->fail_request({RequestKind::ControlOut, 0x83, c.reg}, c.nth);
    EXPECT_EQ(GetLampStatus(nullptr, 0), QRX_FALSE);
    EXPECT_EQ(last_error(), c.code) << std::hex << c.reg << " " << c.nth;
    scanner->clear_faults();
  }
}

TEST_F(LampTest, TheHomeSensorAfterAReadyLightHasItsCodes) {
  open(emu::Options::FilmLight::kWarm);
  SetLamp(nullptr, QRX_LAMP_FILM);
  const size_t polls = poll(40).size();
  ASSERT_GE(polls, 3u);
  for (const auto& [fail, code] :
       {std::pair{true, QRX_E_HOME_SENSOR_INIT}, std::pair{false, QRX_E_HOME_POSITION}}) {
    open(emu::Options::FilmLight::kWarm);
    SetLamp(nullptr, QRX_LAMP_FILM);
    // The polls before the ready one, each followed by the host's second.
    ASSERT_EQ(poll(static_cast<int>(polls) - 1).back(), kWarming + polls - 2);
    // The ready poll measures (one start strobe), then sends the carriage home (the
    // second); once that move is seen stopped, the return home reads the sensor
    // twice, then the warm-up reads it: unreadable, or away from home.
    int strobes = 0, reads_after = -1;
    const bool failing = fail;
    HookedChannel& hooked = hook_emulator_channel(lib().context.link);
    hooked.on_write = [&strobes](uint8_t reg, uint8_t value) {
      if (reg == 0x0F && value != 0) ++strobes;
    };
    hooked.on_read = [&, failing](uint8_t reg, uint8_t& value) {
      if (reg != 0x41 || strobes < 2) return true;
      if (reads_after < 0) {
        if ((value & 0x01) == 0) reads_after = 0;
        return true;
      }
      if (++reads_after <= 2) return true;
      if (failing) return false;
      value = static_cast<uint8_t>(value & ~0x08);
      return true;
    };
    EXPECT_EQ(GetLampStatus(nullptr, 0), QRX_FALSE);
    EXPECT_EQ(last_error(), code);
  }
}

TEST_F(LampTest, TheTimeAllowanceIncludesItsLastSecond) {
  // The film light stays dark; how many seconds the third measurement comes after
  // the first depends on the moves: with that as the allowance the third is still
  // within it and the fourth gives up, with a second less the third gives up.
  open(emu::Options::FilmLight::kNone);
  SetLamp(nullptr, QRX_LAMP_FILM);
  ASSERT_EQ(poll(3, 1'000'000).back(), kWarming + 2);
  EXPECT_EQ(GetLampStatus(nullptr, 0), QRX_FALSE);
  ASSERT_EQ(last_error(), kWarming + 3);
  const uint32_t elapsed = (clock.ticks_ms() - lib().context.warm_up_start_ms) / 1000;
  ASSERT_LT(elapsed, 10u) << "the count allowance (10) must not decide";
  auto& values = lib().setting.mutable_values();
  for (const auto& [allowance, codes] : {std::pair{elapsed, 5u}, std::pair{elapsed - 1, 4u}}) {
    values.WARM_UP_TIME = allowance;
    open(emu::Options::FilmLight::kNone);
    SetLamp(nullptr, QRX_LAMP_FILM);
    const std::vector<uint16_t> until_dark = poll(40, 1'000'000);
    EXPECT_EQ(until_dark.size(), codes) << "allowance " << allowance;
    EXPECT_EQ(until_dark.back(), QRX_E_FILM_LIGHT_DARK);
  }
  values.WARM_UP_TIME = 10;
}

TEST_F(LampTest, AFilmLightDarkerThanFifteenIsDark) {
  // Without noise and non-uniformity every sample reads the dark level: 3839
  // counts are 14 in 8 bits, 3840 are 15, which is not below 15.
  for (const auto& [dark_level, gives_up] : {std::pair{3839u, true}, std::pair{3840u, false}}) {
    emu::Options options;
    options.sensor_noise = false;
    options.sensor_nonuniformity = false;
    options.dark_level = dark_level;
    TerminateScanner(nullptr);
    reset_scanner(options);
    ASSERT_TRUE(open_scanner());
    lamp::reset_warm_up_attempts(lib().context);
    lib().context.reference_offset = scanner->expected_home_offset();
    SetLamp(nullptr, QRX_LAMP_FILM);
    const std::vector<uint16_t> codes = poll(12, 0);
    ASSERT_EQ(codes.size(), 12u) << dark_level;
    EXPECT_EQ(codes.back() == QRX_E_FILM_LIGHT_DARK, gives_up) << dark_level;
  }
}

TEST_F(LampTest, ALightThatNeverSettlesIsTakenAfterItsTwentyNinthMeasurement) {
  open(emu::Options::FilmLight::kUnsettled);
  SetLamp(nullptr, QRX_LAMP_FILM);
  const std::vector<uint16_t> codes = poll(40);
  ASSERT_EQ(codes.size(), 30u);
  expect_counting(codes);
  EXPECT_EQ(codes.back(), QRX_OK);
  EXPECT_EQ(scanner->carriage_steps(), 0.0);
}

TEST_F(LampTest, AWeakLightIsGivenEightyNineMeasurements) {
  open(emu::Options::FilmLight::kWeak);
  SetLamp(nullptr, QRX_LAMP_FILM);
  const std::vector<uint16_t> codes = poll(100);
  ASSERT_EQ(codes.size(), 90u);
  expect_counting(codes);
  EXPECT_EQ(codes.back(), QRX_OK);
}

TEST_F(LampTest, AFilmLightThatStaysDarkGivesUpAndParksTheCarriage) {
  open(emu::Options::FilmLight::kNone);
  SetLamp(nullptr, QRX_LAMP_FILM);
  // Dark only counts once the allowance is used up: 10 measurements when the
  // host polls at once, ...
  std::vector<uint16_t> codes = poll(40, 0);
  expect_counting(codes);
  EXPECT_EQ(codes.back(), QRX_E_FILM_LIGHT_DARK);
  EXPECT_EQ(codes.size(), 12u);
  EXPECT_EQ(scanner->carriage_steps(), 0.0);
  // ... or 10 seconds from the first measurement when it polls slowly.
  codes = poll(40, 4'000'000);
  expect_counting(codes);
  EXPECT_EQ(codes.back(), QRX_E_FILM_LIGHT_DARK);
  EXPECT_GE(codes.size(), 4u);
  EXPECT_LE(codes.size(), 5u) << "the third or fourth measurement is 10 s past the first";
  EXPECT_EQ(poll(1).front(), kWarming) << "the next poll starts a new warm-up";
}

TEST_F(LampTest, TheInfraredLightIsRecognisedOnceSwitchedOn) {
  open(emu::Options::FilmLight::kNone);
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_INFRARED), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_NO_FILM_ADAPTER);
  const std::vector<uint16_t> codes = poll(3, 0);
  EXPECT_EQ(codes, (std::vector<uint16_t>{kWarming, kWarming + 1, kWarming + 2}))
      << "measuring, not switching it on again at every poll";
  EXPECT_EQ(scanner->peek_register(0x6C) & 0x80, 0x80);
}

TEST_F(LampTest, WithoutTheReferenceOffsetTheMeasurementMissesTheFilmArea) {
  open(emu::Options::FilmLight::kWarm);
  lib().context.reference_offset = 0;
  SetLamp(nullptr, QRX_LAMP_FILM);
  EXPECT_EQ(poll(40).back(), QRX_E_FILM_LIGHT_DARK);
}

TEST_F(LampTest, RefusedForHalfAMinuteWhileTheMotorRunsTheControllerIsReset) {
  open(emu::Options::FilmLight::kNone);
  auto jam = [&] {
    scanner->jam_motor(true);
    ASSERT_EQ(TestScanner(nullptr, 57, 1, 0), QRX_TRUE) << std::hex << last_error();
    ASSERT_TRUE(scanner->motor_running());
  };
  auto resets = [&] { return scanner->trace({RequestKind::ControlOut, 0x83, 0x0E}).size(); };
  jam();
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_CARRIAGE_MOVING);
  EXPECT_EQ(lib().status_block.busy(), 0u);
  clock.advance_us(29'900'000);
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_CARRIAGE_MOVING);
  scanner->clear_trace();
  clock.advance_us(100'000);  // exactly 30 s after the first refusal
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_STATUS_REGISTER);
  const auto pulses = scanner->trace({RequestKind::ControlOut, 0x83, 0x0E});
  ASSERT_EQ(resets(), 4u) << "the watchdog's pulse, then the power-on's";
  EXPECT_EQ(pulses[0].data[1], 1) << "register 0x0E pulsed 1 then 0";
  EXPECT_EQ(pulses[1].data[1], 0);
  EXPECT_FALSE(scanner->motor_running()) << "the reset stopped the jammed motor";
  EXPECT_NE(scanner->peek_register(0x06) & 0x10, 0) << "the controller set up again";

  // Until a selection goes through, every refusal resets again.
  jam();
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_STATUS_REGISTER);
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_TRUE);
  jam();
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_CARRIAGE_MOVING) << "the watchdog starts afresh";
}

TEST_F(LampTest, ARefusalLongAfterTheLastOneStartsTheWatchdogAfresh) {
  // Found by the soak: a refusal left from an earlier move made a later one reset
  // the controller the moment it was refused.
  open(emu::Options::FilmLight::kNone);
  ASSERT_EQ(TestScanner(nullptr, 57, 1, 0), QRX_TRUE) << std::hex << last_error();
  ASSERT_TRUE(scanner->motor_running());
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_CARRIAGE_MOVING);
  clock.advance_us(60'000'000);  // that move ends; the host asks nothing meanwhile
  ASSERT_FALSE(scanner->motor_running());
  ASSERT_EQ(TestScanner(nullptr, 57, 1, 0), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_CARRIAGE_MOVING);
  EXPECT_TRUE(scanner->motor_running()) << "no reset under the new move";
}

TEST_F(LampTest, RefusalsWhileTheCarriageNeverStopsAreOneRunHoweverSlowlyTheHostAsks) {
  open(emu::Options::FilmLight::kNone);
  auto jam = [&] {
    scanner->jam_motor(true);
    ASSERT_EQ(TestScanner(nullptr, 57, 1, 0), QRX_TRUE) << std::hex << last_error();
    ASSERT_TRUE(scanner->motor_running());
  };
  // A host that asks every 31 s while the carriage keeps moving: the second
  // refusal comes more than half a minute after the first.
  jam();
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_CARRIAGE_MOVING);
  clock.advance_us(31'000'000);
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_STATUS_REGISTER);
  EXPECT_FALSE(scanner->motor_running()) << "the controller was reset";
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_TRUE);

  // Refusals hours apart are not one run, even with no stop seen between them
  // (another process's moves are not seen here): the watchdog starts afresh.
  jam();
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_FALSE);
  clock.advance_us(2ull * 3600 * 1'000'000);
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_CARRIAGE_MOVING);
  clock.advance_us(31'000'000);
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_STATUS_REGISTER);
}

TEST_F(LampTest, TheWatchdogsResetGoesOutInsideTheFrame) {
  // Found by the soak: outside it, the reset fell between the requests of another
  // process's framed call.
  open(emu::Options::FilmLight::kNone);
  std::vector<uint64_t> holds;
  HookedChannel& hooked = hook_emulator_channel(lib().context.link);
  hooked.on_write = [&](uint8_t reg, uint8_t) {
    if (reg == 0x0E) holds.push_back(lib().status_block.current_hold());
  };
  scanner->jam_motor(true);
  ASSERT_EQ(TestScanner(nullptr, 57, 1, 0), QRX_TRUE) << std::hex << last_error();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FLATBED), QRX_FALSE);
    clock.advance_us(15'000'000);
  }
  EXPECT_EQ(last_error(), QRX_E_STATUS_REGISTER);
  ASSERT_EQ(holds.size(), 4u) << "the watchdog's pulse, then the power-on's";
  EXPECT_NE(holds[0], 0u);
  for (uint64_t hold : holds) EXPECT_EQ(hold, holds[0]) << "all under the call's own hold";
  EXPECT_EQ(lib().status_block.busy(), 0u);
}

TEST_F(LampTest, AFailingRegisterAccessGivesItsStepsCode) {
  open(emu::Options::FilmLight::kWarm);
  scanner->fail_request({RequestKind::ControlIn, 0x8E, 0x41}, 1);
  EXPECT_EQ(SetLamp(nullptr, QRX_LAMP_FILM), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_STATUS_REGISTER);
  EXPECT_EQ(lib().lamp_select, QRX_LAMP_FILM_STORED) << "stored before the check";

  struct Case {
    RequestKind kind;
    int reg;
    uint32_t nth;
    uint16_t code;
  };
  const Case first_poll[] = {
      {RequestKind::ControlOut, 0x0A, 1, QRX_E_SETUP_REGISTER},
      {RequestKind::ControlIn, 0x03, 1, QRX_E_WARMUP_STATE},
      {RequestKind::ControlIn, 0x6C, 2, QRX_E_WARMUP_STATE_AGAIN},
      {RequestKind::ControlOut, 0x03, 1, QRX_E_WARMUP_SWITCH},
      {RequestKind::ControlOut, 0x51, 1, QRX_E_WARMUP_EXPOSURE},
  };
  for (const Case& c : first_poll) {
    scanner->fail_request({c.kind, c.kind == RequestKind::ControlIn ? 0x8E : 0x83, c.reg}, c.nth);
    EXPECT_EQ(GetLampStatus(nullptr, 0), QRX_FALSE);
    EXPECT_EQ(last_error(), c.code) << std::hex << c.reg;
    EXPECT_EQ(lib().status_block.busy(), 0u);
    scanner->clear_faults();
  }
  // Switched on; the first measuring poll's move to the film area fails.
  ASSERT_EQ(poll(1).front(), kWarming);
  scanner->fail_request({RequestKind::ControlOut, 0x83, 0x0F}, 1);
  EXPECT_EQ(GetLampStatus(nullptr, 0), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_POWER_ON_TABLE);
  EXPECT_EQ(poll(1).front(), kWarming) << "a failure starts the warm-up again";
}

}  // namespace
}  // namespace qrx::test
