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
  if (block_) {
    lock();
    block_.reset();
    unlock();
  }
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
  if (mutex_) mutex_->lock();
}

void StatusBlock::unlock() {
  if (mutex_) mutex_->unlock();
}

uint32_t StatusBlock::open(const char* device_path) {
  // Release what an earlier open held before taking the new objects.
  if (block_) {
    lock();
    block_.reset();
    unlock();
  }
  mutex_ = platform::SystemMutex::open();
  if (device_path == nullptr) return kNullPath;

  lock();
  platform::SharedBlock::OpenResult opened =
      platform::SharedBlock::open(lowered_path(device_path));
  block_ = std::move(opened.block);
  if (block_ && opened.created) {
    // Creation values, in field order, written before any other process can
    // open the block and see it half made.
    uint16_t zero16 = 0;
    uint32_t zero32 = 0;
    uint8_t scan_position = 3;
    uint8_t lamp_state = 1;
    copy_field_locked(1, &zero16, 2, true);
    copy_field_locked(2, &zero16, 2, true);
    copy_field_locked(3, &zero32, 4, true);
    copy_field_locked(4, &scan_position, 1, true);
    copy_field_locked(5, &lamp_state, 1, true);
  }
  unlock();
  if (!block_) return opened.os_error != 0 ? opened.os_error : 1;
  return opened.os_error;
}

std::string StatusBlock::block_name() const { return block_ ? block_->name() : std::string(); }

void StatusBlock::copy_field_locked(int id, void* buffer, size_t size, bool write) {
  FieldLayout layout{};
  if (!block_ || buffer == nullptr || !layout_of(id, layout)) return;
  const size_t n = std::min(size, layout.width);
  bool ok = write ? block_->write(layout.offset, buffer, n) : block_->read(layout.offset, buffer, n);
  uint8_t* section = platform::shared_section();
  if (ok && section != nullptr) std::memcpy(section + layout.copy_offset, buffer, n);
}

uint32_t StatusBlock::access_field(int id, void* buffer, size_t size, bool write) {
  FieldLayout layout{};
  if (!layout_of(id, layout)) return kBadFieldId;
  lock();
  copy_field_locked(id, buffer, size, write);
  unlock();
  return 0;
}

uint32_t StatusBlock::read_field(int id, void* destination, size_t size) {
  return access_field(id, destination, size, false);
}

uint32_t StatusBlock::write_field(int id, const void* source, size_t size) {
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

bool StatusBlock::try_take_busy() {
  if (!block_) return true;
  lock();
  uint32_t busy = 0;
  block_->read(4, &busy, sizeof busy);
  bool taken = false;
  if (busy == 0 || block_->busy_owner_gone()) {
    uint32_t one = 1;
    copy_field_locked(3, &one, sizeof one, true);
    block_->record_busy_owner();
    taken = true;
  }
  unlock();
  return taken;
}

void StatusBlock::release_busy() {
  if (!block_) return;
  lock();
  uint32_t zero = 0;
  copy_field_locked(3, &zero, sizeof zero, true);
  block_->clear_busy_owner();
  unlock();
}

}  // namespace qrx::api
