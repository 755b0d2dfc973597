// The cross-process status block (see status_block.h).
#include "api/status_block.h"

#include <algorithm>
#include <cstring>

namespace qrx::api {
namespace {

struct FieldLayout {
  size_t offset;
  size_t width;
  size_t copy_offset;  // slot in the shared section
};

bool layout_of(int id, FieldLayout& layout) {
  switch (id) {
    case 1: layout = {2, 2, 4}; return true;
    case 2: layout = {0, 2, 8}; return true;
    case 3: layout = {4, 4, 12}; return true;
    case 4: layout = {8, 1, 1}; return true;
    case 5: layout = {9, 1, 0}; return true;
    default: return false;
  }
}

}  // namespace

StatusBlock::~StatusBlock() {
  // Close the block under the lock so that no other process opens it while the
  // last holder lets it go.
  lock();
  if (scan_claimed_ && block_) block_->clear_scan_holder();
  block_.reset();
  unlock();
  mutex_.reset();
}

std::string StatusBlock::lowered_path(const std::string& device_path) {
  std::string lowered;
  lowered.reserve(device_path.size());
  for (char c : device_path) {
    if (c == '\\') continue;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    lowered.push_back(c);
  }
  return lowered;
}

void StatusBlock::lock() {
  local_.lock();
  if (mutex_) mutex_->lock();
}

void StatusBlock::unlock() {
  if (mutex_) mutex_->unlock();
  local_.unlock();
}

uint32_t StatusBlock::open(const char* device_path) {
  lock();
  // One machine-wide lock serves every path: it is opened once and kept, since
  // another thread may be waiting for it or holding it right now.
  if (!mutex_) {
    mutex_ = platform::SystemMutex::open();
    if (mutex_) mutex_->lock();
  }
  if (device_path == nullptr) {
    unlock();
    return kNullPath;
  }
  const std::string lowered = lowered_path(device_path);
  if (block_ && lowered == block_path_) {
    unlock();
    return kBlockExisted;
  }

  platform::SharedBlock::OpenResult opened = platform::SharedBlock::open(lowered);
  if (opened.block && opened.created) {
    // Creation values, in field order, written before any other process can
    // open the block and see it half made.
    uint16_t zero16 = 0;
    uint32_t zero32 = 0;
    uint8_t scan_position = 3;
    uint8_t lamp_state = 1;
    copy_field_locked(*opened.block, 1, &zero16, 2, true);
    copy_field_locked(*opened.block, 2, &zero16, 2, true);
    copy_field_locked(*opened.block, 3, &zero32, 4, true);
    copy_field_locked(*opened.block, 4, &scan_position, 1, true);
    copy_field_locked(*opened.block, 5, &lamp_state, 1, true);
  }
  // The new block is open before the old one closes, so that a block both names
  // lead to is never dropped in between. A flag this process holds on the old
  // block must not outlive its handle there: other processes would wait for it.
  if (held_ticket_ != 0) end_hold_locked();
  if (scan_claimed_ && block_) block_->clear_scan_holder();
  scan_claimed_ = false;
  std::unique_ptr<platform::SharedBlock> old = std::move(block_);
  block_ = std::move(opened.block);
  block_path_ = block_ ? lowered : std::string();
  const uint32_t result = block_ || opened.os_error != 0 ? opened.os_error : 1;
  old.reset();
  unlock();
  return result;
}

bool StatusBlock::is_open() const {
  std::lock_guard<std::mutex> guard(local_);
  return block_ != nullptr;
}

std::string StatusBlock::block_name() const {
  std::lock_guard<std::mutex> guard(local_);
  return block_ ? block_->name() : std::string();
}

void StatusBlock::copy_field_locked(platform::SharedBlock& block, int id, void* buffer,
                                    size_t size, bool write) {
  FieldLayout layout{};
  if (buffer == nullptr || !layout_of(id, layout)) return;
  const size_t n = std::min(size, layout.width);
  bool ok = write ? block.write(layout.offset, buffer, n) : block.read(layout.offset, buffer, n);
  uint8_t* section = copies_ != nullptr ? copies_ : platform::shared_section();
  if (ok && section != nullptr) std::memcpy(section + layout.copy_offset, buffer, n);
}

uint32_t StatusBlock::access_field(int id, void* buffer, size_t size, bool write) {
  FieldLayout layout{};
  if (!layout_of(id, layout)) return kBadFieldId;
  lock();
  if (block_) copy_field_locked(*block_, id, buffer, size, write);
  unlock();
  return 0;
}

uint32_t StatusBlock::read_field(int id, void* destination, size_t size) {
  return access_field(id, destination, size, false);
}

uint32_t StatusBlock::write_field(int id, const void* source, size_t size) {
  if (id == static_cast<int>(StatusField::kBusy)) return kBadFieldId;
  return access_field(id, const_cast<void*>(source), size, true);
}

uint16_t StatusBlock::home_offset() {
  uint16_t value = 0;
  read_field(2, &value, sizeof value);
  return value;
}

uint16_t StatusBlock::home_offset_aux() {
  uint16_t value = 0;
  read_field(1, &value, sizeof value);
  return value;
}

uint32_t StatusBlock::busy() {
  uint32_t value = 0;
  read_field(3, &value, sizeof value);
  return value;
}

uint8_t StatusBlock::lamp_state() {
  uint8_t value = 0;
  read_field(5, &value, sizeof value);
  return value;
}

void StatusBlock::set_lamp_state(uint8_t value) { write_field(5, &value, sizeof value); }

StatusBlock::BusyTicket StatusBlock::try_take_busy() {
  lock();
  BusyTicket ticket = ++last_ticket_;
  if (block_) {
    uint32_t busy = 0;
    block_->read(4, &busy, sizeof busy);
    if (busy == 0 || block_->busy_owner_gone()) {
      uint32_t one = 1;
      copy_field_locked(*block_, 3, &one, sizeof one, true);
      block_->record_busy_owner();
      held_ticket_ = ticket;
    } else {
      ticket = 0;
    }
  }
  unlock();
  return ticket;
}

void StatusBlock::release_busy(BusyTicket ticket) {
  lock();
  if (ticket != 0 && ticket == held_ticket_) end_hold_locked();
  unlock();
}

StatusBlock::BusyTicket StatusBlock::current_hold() {
  std::lock_guard<std::mutex> lock(local_);
  return held_ticket_;
}

StatusBlock::ScanClaim StatusBlock::claim_scan() {
  using Holder = platform::SharedBlock::ScanHolder;
  lock();
  ScanClaim claim = ScanClaim::kClaimed;
  if (block_) {
    const Holder holder = block_->scan_holder();
    if (holder == Holder::kOtherProcess) {
      claim = ScanClaim::kRefused;
    } else {
      if (holder == Holder::kGone) claim = ScanClaim::kTakenOver;
      block_->record_scan_holder();
      scan_claimed_ = true;
    }
  }
  unlock();
  return claim;
}

void StatusBlock::release_scan() {
  lock();
  if (block_ && block_->scan_holder() == platform::SharedBlock::ScanHolder::kThisProcess) {
    block_->clear_scan_holder();
  }
  scan_claimed_ = false;
  unlock();
}

bool StatusBlock::scan_held_elsewhere() {
  lock();
  const bool elsewhere =
      block_ && block_->scan_holder() == platform::SharedBlock::ScanHolder::kOtherProcess;
  unlock();
  return elsewhere;
}

bool StatusBlock::forget_abandoned_scan() {
  lock();
  const bool abandoned =
      block_ && block_->scan_holder() == platform::SharedBlock::ScanHolder::kGone;
  if (abandoned) block_->clear_scan_holder();
  unlock();
  return abandoned;
}

uint8_t StatusBlock::warmed_film_light() {
  lock();
  const uint8_t light = block_ ? block_->warmed_light() : 0;
  unlock();
  return light;
}

void StatusBlock::set_warmed_film_light(uint8_t light) {
  lock();
  if (block_) block_->set_warmed_light(light);
  unlock();
}

void StatusBlock::end_hold_locked() {
  if (block_) {
    uint32_t zero = 0;
    copy_field_locked(*block_, 3, &zero, sizeof zero, true);
    block_->clear_busy_owner();
  }
  held_ticket_ = 0;
}

}  // namespace qrx::api
