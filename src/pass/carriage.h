// Carriage moves and homing: one move is a pass that reads nothing useful, driven
// by a row of the move settings; on it stand the return home, the home-and-step-out
// check and the fast approach towards the first scan line. Waiting is polling the
// status register through the platform clock.
#pragma once

#include <cstdint>

#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::pass {

// Move rows used here.
inline constexpr uint8_t kRowHome = 0;
inline constexpr uint8_t kRowHomeFast = 1;
inline constexpr uint8_t kRowStepOut = 2;
inline constexpr uint8_t kRowApproachOversampled = 9;

// Travel of a return home, and of the step out after it, in motor steps.
inline constexpr uint32_t kReturnHomeSteps = 14532;
inline constexpr uint32_t kStepOutSteps = 1000;

// Polls the status register (up to 600 times, 100 ms apart) until the motor has
// stopped, then clears scan enable.
uint16_t wait_for_stop(transport::ScannerContext& context);

// Resets the data count, waits for the motor, and starts the programmed pass.
uint16_t start_motor(transport::ScannerContext& context);

// One carriage move: its distance in motor steps, its row of the move settings and
// its register 0x02 mode bits.
struct Move {
  uint32_t distance = 0;
  uint8_t row = kRowHome;
  uint8_t toward_home = 0;
  uint8_t b5 = 0;
  uint8_t b1 = 0;
  uint32_t no_motor = 0;  // 1: the carriage stands still
};

// Programmes and starts the move; returns when the motor has started. A distance
// of 0 moves nothing.
uint16_t move(transport::ScannerContext& context, const settings::ScannerSetting& setting,
              const Move& move);

// Reads the home sensor until two successive reads agree; false when unreadable.
bool read_home_sensor(transport::ScannerContext& context, bool& at_home);

// Sends the carriage home (fast: with the fast row). With wait, waits for it and
// checks the home sensor; a carriage still out after one move (it was farther out
// than one return home travels) is sent home once more before it counts as not
// home.
uint16_t return_home(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                     bool wait, bool fast);

// Homes, checks the sensor, steps 1000 steps out and checks it again.
uint16_t home_and_step_out(transport::ScannerContext& context,
                           const settings::ScannerSetting& setting);

// Moves most of feed_steps at the move speed before a scan; on return feed_steps
// holds what the scan itself still has to feed.
uint16_t fast_approach(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                       uint32_t& feed_steps);

}  // namespace qrx::pass
