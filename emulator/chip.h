// The controller chip: register file with its live bits, memory, bulk transfer engine,
// line buffer, and the pass engine that moves the carriage and takes lines on the
// chip clock. Not thread-safe by itself: the Scanner serialises every call. Time only
// moves forward through advance().
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "emulator/chip_memory.h"
#include "emulator/film_lamp.h"
#include "emulator/geometry.h"
#include "emulator/image_buffer.h"
#include "emulator/line_recipe.h"
#include "emulator/programme.h"
#include "emulator/scene.h"
#include "emulator/sensor.h"

namespace qrx::emu {

struct Options;

class Chip {
 public:
  Chip(const Options& options, std::unique_ptr<Scene> scene);
  ~Chip();

  // Brings the model up to chip time now (ticks of 8/30 us); earlier times are ignored.
  void advance(uint64_t now_ticks);
  uint64_t now() const { return now_; }

  // Registers as the host sees them (reads may latch), and raw access for tests.
  uint8_t read_register(uint8_t reg);
  void write_register(uint8_t reg, uint8_t value);
  uint8_t peek_register(uint8_t reg) const;
  void poke_register(uint8_t reg, uint8_t value) { regs_[reg] = value; }
  uint8_t identification() const { return port_type_ == 1 ? 0x08 : 0x00; }
  void write_setting(uint8_t number, uint8_t value) { settings_[number] = value; }
  uint8_t setting(uint8_t number) const { return settings_[number]; }
  uint16_t afe_register(uint8_t address) const { return afe_[address & 0x3F]; }

  // Word access through the select (0x8B) and read (0x8A) requests.
  bool select_word(uint32_t address);
  bool read_selected_word(uint8_t out[4]) const;

  // Bulk transfers: the header (0x82) announces direction, address and count.
  bool bulk_header(uint16_t index, const uint8_t* header);
  bool bulk_in(uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t limit);
  bool bulk_out(const uint8_t* data, uint32_t length, uint32_t& transferred);

  ChipMemory& memory() { return memory_; }
  const Scene& scene() const { return *scene_; }

  // State for inspection.
  double carriage_steps() const;
  bool pass_active() const { return phase_ != Phase::Idle && phase_ != Phase::Done; }
  bool motor_running() const { return pass_active() || jammed_; }
  bool lines_finished() const { return lines_finished_; }
  uint64_t lines_produced() const { return lines_total_; }
  uint32_t pass_lines() const { return pass_lines_; }
  // How far the last pass's motor phase (regs 0x63..0x65) lay from the line clock's
  // phase at the start of its last feed micro-step, in ticks; false when the pass
  // had no phase to check (no motor, no feed, phase 0).
  bool phase_error(int64_t& ticks) const {
    ticks = phase_error_;
    return phase_checked_;
  }
  const std::vector<int>& pass_line_rows() const { return line_rows_; }
  uint32_t buffered_bytes() const { return buffer_.size(); }
  uint32_t buffer_capacity() const { return buffer_.capacity(); }
  bool paused() const { return paused_; }
  int board_variant() const { return board_variant_; }
  void set_position(double steps) {
    if (!pass_active()) position_ = steps < 0 ? 0 : (steps > kTravelSteps ? kTravelSteps : steps);
  }

  // Faults.
  void set_buttons(uint8_t pressed_mask) { buttons_ = pressed_mask; }
  uint8_t buttons() const { return buttons_; }
  void set_image_stall(bool on) { image_stall_ = on; }
  void set_motor_jam(bool on);
  // Line i of every pass of exactly counts.size() lines gets counts[i] added.
  void set_glitches(std::vector<int32_t> counts) { glitches_ = std::move(counts); }

  // Power removed and restored: registers to their reset values, no pass, empty buffer.
  void power_cycle();

 private:
  enum class Phase { Idle, Accel, Feed, Lines, RunOut, Decel, Done };

  void reset_registers();
  void chip_reset();
  void start_pass();
  void abort_pass();
  void finish_lines();
  void enter(Phase phase);
  // Moves the carriage by n micro-steps in the pass direction; false when the carriage
  // reached home while moving towards it (the pass then ends at once).
  bool move(double micro_steps);
  void store_line();
  void check_phase();
  void resume_if_room();

  int port_type_;
  int board_variant_;
  std::unique_ptr<Scene> scene_;
  Sensor sensor_;
  FilmLamp film_lamp_;
  ChipMemory memory_;
  ImageBuffer buffer_;
  std::array<uint8_t, 256> regs_{};
  std::array<uint8_t, 256> settings_{};
  std::array<uint16_t, 64> afe_{};
  uint64_t now_ = 0;
  uint64_t afe_busy_until_ = 0;
  uint32_t counter_latch_ = 0;
  uint32_t count_latch_ = 0;
  uint32_t lines_count_ = 0;  // regs 0x4B..0x4D: lines stored since the last reset request
  uint8_t buttons_ = 0;
  bool image_stall_ = false;
  bool jam_ = false;
  bool jammed_ = false;
  std::vector<int32_t> glitches_;

  // Bulk transfer announced by the last header.
  bool pending_ = false;
  bool pending_to_host_ = false;
  bool pending_image_ = false;
  uint32_t pending_address_ = 0;
  uint32_t pending_remaining_ = 0;
  bool word_selected_ = false;
  uint32_t word_address_ = 0;

  // The pass.
  Phase phase_ = Phase::Idle;
  Programme programme_;
  std::unique_ptr<LineRecipe> recipe_;
  std::vector<uint8_t> line_scratch_;
  uint64_t t_ = 0;        // start of the current micro-step, line or run-out
  uint64_t pass_start_ = 0;  // the start strobe
  bool phase_checked_ = false;
  int64_t phase_error_ = 0;
  uint32_t index_ = 0;    // micro-step or line index within the phase
  bool paused_ = false;   // line buffer full: carriage waits
  bool line_started_ = false;
  int line_row_ = 0;      // glass y of the line in progress
  uint64_t lines_taken_ = 0;  // every line exposed, stored or not (numbers the noise)
  bool lines_finished_ = true;
  double position_ = 0;   // carriage, full steps from home
  uint64_t lines_total_ = 0;
  uint32_t pass_lines_ = 0;
  std::vector<int> line_rows_;
};

}  // namespace qrx::emu
