// Light control and warm-up (see lamp.h).
#include "lamp/lamp.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "calibration/acquisition.h"
#include "pass/carriage.h"
#include "pass/sensor_setup.h"
#include "platform/clock.h"
#include "qrx7730.h"
#include "transport/registers.h"

namespace qrx::lamp {
namespace {

using transport::write_bit_field;

constexpr uint8_t kLightOff = 0;
constexpr uint8_t kVisibleFilm = QRX_LAMP_FILM;       // bit 2
constexpr uint8_t kInfraredFilm = QRX_LAMP_INFRARED;  // bit 3
constexpr uint8_t kInfraredRegister = 0x6C;           // bit 7: the infrared film light
constexpr uint8_t kLampReadyRegister = 0x0A;
constexpr uint32_t kLightOffSettleMs = 500;
constexpr uint32_t kRefusalWatchdogMs = 30000;
// Refusals further apart than this are of different moves whatever was seen.
constexpr uint32_t kSeparateRunsMs = 10 * 60 * 1000;

// The warm-up measurement: one standing line at 600 dpi across the film area.
constexpr uint16_t kMeasureResolution = 600;
constexpr uint32_t kMeasureX = 17760;
constexpr uint32_t kMeasureWidth = 5696;
// The film area's position for the measurement (2400 dpi units from the scan origin).
constexpr uint32_t kFilmWindowY = 2800;
constexpr uint16_t kAfeOffsetLevel = 75;   // AFE registers 0x28 to 0x2A
constexpr uint16_t kAfeGainLevel = 96;     // AFE registers 0x20 to 0x22
constexpr uint32_t kElapsedLimitS = 1800;  // longer than this reads as a clock jump: 0
constexpr uint8_t kDarkFilmLevel = 15;
constexpr uint8_t kGiveUpPolls = 29;
constexpr uint8_t kGiveUpPollsWeak = 89;

// Codes of the warm-up steps that share their number with other steps.
constexpr uint16_t kFilmMoveFailed = QRX_E_POWER_ON_TABLE;     // 0x9B07
constexpr uint16_t kAfeOffsetFailed = QRX_E_MOTOR_ENABLE_BIT;  // 0x9B46
constexpr uint16_t kShadingOffFailed = QRX_E_MOTOR_SLOT0;      // 0x9B47

bool set_afe_triple(transport::DeviceLink& link, uint8_t first, uint16_t value) {
  for (uint8_t a = first; a < first + 3; ++a) {
    if (!pass::write_afe_register(link, platform::clock(), a, value)) return false;
  }
  return true;
}

// target x ratio, truncated and cut to 8 bits as the tuning limits are compared.
uint8_t limit8(uint8_t target, double ratio) {
  const double product = std::trunc(target * ratio);
  if (!(product > 0)) return 0;
  return static_cast<uint8_t>(static_cast<uint64_t>(std::fmod(product, 256.0)));
}

struct Targets {
  std::array<uint8_t, 3> target;
  std::array<double, 3> lower, ready, change;
};

Targets targets(const settings::ScannerSetting& s) {
  return {{s.WARM_UP_TARGET_R(), s.WARM_UP_TARGET_G(), s.WARM_UP_TARGET_B()},
          {s.WARM_UP_LL_RATIO_R(), s.WARM_UP_LL_RATIO_G(), s.WARM_UP_LL_RATIO_B()},
          {s.WARM_UP_MAX_RATIO_R(), s.WARM_UP_MAX_RATIO_G(), s.WARM_UP_MAX_RATIO_B()},
          {s.WARM_UP_OLD_RATIO_R(), s.WARM_UP_OLD_RATIO_G(), s.WARM_UP_OLD_RATIO_B()}};
}

// Home again after the light was accepted, and on the home sensor.
uint16_t home_after_warm_up(transport::ScannerContext& context,
                            const settings::ScannerSetting& setting) {
  const uint16_t status = pass::return_home(context, setting, true, false);
  if (status != QRX_OK) return status;
  bool at_home = false;
  if (!pass::read_home_sensor(context, at_home)) return QRX_E_HOME_SENSOR_INIT;
  return at_home ? QRX_OK : QRX_E_HOME_POSITION;
}

// The largest 8-bit sample of each colour in one planar line.
uint16_t measure(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                 uint8_t light, Brightness& maxima) {
  calibration::AcquisitionRequest request;
  request.port_type = context.link.port_type();
  request.resolution = kMeasureResolution;
  request.bits_per_pixel = 24;
  request.feed_steps = 4;
  request.line_count = 1;
  request.start_pixel = kMeasureX;
  request.width = kMeasureWidth;
  request.light_source = light;
  request.channels = 3;
  request.exposure.channel = {255, 255, 255, 255};
  request.exposure.exposure = {1, 1, 1, 0};
  request.no_motor = 1;
  // The infrared film light alone is measured with the visible lights off.
  request.led_on = (light & (QRX_LAMP_FLATBED | kVisibleFilm)) != 0 ? 1 : 0;
  std::vector<uint8_t> line;
  const uint16_t status = calibration::calibration_lines(context, setting, request, line);
  if (status != QRX_OK) return status;
  const size_t pixels = line.size() / 3;
  for (size_t c = 0; c < 3; ++c) {
    const auto block = line.begin() + static_cast<ptrdiff_t>(c * pixels);
    maxima[c] = pixels == 0 ? 0 : *std::max_element(block, block + static_cast<ptrdiff_t>(pixels));
  }
  return QRX_OK;
}

// The first poll of a warm-up: nothing to do when the light is already the one
// reported ready and on; otherwise switch it on and start measuring next time.
uint16_t first_poll(transport::ScannerContext& context, uint8_t light, uint8_t lamp_state) {
  context.weak_light = 0;
  uint8_t state = 0;
  if (!read_light_state(context, state)) return QRX_E_WARMUP_STATE_AGAIN;
  if (state == 0 || state != light) lamp_state = 0;
  if (lamp_state == light) return QRX_OK;
  for (auto& history : context.brightness_history) history.fill(0);
  if (!switch_light(context, light)) return QRX_E_WARMUP_SWITCH;
  if (!set_afe_triple(context.link, 0x28, kAfeOffsetLevel)) return QRX_E_WARMUP_EXPOSURE;
  return QRX_LAMP_WARMING_UP;
}

uint16_t measuring_poll(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                        uint8_t light, uint8_t c) {
  transport::DeviceLink& link = context.link;
  platform::Clock& clock = platform::clock();
  if (c == 1) {
    context.warm_up_start_ms = clock.ticks_ms();
    if ((light & kVisibleFilm) != 0) {
      // Under the film area before the first measurement.
      context.window.y = kFilmWindowY;
      const uint32_t steps = kFilmWindowY * 1200 / 2400 + context.reference_offset;
      if (pass::move(context, setting, {.distance = steps, .row = pass::kRowHomeFast}) != QRX_OK) {
        return kFilmMoveFailed;
      }
    }
  }
  if (!set_afe_triple(link, 0x20, kAfeGainLevel)) return QRX_E_WARMUP_SETTING;
  if (!set_afe_triple(link, 0x28, kAfeOffsetLevel)) return kAfeOffsetFailed;
  if (!write_bit_field(link, transport::reg::kScanControl, 5, 5, 0)) return kShadingOffFailed;

  Brightness m{};
  uint16_t status = measure(context, setting, light, m);
  if (status != QRX_OK) return status;

  uint32_t elapsed = (clock.ticks_ms() - context.warm_up_start_ms) / 1000;
  if (elapsed > kElapsedLimitS) elapsed = 0;
  const bool over_allowance = !(c <= setting.WARM_UP_COUNT() && elapsed <= setting.WARM_UP_TIME());
  if (over_allowance && brightness_weak(setting, m)) context.weak_light = 1;

  if ((light & kVisibleFilm) != 0 && over_allowance && m[0] < kDarkFilmLevel &&
      m[1] < kDarkFilmLevel && m[2] < kDarkFilmLevel) {
    // The film light stays dark: give up and park the carriage.
    return pass::return_home(context, setting, true, true) == QRX_OK ? QRX_E_FILM_LIGHT_DARK
                                                                     : QRX_E_FILM_DARK_HOME;
  }
  if (brightness_ready(setting, m, context.brightness_history)) {
    return home_after_warm_up(context, setting);
  }

  const uint8_t range = setting.WARM_UP_DECISION_RANGE();
  for (int k = 0; k < 3; ++k) {
    auto& history = context.brightness_history[k];
    if (range >= 2)
      std::copy_backward(history.begin(), history.begin() + range - 1, history.begin() + range);
    history[0] = m[k];
  }

  const uint8_t limit = context.weak_light != 0 ? kGiveUpPollsWeak : kGiveUpPolls;
  if (c < limit) return static_cast<uint16_t>(QRX_LAMP_WARMING_UP + c);
  // Waited long enough: the light is taken as it is.
  context.weak_light = 0;
  return home_after_warm_up(context, setting);
}

// One warm-up step with the attempt counter c, which it restarts when the light
// has gone off.
uint16_t warm_up_step(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                      uint8_t light, uint8_t lamp_state, uint8_t& c) {
  if (!transport::write_register(context.link, kLampReadyRegister, 0)) {
    return QRX_E_SETUP_REGISTER;
  }
  uint8_t state = 0;
  if (!read_light_state(context, state)) return QRX_E_WARMUP_STATE;
  if ((state & light) == 0) c = 0;
  if (c == 0) return first_poll(context, light, lamp_state);
  return measuring_poll(context, setting, light, c);
}

}  // namespace

bool read_light_state(transport::ScannerContext& context, uint8_t& state) {
  transport::DeviceLink& link = context.link;
  uint8_t lamp = 0, status = 0, infrared = 0;
  if (!transport::read_register(link, transport::reg::kLamp, lamp) ||
      !transport::read_register(link, transport::reg::kStatus, status) ||
      !transport::read_register(link, kInfraredRegister, infrared)) {
    return false;
  }
  uint8_t on = kLightOff;
  switch (transport::extract_bit_field(lamp, 5, 4)) {
    case 1:
      on = QRX_LAMP_FLATBED;
      break;
    case 3:
      on = kVisibleFilm;
      break;
    default:
      // No visible light: the infrared film light alone when it is on (as
      // switching to code 8 leaves it), else nothing.
      if ((infrared & 0x80) != 0) on = kInfraredFilm;
      break;
  }
  state = (status & transport::status_bit::kLightOn) != 0 ? on : kLightOff;
  return true;
}

bool switch_light(transport::ScannerContext& context, uint8_t code) {
  transport::DeviceLink& link = context.link;
  const uint8_t reg = transport::reg::kLamp;
  // A change of light is announced by a pulse of bit 7.
  if (!write_bit_field(link, reg, 7, 7, 0) || !write_bit_field(link, reg, 7, 7, 1)) return false;
  auto select_and_check = [&](uint8_t bits) {
    uint8_t value = 0;
    return write_bit_field(link, reg, 5, 4, bits) && transport::read_register(link, reg, value) &&
           transport::extract_bit_field(value, 5, 4) == bits;
  };
  switch (code) {
    case QRX_LAMP_FLATBED:
      return select_and_check(1);
    case QRX_LAMP_FILM:
      return select_and_check(3);
    case QRX_LAMP_FILM_STORED:
      // Visible and infrared film light together.
      return select_and_check(3) && write_bit_field(link, kInfraredRegister, 7, 7, 1);
    case QRX_LAMP_INFRARED:
      return write_bit_field(link, kInfraredRegister, 7, 7, 1) &&
             write_bit_field(link, reg, 4, 4, 0);
    case kLightOff:
      if (!write_bit_field(link, reg, 4, 4, 0) ||
          !write_bit_field(link, kInfraredRegister, 7, 7, 0)) {
        return false;
      }
      platform::clock().sleep_ms(kLightOffSettleMs);
      return true;
    default:
      return true;
  }
}

bool motor_running(transport::ScannerContext& context, bool& running) {
  uint8_t status = 0;
  if (!transport::read_register(context.link, transport::reg::kStatus, status)) return false;
  running = (status & transport::status_bit::kMotorRunning) != 0;
  if (!running) context.carriage_stops_seen.fetch_add(1);
  return true;
}

uint16_t refuse_light_while_moving(transport::ScannerContext& context) {
  platform::Clock& clock = platform::clock();
  const uint32_t now = clock.ticks_ms();
  const uint32_t stops = context.carriage_stops_seen.load();
  // Refusals are one run while the carriage has not been seen stopped between
  // them: the same move still goes on, however seldom the host asks. Once a stop
  // was seen, the next refusal is of another move, and the watchdog starts afresh
  // rather than reset the controller under a move that has only just begun. The
  // moves of other processes are not seen here: refusals far apart are taken as
  // of different moves all the same. Once the run has reset the controller, it
  // lasts until a selection goes through.
  const bool reset_sent =
      context.lamp_last_refused_ms - context.lamp_refused_ms >= kRefusalWatchdogMs;
  if (context.lamp_refused && (now - context.lamp_last_refused_ms >= kSeparateRunsMs ||
                               (!reset_sent && stops != context.lamp_refused_stops))) {
    context.lamp_refused = false;
  }
  context.lamp_last_refused_ms = now;
  context.lamp_refused_stops = stops;
  if (!context.lamp_refused) {
    context.lamp_refused = true;
    context.lamp_refused_ms = now;
  }
  if (now - context.lamp_refused_ms < kRefusalWatchdogMs) return QRX_E_CARRIAGE_MOVING;
  // Still moving half a minute after the first refusal: the controller is stuck.
  // Its reset is pulsed; whether the pulse went through, the scanner is reported
  // as failed.
  transport::reset_pulse(context.link, clock);
  return QRX_E_STATUS_REGISTER;
}

void clear_light_refusal(transport::ScannerContext& context) {
  context.lamp_refused = false;
  context.lamp_refused_ms = 0;
}

bool brightness_stable(const settings::ScannerSetting& setting, const Brightness& m,
                       const std::array<std::array<uint16_t, 9>, 3>& history) {
  const uint8_t range = setting.WARM_UP_DECISION_RANGE();
  const int level = setting.WARM_UP_DECISION_LEVEL();
  for (int j = 0; j < range; ++j) {
    for (int k = 0; k < 3; ++k) {
      if (std::abs(static_cast<int>(m[k]) - static_cast<int>(history[k][j])) > level) return false;
    }
  }
  return true;
}

bool brightness_ready(const settings::ScannerSetting& setting, const Brightness& m,
                      const std::array<std::array<uint16_t, 9>, 3>& history) {
  if (!brightness_stable(setting, m, history)) return false;
  const Targets t = targets(setting);
  for (int k = 0; k < 3; ++k) {
    // Above the ready level first, so that m is not 0 below.
    if (m[k] <= limit8(t.target[k], t.ready[k])) return false;
    const double change = std::abs(static_cast<double>(m[k]) - history[k][0]) / m[k];
    if (!(change < t.change[k])) return false;
  }
  return true;
}

bool brightness_weak(const settings::ScannerSetting& setting, const Brightness& m) {
  const Targets t = targets(setting);
  for (int k = 0; k < 3; ++k) {
    if (m[k] >= limit8(t.target[k], t.lower[k])) return false;
  }
  return true;
}

uint16_t poll_warm_up(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                      uint8_t light, uint8_t lamp_state) {
  uint8_t& attempts = context.warm_up_attempts;
  const uint16_t status = warm_up_step(context, setting, light, lamp_state, attempts);
  if ((status & 0xFF00) == QRX_LAMP_WARMING_UP) {
    ++attempts;
  } else {
    attempts = 0;
  }
  return status;
}

void reset_warm_up_attempts(transport::ScannerContext& context) {
  context.warm_up_attempts = 0;
}

bool film_light_selected(transport::ScannerContext& context, uint8_t light, bool& selected) {
  uint8_t lamp = 0, infrared = 0;
  if (!transport::read_register(context.link, transport::reg::kLamp, lamp) ||
      !transport::read_register(context.link, kInfraredRegister, infrared)) {
    return false;
  }
  selected = (light & (kVisibleFilm | kInfraredFilm)) != 0;
  if ((light & kVisibleFilm) != 0) selected = selected && (lamp & 0x20) != 0;
  if ((light & kInfraredFilm) != 0) selected = selected && (infrared & 0x80) != 0;
  return true;
}

}  // namespace qrx::lamp
