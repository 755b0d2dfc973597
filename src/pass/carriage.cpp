// Carriage moves and homing (see carriage.h).
#include "pass/carriage.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "pass/motor_plan.h"
#include "pass/scan_program.h"
#include "pass/slope_table.h"
#include "platform/clock.h"
#include "qrx7730.h"
#include "transport/registers.h"

namespace qrx::pass {
namespace {

using transport::read_register;
using transport::status_bit::kAtHome;
using transport::status_bit::kMotorRunning;

constexpr int kStopPolls = 600;
constexpr uint32_t kStopPollMs = 100;
constexpr int kCountPolls = 10;
constexpr uint32_t kCountPollMs = 50;
constexpr uint32_t kStartSettleMs = 100;
constexpr uint32_t kHomeSensorDelayMs = 20;
constexpr int kHomeSensorReads = 5;
// Return-home moves made before a carriage that has not reached home is judged.
constexpr int kReturnHomeMoves = 2;
constexpr uint32_t kMoveWidth = 256;
constexpr uint32_t kMoveLines = 2;

bool clear_scan_enable(transport::DeviceLink& link) {
  return transport::write_bit_field(link, transport::reg::kScanControl, 0, 0, 0);
}

// Motor steps a move of this row covers while it takes its lines and their run-out
// (lines x 3 channels + 6 exposures of the row's line period), cruising at the
// speed its acceleration ramp ends with. A computed ramp ends at the speed the line
// period implies, which makes it 4800 / resolution; a stored ramp ends at its own
// last step time, which may be faster or slower.
double move_lines_travel(const transport::ScannerContext& context,
                         const settings::ScannerSetting& setting, MotorPlan plan) {
  const uint32_t row_resolution = plan.motor_lines / 3;
  const double nominal = row_resolution != 0 ? 4800.0 / row_resolution : 0.0;
  plan.step_divider = step_divider(plan.line_period);
  std::vector<uint16_t> ramp;
  if (build_slope_table(context, setting, 0, plan, ramp) != QRX_OK || ramp.empty()) {
    return nominal;
  }
  const uint32_t divider = plan.step_divider;
  const double cruise = static_cast<double>(std::max<uint16_t>(ramp.back(), 1)) * divider;
  const double exposure = static_cast<double>(plan.line_period / divider) * divider;
  const double exposures = kMoveLines * 3 + 6;
  return exposures * exposure / cruise / static_cast<double>(1u << plan.step_mode);
}

}  // namespace

uint16_t wait_for_stop(transport::ScannerContext& context) {
  transport::DeviceLink& link = context.link;
  int polls = 0;
  for (;;) {
    uint8_t status = 0;
    if (!read_register(link, transport::reg::kStatus, status)) return QRX_E_STATUS_REGISTER;
    if ((status & kMotorRunning) == 0) break;
    if (++polls >= kStopPolls) return QRX_E_MOTOR_TIMEOUT;
    platform::clock().sleep_ms(kStopPollMs);
  }
  context.carriage_stops_seen.fetch_add(1);
  if (!clear_scan_enable(link)) return QRX_E_SCAN_ENABLE_WAIT;
  return QRX_OK;
}

uint16_t start_motor(transport::ScannerContext& context) {
  transport::DeviceLink& link = context.link;
  platform::Clock& clock = platform::clock();
  if (!transport::write_bit_field(link, transport::reg::kCountReset, 0, 0, 1)) {
    return QRX_E_START_COUNT;
  }
  for (int read = 0;; ++read) {
    uint32_t count = 0;
    if (!transport::read_register24(link, transport::reg::kDataCount, count)) {
      return QRX_E_START_COUNT;
    }
    if (count == 0) break;
    if (read + 1 >= kCountPolls) return QRX_E_START_COUNT;
    clock.sleep_ms(kCountPollMs);
  }
  clock.sleep_ms(kStartSettleMs);
  const uint16_t status = wait_for_stop(context);
  if (status != QRX_OK) return status;
  clock.sleep_ms(kStartSettleMs);
  if (!transport::write_bit_field(link, transport::reg::kScanControl, 0, 0, 1) ||
      !transport::write_register(link, transport::reg::kStartStrobe, 0xFF)) {
    clear_scan_enable(link);
    return QRX_E_START_WRITE;
  }
  return QRX_OK;
}

uint16_t move(transport::ScannerContext& context, const settings::ScannerSetting& setting,
              const Move& move) {
  uint16_t status = wait_for_stop(context);
  if (status != QRX_OK) return status;
  if (move.distance == 0) return QRX_OK;

  ScanSetup image;
  image.x_resolution = image.y_resolution =
      static_cast<uint16_t>(setting.MOTOR_MSETTING(move.row, 0));
  image.bit_depth = 24;
  image.channels = 3;
  image.light_source = kFlatbedLight;
  image.port_type = 2;
  image.feed_steps = move.distance;
  image.lines = kMoveLines;
  image.window_x = 0;
  image.window_width = kMoveWidth;
  image.exposure.channel = {255, 255, 255, 255};
  image.exposure.exposure = {0, 0, 0, 0};
  image.no_motor = move.no_motor;
  image.toward_home = move.toward_home;
  image.b5 = move.b5;
  image.b1 = move.b1;
  image.move_row = move.row;
  ScanSetup read = image;
  // A programme that failed half-way would send the motor off with whatever the
  // registers held; the move stops here instead.
  status = program_scan(context, setting, image, read);
  if (status != QRX_OK) return status;
  return start_motor(context);
}

bool read_home_sensor(transport::ScannerContext& context, bool& at_home) {
  platform::clock().sleep_ms(kHomeSensorDelayMs);
  uint8_t previous = 0;
  if (!read_register(context.link, transport::reg::kStatus, previous)) return false;
  for (int i = 0; i < kHomeSensorReads; ++i) {
    uint8_t current = 0;
    if (!read_register(context.link, transport::reg::kStatus, current)) return false;
    if (((current ^ previous) & kAtHome) == 0) {
      at_home = (current & kAtHome) != 0;
      return true;
    }
    previous = current;
  }
  return false;
}

uint16_t return_home(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                     bool wait, bool fast) {
  uint16_t status = wait_for_stop(context);
  if (status != QRX_OK) return status;
  bool at_home = false;
  if (!read_home_sensor(context, at_home)) return QRX_E_HOME_SENSOR_BEFORE;
  if (at_home) return QRX_OK;
  const uint8_t row = fast ? kRowHomeFast : kRowHome;
  status = move(context, setting, {.distance = kReturnHomeSteps, .row = row, .toward_home = 1});
  if (status != QRX_OK) return status;
  if (!wait) return QRX_OK;
  // A carriage farther out than one return home travels stops short of the
  // sensor: a pass down to the bottom of the glass ends some 15,400 steps out. It
  // is sent home once more before it is judged.
  for (int moves = 1;; ++moves) {
    status = wait_for_stop(context);
    if (status != QRX_OK) return status;
    if (!read_home_sensor(context, at_home)) return QRX_E_HOME_SENSOR_AFTER;
    if (at_home) return QRX_OK;
    if (moves == kReturnHomeMoves) return QRX_E_NOT_HOME;
    status = move(context, setting, {.distance = kReturnHomeSteps, .row = row, .toward_home = 1});
    if (status != QRX_OK) return status;
  }
}

uint16_t home_and_step_out(transport::ScannerContext& context,
                           const settings::ScannerSetting& setting) {
  transport::DeviceLink& link = context.link;
  if (!transport::write_bit_field(link, transport::reg::kCountReset, 2, 2, 1)) {
    return QRX_E_HOMING_REGISTER;
  }
  uint16_t status = return_home(context, setting, true, false);
  if (status != QRX_OK) return status;
  bool at_home = false;
  if (!read_home_sensor(context, at_home)) return QRX_E_HOME_SENSOR_INIT;
  if (!at_home) return QRX_E_HOME_POSITION;
  if (!transport::write_bit_field(link, transport::reg::kCountReset, 2, 2, 1)) {
    return QRX_E_HOMING_REGISTER;
  }
  status = move(context, setting, {.distance = kStepOutSteps, .row = kRowStepOut, .b1 = 1});
  if (status != QRX_OK) return status;
  status = wait_for_stop(context);
  if (status != QRX_OK) return status;
  if (!read_home_sensor(context, at_home)) return QRX_E_HOME_SENSOR_STEP_OUT;
  return at_home ? QRX_E_HOME_POSITION : QRX_OK;
}

uint16_t fast_approach(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                       uint32_t& feed_steps) {
  const uint32_t f = feed_steps;
  const bool oversampled = context.low_res_oversample != 0;
  if ((oversampled && context.scan_y_res <= 300) || f == 0 || context.scan_y_res < 151) {
    return QRX_OK;
  }
  const uint8_t row = f < 1000 ? kRowHomeFast : (oversampled ? kRowApproachOversampled : kRowHome);
  const uint32_t row_resolution = setting.MOTOR_MSETTING(row, 0);
  MotorPlan plan;
  ScanSetup approach;
  approach.light_source = kFlatbedLight;
  approach.port_type = 2;
  approach.bit_depth = 24;
  approach.channels = 3;
  approach.y_resolution = static_cast<uint16_t>(row_resolution);
  approach.move_row = row;
  plan_motor(context, setting, approach, plan);
  // What the move travels beyond its feed (its ramps, its lines), and the four
  // steps the scan then feeds itself.
  const uint32_t margin =
      plan.slots[0].steps + plan.slots[2].steps +
      static_cast<uint32_t>(std::lround(move_lines_travel(context, setting, plan))) + 4;
  const uint32_t travel = f > margin ? f - margin : 1;
  const uint16_t status = move(context, setting, {.distance = travel, .row = row});
  if (status != QRX_OK) return status;
  feed_steps = 4;
  return wait_for_stop(context);
}

}  // namespace qrx::pass
