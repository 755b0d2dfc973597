// The cross-process status block: one 12-byte shared block per device path with
// the fields every process driving the scanner must agree on, and one machine-wide
// lock that makes each field access atomic.
//
//   id  offset  width  field            value when created
//    2     0     16    HomeOffset        0
//    1     2     16    HomeOffsetAux     0
//    3     4     32    Busy              0
//    4     8      8    FAUScanPosition   3
//    5     9      8    LampState         1
//
// Every access also stores the value it read or wrote in the field's slot of the
// library's 16-byte shared section (lamp state at 0, scan position at 1, aux at 4,
// home offset at 8, busy at 12). Before a block is open, reads leave the
// destination unchanged and writes do nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/shared_block.h"

namespace qrx::api {

enum class StatusField : int {
  kHomeOffsetAux = 1,
  kHomeOffset = 2,
  kBusy = 3,
  kFauScanPosition = 4,
  kLampState = 5,
};

// Result codes of the block operations (the platform's error numbering).
inline constexpr uint32_t kBlockCreated = 0;
inline constexpr uint32_t kBlockExisted = 183;
inline constexpr uint32_t kBadFieldId = 50;
inline constexpr uint32_t kNullPath = 87;

class StatusBlock {
 public:
  StatusBlock() = default;
  ~StatusBlock();
  StatusBlock(const StatusBlock&) = delete;
  StatusBlock& operator=(const StatusBlock&) = delete;

  // Backslashes removed, A-Z lowered, every other byte as it is.
  static std::string lowered_path(const std::string& device_path);

  // Opens the system lock and the block of device_path, replacing any earlier
  // ones. Returns 0 when the block was created now (its creation values are then
  // written), 183 when it existed, 87 for a null path, or the OS error.
  uint32_t open(const char* device_path);
  bool is_open() const { return block_ != nullptr; }
  // OS name of the open block (empty when none).
  std::string block_name() const;

  // Copy one field (at most its width) to or from the caller; 0, or 50 for an id
  // outside 1 to 5 (nothing copied).
  uint32_t read_field(int id, void* destination, size_t size);
  uint32_t write_field(int id, const void* source, size_t size);

  // Typed conveniences.
  uint16_t home_offset();
  uint16_t home_offset_aux();
  uint32_t busy();
  uint8_t lamp_state();
  void set_lamp_state(uint8_t value);

  // Under the lock: when Busy is 0, or its recorded holder process has died,
  // sets it to 1 for this process and succeeds. A block that is not open never
  // blocks anybody.
  bool try_take_busy();
  // Writes 0 to Busy.
  void release_busy();

 private:
  void lock();
  void unlock();
  uint32_t access_field(int id, void* buffer, size_t size, bool write);
  // With the lock held: copies one field and stores its shared copy.
  void copy_field_locked(int id, void* buffer, size_t size, bool write);

  std::unique_ptr<platform::SystemMutex> mutex_;
  std::unique_ptr<platform::SharedBlock> block_;
};

}  // namespace qrx::api
