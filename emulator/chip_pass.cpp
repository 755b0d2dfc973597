// The pass engine: acceleration over slot 0, the feed, the lines with their run-out,
// deceleration over slot 2, all timed on the chip clock and evaluated lazily up to
// the time of each request. A full line buffer holds the carriage until the host
// has read enough to store the next line.
#include <algorithm>
#include <cmath>

#include "emulator/chip.h"
#include "emulator/geometry.h"

namespace qrx::emu {

void Chip::start_pass() {
  programme_ = Programme::from_registers(regs_.data(), memory_, board_variant_);
  recipe_ = std::make_unique<LineRecipe>(programme_, sensor_, memory_);
  line_scratch_.assign(recipe_->line_bytes(), 0);
  pass_lines_ = 0;
  line_rows_.clear();
  lines_finished_ = false;
  paused_ = false;
  line_started_ = false;
  t_ = pass_start_ = now_;
  phase_checked_ = false;
  phase_error_ = 0;
  film_lamp_.pass_started();
  enter(programme_.motor ? Phase::Accel : Phase::Lines);
}

void Chip::enter(Phase phase) {
  phase_ = phase;
  index_ = 0;
  if (phase == Phase::Done) {
    if (!lines_finished_) finish_lines();
    if (jam_) jammed_ = true;  // the motor keeps turning
  }
}

void Chip::finish_lines() {
  // No more lines will come: fill the stream to a whole counter unit (4 bytes), so
  // that the count in regs 0x42..0x45 covers every byte of the pass.
  lines_finished_ = true;
  line_started_ = false;
  paused_ = false;
  buffer_.pad_to_word();
}

void Chip::abort_pass() {
  // Scan enable cleared during a pass: no more lines. A pass taking lines slows
  // down and stops; one still on its way there (accelerating or feeding, as a
  // carriage move mostly is) travels on and stops where its lines would begin.
  finish_lines();
  if (phase_ != Phase::Lines && phase_ != Phase::RunOut) return;
  t_ = now_;
  enter(programme_.motor ? Phase::Decel : Phase::Done);
}

bool Chip::move(double micro_steps) {
  if (!programme_.motor || micro_steps <= 0) return true;
  const double steps = micro_steps / static_cast<double>(1u << programme_.step_mode);
  if (programme_.toward_home) {
    position_ -= steps;
    if (position_ <= 0) {
      // The home sensor stops a move towards home.
      position_ = 0;
      enter(Phase::Done);
      return false;
    }
  } else {
    position_ = std::min(position_ + steps, kTravelSteps);
  }
  return true;
}

void Chip::resume_if_room() {
  if (!paused_ || !recipe_) return;
  if (buffer_.free_space() >= recipe_->line_bytes()) {
    paused_ = false;
    t_ = std::max(t_, now_);
  }
}

void Chip::check_phase() {
  // The phase the chip is given is its line clock's phase at the start of the last
  // feed micro-step; what it should be follows from the time the motion took.
  const Programme& p = programme_;
  if (!p.motor || p.feed == 0 || p.phase == 0 || p.phase_period == 0) return;
  const uint64_t last_step = t_ - pass_start_ - p.cruise_ticks;
  const uint64_t period = p.phase_period;
  int64_t error = static_cast<int64_t>((last_step % period + period - p.phase % period) % period);
  if (error > static_cast<int64_t>(period / 2)) error -= static_cast<int64_t>(period);
  phase_error_ = error;
  phase_checked_ = true;
}

void Chip::store_line() {
  const uint64_t number = lines_taken_++;
  if (image_stall_) return;
  const uint32_t bytes = recipe_->line_bytes();
  if (bytes > buffer_.capacity()) return;  // a line that can never fit is lost
  const bool glitching = !glitches_.empty() && glitches_.size() == programme_.lines;
  recipe_->set_glitch(glitching ? static_cast<float>(glitches_[pass_lines_]) : 0.0f);
  // The film adapter's lamps reach the sensor under the film area; the infrared
  // one is lit by register 0x6C bit 7.
  const bool under_film = line_row_ >= kFilmAreaTopUnits;
  const bool infrared = under_film && (regs_[0x6C] & 0x80) != 0;
  recipe_->set_film_light(under_film ? film_lamp_.counts(t_) : 0.0f,
                          infrared ? film_lamp_.infrared_counts() : 0.0f);
  recipe_->build(*scene_, line_row_, number, line_scratch_.data());
  buffer_.push(line_scratch_.data(), bytes);
  ++lines_count_;
  ++pass_lines_;
  ++lines_total_;
  if (line_rows_.size() < (1u << 20)) line_rows_.push_back(line_row_);
}

void Chip::advance(uint64_t now) {
  if (now <= now_) return;
  const Programme& p = programme_;
  while (pass_active()) {
    if (phase_ == Phase::Accel || phase_ == Phase::Decel) {
      const std::vector<uint32_t>& ticks = phase_ == Phase::Accel ? p.accel_ticks : p.decel_ticks;
      bool homed = false;
      while (index_ < ticks.size() && t_ + ticks[index_] <= now) {
        t_ += ticks[index_];
        ++index_;
        if (!move(1)) {
          homed = true;
          break;
        }
      }
      if (homed) break;
      if (index_ < ticks.size()) break;
      enter(phase_ == Phase::Accel ? Phase::Feed : Phase::Done);
    } else if (phase_ == Phase::Feed) {
      const uint64_t k = std::min<uint64_t>(p.feed - index_, (now - t_) / p.cruise_ticks);
      t_ += k * p.cruise_ticks;
      index_ += static_cast<uint32_t>(k);
      if (!move(static_cast<double>(k))) break;
      if (index_ < p.feed) break;
      check_phase();
      enter(Phase::Lines);
    } else if (phase_ == Phase::Lines) {
      if (lines_finished_) {  // scan enable was cleared on the way here
        enter(p.motor ? Phase::Decel : Phase::Done);
        continue;
      }
      if (index_ >= p.lines) {
        finish_lines();
        enter(Phase::RunOut);
        continue;
      }
      if (paused_) break;
      if (!line_started_) {
        const uint32_t bytes = recipe_->line_bytes();
        if (!image_stall_ && bytes <= buffer_.capacity() && buffer_.free_space() < bytes) {
          paused_ = true;
          break;
        }
        line_started_ = true;
        line_row_ = static_cast<int>(std::floor(2.0 * position_ + 1e-6));
      }
      if (t_ + p.line_ticks > now) break;
      t_ += p.line_ticks;
      store_line();
      line_started_ = false;
      const uint32_t next = index_ + 1;
      if (!move(static_cast<double>(p.line_ticks) / static_cast<double>(p.cruise_ticks))) break;
      index_ = next;
    } else if (phase_ == Phase::RunOut) {
      const uint64_t duration = p.run_out_exposures * p.exposure_slot_ticks;
      if (t_ + duration > now) break;
      t_ += duration;
      if (!move(static_cast<double>(duration) / static_cast<double>(p.cruise_ticks))) break;
      enter(p.motor ? Phase::Decel : Phase::Done);
    } else {
      break;
    }
  }
  now_ = now;
}

double Chip::carriage_steps() const {
  // Between line boundaries the carriage is somewhere along its constant-speed run.
  if (!programme_.motor || paused_ || (phase_ != Phase::Lines && phase_ != Phase::RunOut) ||
      now_ <= t_)
    return position_;
  const double micro = static_cast<double>(now_ - t_) / static_cast<double>(programme_.cruise_ticks);
  const double steps = micro / static_cast<double>(1u << programme_.step_mode);
  return programme_.toward_home ? std::max(0.0, position_ - steps)
                                : std::min(kTravelSteps, position_ + steps);
}

}  // namespace qrx::emu
