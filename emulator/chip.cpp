// The controller chip's registers, word access and bulk transfer engine.
#include "emulator/chip.h"

#include <algorithm>

#include "emulator/geometry.h"
#include "emulator/options.h"

namespace qrx::emu {
namespace {

constexpr uint64_t kAfeBusyTicks = 375;  // 100 us for one serial AFE write
// Front-panel button n (1..4) pulls this bit of reg 0x6D low.
constexpr uint8_t kButtonBit[5] = {0, 3, 0, 2, 1};

}  // namespace

Chip::Chip(const Options& options, std::unique_ptr<Scene> scene)
    : port_type_(options.port_type == 2 ? 2 : 1),
      board_variant_(options.board_variant != 0 ? 1 : 0),
      scene_(std::move(scene)),
      sensor_(options.seed, options.sensor_nonuniformity, options.sensor_noise,
              static_cast<float>(options.lamp_percent) / 100.0f, options.falloff_percent / 100.0,
              static_cast<float>(options.dark_level)),
      film_lamp_(options.film_light),
      buffer_(std::max<uint32_t>(4096, options.buffer_bytes) & ~3u) {
  memory_.set_stuck_bit(options.ram_stuck_bit);
  reset_registers();
}

Chip::~Chip() = default;

void Chip::reset_registers() {
  regs_.fill(0);
  afe_.fill(0);
  counter_latch_ = count_latch_ = 0;
  word_selected_ = false;
  pending_ = false;
}

void Chip::power_cycle() {
  chip_reset();
  settings_.fill(0);
  jam_ = false;
}

void Chip::chip_reset() {
  // A reset stops everything at once: no deceleration, buffer and counts cleared.
  reset_registers();
  film_lamp_.set_lit(false, now_);
  if (pass_active()) phase_ = Phase::Done;
  jammed_ = false;
  paused_ = false;
  lines_finished_ = true;
  buffer_.clear();
  lines_count_ = 0;
}

void Chip::set_motor_jam(bool on) {
  jam_ = on;
  if (!on) jammed_ = false;
}

uint8_t Chip::peek_register(uint8_t reg) const {
  switch (reg) {
    case 0x41: {
      uint8_t status = 0;
      if (motor_running()) status |= 0x01;
      if (now_ < afe_busy_until_) status |= 0x02;
      if ((regs_[0x03] & 0x10) != 0 || (regs_[0x6C] & 0x80) != 0) status |= 0x04;
      if (position_ <= 0.0) status |= 0x08;
      if (lines_finished_) status |= 0x40;
      return status;
    }
    case 0x42: case 0x43: case 0x44: case 0x45:
      return static_cast<uint8_t>(counter_latch_ >> (8 * (0x45 - reg)));
    case 0x4B: case 0x4C: case 0x4D:
      return static_cast<uint8_t>(count_latch_ >> (8 * (0x4D - reg)));
    case 0x6D: {
      // Bits 0..5 are inputs with pull-ups (buttons on 0..3), bits 6..7 outputs.
      uint8_t value = static_cast<uint8_t>((regs_[0x6D] & 0xC0) | 0x3F);
      for (int b = 1; b <= 4; ++b)
        if (buttons_ & (1 << (b - 1))) value = static_cast<uint8_t>(value & ~(1 << kButtonBit[b]));
      return value;
    }
    case 0xA6:
      return static_cast<uint8_t>((regs_[0xA6] & ~0x10) | (board_variant_ << 4));
    default:
      return regs_[reg];
  }
}

uint8_t Chip::read_register(uint8_t reg) {
  // Reading the first byte of a multi-byte counter latches the whole value, so that
  // the following bytes belong to the same count.
  if (reg == 0x42) counter_latch_ = buffer_.unread_words();
  if (reg == 0x4B) count_latch_ = std::min<uint32_t>(lines_count_, 0xFFFFFF);
  return peek_register(reg);
}

void Chip::write_register(uint8_t reg, uint8_t value) {
  switch (reg) {
    case 0x41: case 0x42: case 0x43: case 0x44: case 0x45: case 0x4B: case 0x4C: case 0x4D:
      return;  // read-only status and counters
    case 0x01: {
      const bool was_enabled = (regs_[0x01] & 1) != 0;
      regs_[0x01] = value;
      if (was_enabled && (value & 1) == 0 && pass_active()) abort_pass();
      return;
    }
    case 0x03:
      // Both light-select bits set light the film lamp.
      regs_[0x03] = value;
      film_lamp_.set_lit(((value >> 4) & 3) == 3, now_);
      return;
    case 0x0D:
      if (value & 1) {
        // Reset request: line count to zero and the line buffer emptied.
        lines_count_ = 0;
        buffer_.clear();
        resume_if_room();
      }
      regs_[0x0D] = static_cast<uint8_t>(value & ~1);
      return;
    case 0x0E:
      if (value & 1) chip_reset();
      regs_[0x0E] = value;
      return;
    case 0x0F:
      if (value != 0 && (regs_[0x01] & 1) != 0 && !motor_running()) start_pass();
      regs_[0x0F] = 0;
      return;
    case 0x3B:
      regs_[0x3B] = value;
      afe_[regs_[0x51] & 0x3F] = static_cast<uint16_t>(((regs_[0x3A] << 8) | value) & 0x1FF);
      afe_busy_until_ = now_ + kAfeBusyTicks;
      return;
    default:
      regs_[reg] = value;
  }
}

bool Chip::select_word(uint32_t address) {
  if (!memory_.mapped(address, 2)) return false;
  word_selected_ = true;
  word_address_ = address;
  return true;
}

bool Chip::read_selected_word(uint8_t out[4]) const {
  if (!word_selected_) return false;
  const uint16_t w = memory_.word(word_address_);
  out[0] = static_cast<uint8_t>(w);
  out[1] = static_cast<uint8_t>(w >> 8);
  out[2] = out[3] = 0;
  return true;
}

bool Chip::bulk_header(uint16_t index, const uint8_t* h) {
  if (index > 1) return false;
  const uint32_t address = h[0] | (h[1] << 8) | (h[2] << 16) | (uint32_t{h[3]} << 24);
  const uint32_t count = h[4] | (h[5] << 8) | (h[6] << 16) | (uint32_t{h[7]} << 24);
  const bool to_host = index == 0;
  // At 0x10000000 a read takes image data while a pass runs or the line buffer holds
  // any; otherwise it reads the RAM like any other address.
  const bool image = to_host && address == kImageReadAddress && (pass_active() || buffer_.size() > 0);
  if (!image && !memory_.mapped(address, count)) {
    pending_ = false;
    return false;
  }
  pending_ = true;
  pending_to_host_ = to_host;
  pending_image_ = image;
  pending_address_ = address;
  pending_remaining_ = count;
  return true;
}

bool Chip::bulk_in(uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t limit) {
  transferred = 0;
  if (!pending_ || !pending_to_host_ || (data == nullptr && length != 0)) return false;
  uint32_t n = std::min(length, pending_remaining_);
  if (limit != 0) n = std::min(n, limit);
  if (pending_image_) {
    n = buffer_.pop(data, n);
    resume_if_room();
  } else if (!memory_.read(pending_address_, data, n)) {
    return false;
  }
  pending_address_ += n;
  pending_remaining_ -= n;
  transferred = n;
  if (pending_remaining_ == 0) pending_ = false;
  return true;
}

bool Chip::bulk_out(const uint8_t* data, uint32_t length, uint32_t& transferred) {
  transferred = 0;
  if (!pending_ || pending_to_host_ || (data == nullptr && length != 0)) return false;
  const uint32_t n = std::min(length, pending_remaining_);
  if (!memory_.write(pending_address_, data, n)) return false;
  // The line buffer lives in the same RAM: writing the RAM outside a pass discards
  // whatever line data an earlier pass left behind.
  if (n > 0 && ChipMemory::in_ram(pending_address_) && !pass_active()) buffer_.clear();
  pending_address_ += n;
  pending_remaining_ -= n;
  transferred = n;
  if (pending_remaining_ == 0) pending_ = false;
  return true;
}

}  // namespace qrx::emu
