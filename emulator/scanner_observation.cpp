// The scanner's test side: inspection, fault switches and the ground truth.
#include <cmath>

#include "emulator/chip.h"
#include "emulator/fault_plan.h"
#include "emulator/geometry.h"
#include "emulator/scanner.h"

namespace qrx::emu {

#define QRX_EMU_LOCKED std::lock_guard<std::mutex> lock(mutex_); advance()

uint8_t Scanner::peek_register(uint8_t reg) { QRX_EMU_LOCKED; return chip_->peek_register(reg); }
void Scanner::poke_register(uint8_t reg, uint8_t value) { QRX_EMU_LOCKED; chip_->poke_register(reg, value); }
bool Scanner::peek_memory(uint32_t address, uint8_t* data, uint32_t size) {
  QRX_EMU_LOCKED;
  return chip_->memory().read(address, data, size);
}
bool Scanner::poke_memory(uint32_t address, const uint8_t* data, uint32_t size) {
  QRX_EMU_LOCKED;
  return chip_->memory().write(address, data, size);
}
uint16_t Scanner::afe_register(uint8_t address) { QRX_EMU_LOCKED; return chip_->afe_register(address); }
uint8_t Scanner::setting(uint8_t number) { QRX_EMU_LOCKED; return chip_->setting(number); }
double Scanner::carriage_steps() { QRX_EMU_LOCKED; return chip_->carriage_steps(); }
void Scanner::set_carriage_steps(double steps) { QRX_EMU_LOCKED; chip_->set_position(steps); }
bool Scanner::motor_running() { QRX_EMU_LOCKED; return chip_->motor_running(); }
bool Scanner::pass_active() { QRX_EMU_LOCKED; return chip_->pass_active(); }
bool Scanner::carriage_paused() { QRX_EMU_LOCKED; return chip_->paused(); }
uint64_t Scanner::lines_produced() { QRX_EMU_LOCKED; return chip_->lines_produced(); }
uint32_t Scanner::pass_lines() { QRX_EMU_LOCKED; return chip_->pass_lines(); }
std::vector<int> Scanner::pass_line_rows() { QRX_EMU_LOCKED; return chip_->pass_line_rows(); }
std::optional<int64_t> Scanner::motor_phase_error() {
  QRX_EMU_LOCKED;
  int64_t ticks = 0;
  if (!chip_->phase_error(ticks)) return std::nullopt;
  return ticks;
}
uint32_t Scanner::buffered_bytes() { QRX_EMU_LOCKED; return chip_->buffered_bytes(); }
uint32_t Scanner::buffer_capacity() { QRX_EMU_LOCKED; return chip_->buffer_capacity(); }
void Scanner::power_cycle() { QRX_EMU_LOCKED; chip_->power_cycle(); }

void Scanner::fail_request(const RequestFilter& filter, uint32_t nth, uint32_t count) {
  QRX_EMU_LOCKED;
  faults_->add_failure(filter, nth, count);
}
void Scanner::omit_marker(uint32_t nth, int reg, uint32_t count) {
  QRX_EMU_LOCKED;
  faults_->add_missing_marker(reg, nth, count);
}
void Scanner::stall_image_data(bool on) { QRX_EMU_LOCKED; chip_->set_image_stall(on); }
void Scanner::jam_motor(bool on) { QRX_EMU_LOCKED; chip_->set_motor_jam(on); }
void Scanner::disconnect() { QRX_EMU_LOCKED; disconnected_ = true; }
void Scanner::disconnect_at(uint32_t nth) { QRX_EMU_LOCKED; disconnect_countdown_ = nth; }
void Scanner::stall_bulk_reads_from(uint32_t nth) {
  QRX_EMU_LOCKED;
  stall_countdown_ = nth;
  bulk_reads_stalled_ = false;
}
bool Scanner::unplugged() { QRX_EMU_LOCKED; return disconnected_; }
void Scanner::reconnect() {
  QRX_EMU_LOCKED;
  disconnected_ = false;
  disconnect_countdown_ = 0;
  chip_->power_cycle();
}
void Scanner::press_button(int button) {
  QRX_EMU_LOCKED;
  if (button >= 1 && button <= 4) chip_->set_buttons(static_cast<uint8_t>(chip_->buttons() | (1 << (button - 1))));
}
void Scanner::release_button(int button) {
  QRX_EMU_LOCKED;
  if (button >= 1 && button <= 4) chip_->set_buttons(static_cast<uint8_t>(chip_->buttons() & ~(1 << (button - 1))));
}
void Scanner::set_bulk_in_limit(uint32_t bytes) { QRX_EMU_LOCKED; bulk_in_limit_ = bytes; }
void Scanner::glitch_lines(std::vector<int32_t> counts) {
  QRX_EMU_LOCKED;
  chip_->set_glitches(std::move(counts));
}
void Scanner::clear_faults() {
  QRX_EMU_LOCKED;
  faults_->clear();
  chip_->set_image_stall(false);
  chip_->set_motor_jam(false);
  chip_->set_glitches({});
  bulk_in_limit_ = 0;
  stall_countdown_ = 0;
  bulk_reads_stalled_ = false;
}
uint64_t Scanner::request_count(RequestKind kind) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (kind != RequestKind::Any) return request_counts_[static_cast<size_t>(kind)];
  uint64_t total = 0;
  for (const uint64_t n : request_counts_) total += n;
  return total;
}

Reflectance Scanner::reflectance(double glass_x, double glass_y) {
  std::lock_guard<std::mutex> lock(mutex_);
  float rgb[3];
  chip_->scene().reflectance(glass_x, glass_y, rgb);
  return {rgb[0], rgb[1], rgb[2]};
}

Reflectance Scanner::document_reflectance(double x, double y) {
  return reflectance(x, 2.0 * kScanOriginSteps + y);
}

Reflectance Scanner::film_transmittance(double x, double y) {
  std::lock_guard<std::mutex> lock(mutex_);
  float rgb[3];
  chip_->scene().transmittance(x, 2.0 * kFilmOriginSteps + y, rgb);
  return {rgb[0], rgb[1], rgb[2]};
}

SceneLayout Scanner::layout() {
  std::lock_guard<std::mutex> lock(mutex_);
  return chip_->scene().layout();
}

double Scanner::step_out_steps() const { return kStepOutSteps; }
double Scanner::scan_origin_steps() const { return kScanOriginSteps; }
uint16_t Scanner::expected_home_offset() const { return static_cast<uint16_t>(kExpectedHomeOffset); }
int Scanner::lead_in_units() const { return kLeadInUnits[options_.board_variant != 0 ? 1 : 0]; }

#undef QRX_EMU_LOCKED

}  // namespace qrx::emu
