// The scanner's USB port: request decoding, fault injection and the request trace.
#include "emulator/scanner.h"

#include <algorithm>
#include <cstring>

#include "emulator/chip.h"
#include "emulator/fault_plan.h"
#include "emulator/geometry.h"
#include "qrx7730.h"

namespace qrx::emu {

std::unique_ptr<Scanner> Scanner::create(const Options& options, std::string& error,
                                         platform::Clock* clock) {
  if (options.port_type != 1 && options.port_type != 2) {
    error = "port type must be 1 or 2";
    return nullptr;
  }
  MarkShape mark;
  mark.kind = static_cast<int>(options.mark);
  mark.reflectance = static_cast<float>(options.mark_percent) / 100.0f;
  mark.step_units = static_cast<int>(options.mark_step_units);
  std::unique_ptr<Scene> scene =
      Scene::create(options.document, error, mark, options.film_document);
  if (!scene) return nullptr;
  return std::unique_ptr<Scanner>(new Scanner(options, std::move(scene), clock));
}

Scanner::Scanner(const Options& options, std::unique_ptr<Scene> scene, platform::Clock* clock)
    : options_(options),
      clock_(clock),
      chip_(std::make_unique<Chip>(options, std::move(scene))),
      faults_(std::make_unique<FaultPlan>()) {}

Scanner::~Scanner() = default;

void Scanner::advance() {
  platform::Clock& clock = clock_ != nullptr ? *clock_ : platform::clock();
  const uint64_t raw = clock.now_us();
  if (!clock_started_) {
    clock_started_ = true;
    last_raw_us_ = raw;
  }
  // Only forward movement counts, so that a clock swapped for another never runs the
  // model backwards.
  if (raw > last_raw_us_) model_us_ += raw - last_raw_us_;
  last_raw_us_ = raw;
  chip_->advance(model_us_ * kTicksPerUsNumerator / kTicksPerUsDenominator);
}

void Scanner::record(TraceEntry entry, const uint8_t* data, uint32_t size) {
  if (trace_capacity_ == 0 && !trace_sink_) return;
  entry.time_us = last_raw_us_;
  entry.connection = connection_;
  if (data != nullptr) {
    entry.data_size = static_cast<uint8_t>(std::min<uint32_t>(size, 8));
    std::memcpy(entry.data.data(), data, entry.data_size);
  }
  if (trace_sink_) trace_sink_(entry);
  if (trace_capacity_ == 0) return;
  if (trace_.size() >= trace_capacity_) trace_.pop_front();
  trace_.push_back(entry);
}

bool Scanner::refused(RequestKind kind, uint8_t request, int reg) {
  ++request_counts_[static_cast<size_t>(kind)];
  if (disconnect_countdown_ > 0 && --disconnect_countdown_ == 0) disconnected_ = true;
  return disconnected_ || faults_->take_failure(kind, request, reg);
}

bool Scanner::serve_control_in(uint8_t request, uint16_t index, uint8_t* data, uint32_t length,
                               int reg) {
  if (request == kRequestRegisterRead) {
    if (index == 0 && length == 1) {
      data[0] = chip_->identification();
      return true;
    }
    if ((index & 0xFF) != 0x22 || length != 2) return false;
    data[0] = chip_->read_register(static_cast<uint8_t>(reg));
    data[1] = faults_->take_missing_marker(reg) ? 0x00 : 0x55;
    return true;
  }
  if (request == kRequestWordRead) {
    if (index != 5 || length != 4) return false;
    return chip_->read_selected_word(data);
  }
  return false;
}

bool Scanner::control_in(uint8_t request, uint16_t index, uint8_t* data, uint32_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  const int reg = (request == kRequestRegisterRead && index != 0) ? index >> 8 : -1;
  TraceEntry entry;
  entry.kind = RequestKind::ControlIn;
  entry.request = request;
  entry.index = index;
  entry.reg = reg;
  entry.length = length;
  bool ok = false;
  if (!refused(RequestKind::ControlIn, request, reg) && (data != nullptr || length == 0)) {
    ok = serve_control_in(request, index, data, length, reg);
  }
  entry.ok = ok;
  entry.transferred = ok ? length : 0;
  record(entry, ok ? data : nullptr, length);
  return ok;
}

bool Scanner::serve_control_out(uint8_t request, uint16_t index, const uint8_t* data,
                                uint32_t length) {
  switch (request) {
    case kRequestRegisterWrite:
      if (index != 0 || length != 2) return false;
      chip_->write_register(data[0], data[1]);
      return true;
    case kRequestBulkHeader:
      if (length != 8) return false;
      return chip_->bulk_header(index, data);
    case kRequestSetting:
      if (length != 1 || index > 0xFF) return false;
      chip_->write_setting(static_cast<uint8_t>(index), data[0]);
      return true;
    case kRequestWordSelect:
      if (index != 6 || length != 4) return false;
      return chip_->select_word(data[0] | (data[1] << 8) | (data[2] << 16) | (uint32_t{data[3]} << 24));
    default:
      return false;
  }
}

bool Scanner::control_out(uint8_t request, uint16_t index, const uint8_t* data, uint32_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  const int reg = (request == kRequestRegisterWrite && data != nullptr && length >= 1) ? data[0] : -1;
  TraceEntry entry;
  entry.kind = RequestKind::ControlOut;
  entry.request = request;
  entry.index = index;
  entry.reg = reg;
  entry.length = length;
  bool ok = false;
  if (!refused(RequestKind::ControlOut, request, reg) && (data != nullptr || length == 0)) {
    ok = serve_control_out(request, index, data, length);
  }
  entry.ok = ok;
  entry.transferred = ok ? length : 0;
  record(entry, data, length);
  return ok;
}

bool Scanner::descriptor(uint16_t& vendor_id, uint16_t& product_id, uint16_t& release) {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  TraceEntry entry;
  entry.kind = RequestKind::Descriptor;
  const bool ok = !refused(RequestKind::Descriptor, 0, -1);
  if (ok) {
    vendor_id = QRX7730_USB_VENDOR_ID;
    product_id = QRX7730_USB_PRODUCT_ID;
    release = kDeviceRelease;
  }
  entry.ok = ok;
  record(entry, nullptr, 0);
  return ok;
}

bool Scanner::bulk_in(uint8_t* data, uint32_t length, uint32_t& transferred) {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  transferred = 0;
  TraceEntry entry;
  entry.kind = RequestKind::BulkIn;
  entry.length = length;
  bool ok = false;
  if (!refused(RequestKind::BulkIn, 0, -1)) {
    if (stall_countdown_ > 0 && --stall_countdown_ == 0) bulk_reads_stalled_ = true;
    ok = bulk_reads_stalled_ || chip_->bulk_in(data, length, transferred, bulk_in_limit_);
  }
  entry.ok = ok;
  entry.transferred = transferred;
  record(entry, ok ? data : nullptr, transferred);
  return ok;
}

bool Scanner::bulk_out(const uint8_t* data, uint32_t length, uint32_t& transferred) {
  std::lock_guard<std::mutex> lock(mutex_);
  advance();
  transferred = 0;
  TraceEntry entry;
  entry.kind = RequestKind::BulkOut;
  entry.length = length;
  bool ok = false;
  if (!refused(RequestKind::BulkOut, 0, -1)) ok = chip_->bulk_out(data, length, transferred);
  entry.ok = ok;
  entry.transferred = transferred;
  record(entry, data, length);
  return ok;
}

std::vector<TraceEntry> Scanner::trace() {
  std::lock_guard<std::mutex> lock(mutex_);
  return {trace_.begin(), trace_.end()};
}

std::vector<TraceEntry> Scanner::trace(const RequestFilter& filter) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<TraceEntry> out;
  for (const TraceEntry& e : trace_)
    if (filter.matches(e.kind, e.request, e.reg)) out.push_back(e);
  return out;
}

void Scanner::clear_trace() {
  std::lock_guard<std::mutex> lock(mutex_);
  trace_.clear();
}

void Scanner::set_trace_capacity(size_t entries) {
  std::lock_guard<std::mutex> lock(mutex_);
  trace_capacity_ = entries;
  while (trace_.size() > trace_capacity_) trace_.pop_front();
}

void Scanner::set_connection(uint32_t connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  connection_ = connection;
}

void Scanner::set_trace_sink(std::function<void(const TraceEntry&)> sink) {
  std::lock_guard<std::mutex> lock(mutex_);
  trace_sink_ = std::move(sink);
}

}  // namespace qrx::emu
