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
//
// Any thread may call any member at any time: the objects behind the block are
// replaced, and looked at, only under a lock of this process taken before the
// machine-wide one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
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
  // Names one hold of the busy flag; 0 names none.
  using BusyTicket = uint64_t;

  // copies: a 16-byte area for the shared copies in place of the library's shared
  // section (null: the section, as the library's own block uses). Tests give one,
  // since the section is written by every process of the machine.
  explicit StatusBlock(uint8_t* copies = nullptr) : copies_(copies) {}
  ~StatusBlock();
  StatusBlock(const StatusBlock&) = delete;
  StatusBlock& operator=(const StatusBlock&) = delete;

  // Backslashes removed, A-Z lowered, every other byte as it is.
  static std::string lowered_path(const std::string& device_path);

  // Opens the system lock (once; it is kept) and the block of device_path.
  // Returns 0 when the block was created now (its creation values are then
  // written), 183 when it existed, 87 for a null path, or the OS error. The block
  // already open is kept when the path names it again, so that its values live on
  // even when this process is its only holder; a block of another path is opened
  // before the old one is closed. A hold of the old block's busy flag by this
  // process ends with it.
  uint32_t open(const char* device_path);
  bool is_open() const;
  // OS name of the open block (empty when none).
  std::string block_name() const;

  // Copy one field (at most its width) to or from the caller; 0, or 50 for an id
  // outside 1 to 5 (nothing copied). Busy (id 3) is only read here: it is taken
  // and given back through try_take_busy and release_busy alone, so a write of
  // id 3 is refused with 50 as well.
  uint32_t read_field(int id, void* destination, size_t size);
  uint32_t write_field(int id, const void* source, size_t size);

  // Typed conveniences.
  uint16_t home_offset();
  uint16_t home_offset_aux();
  uint32_t busy();
  uint8_t lamp_state();
  void set_lamp_state(uint8_t value);

  // Under the lock: when Busy is 0, or its recorded holder process has died,
  // sets it to 1 for this process and returns the ticket of this hold; 0 when
  // another caller holds it. A block that is not open never blocks anybody (a
  // ticket is returned, nothing is written).
  BusyTicket try_take_busy();
  // Gives the flag back: writes 0 to Busy only while `ticket` names the current
  // hold. A ticket whose hold has ended (released already, or its block replaced)
  // changes nothing, so nobody can release a flag another caller has taken since.
  void release_busy(BusyTicket ticket);
  // The ticket of this process's current hold of the open block's busy flag (taken
  // by any of its threads), 0 while it holds none: lets a test tell which hold a
  // device request of this process was made under.
  BusyTicket current_hold();

  // The scanner held by one process for its scan, from StartScanEx to StopScanEx,
  // so that no other process calibrates, starts or stops a scan under it. It is
  // recorded beside the block; a holder that died holds nothing.
  enum class ScanClaim { kClaimed, kTakenOver, kRefused };
  // Under the lock: kClaimed when nobody (or this process) held it, kTakenOver
  // when its holder had died (what that holder left running is this process's to
  // end), kRefused while another process holds it. A block that is not open
  // refuses nobody.
  ScanClaim claim_scan();
  // Ends this process's hold; another process's hold is left alone.
  void release_scan();
  // True while another live process holds the scanner for its scan.
  bool scan_held_elsewhere();
  // When the process that held the scanner for its scan has died: forgets it and
  // returns true (what it left running is the caller's to end).
  bool forget_abandoned_scan();

  // The film light whose warm-up some process completed (0: none), recorded beside
  // the block so that every process sees it, until a light is switched or the
  // controller is reset. A block that is not open records nothing and reads 0.
  uint8_t warmed_film_light();
  void set_warmed_film_light(uint8_t light);

 private:
  // Both locks: this process's, then the machine-wide one.
  void lock();
  void unlock();
  uint32_t access_field(int id, void* buffer, size_t size, bool write);
  // With the locks held: copies one field of block and stores its shared copy.
  void copy_field_locked(platform::SharedBlock& block, int id, void* buffer, size_t size,
                         bool write);
  // With the locks held: writes 0 to Busy of the open block and ends the hold.
  void end_hold_locked();

  uint8_t* const copies_;
  // Guards every member below; taken before the machine-wide lock.
  mutable std::mutex local_;
  std::unique_ptr<platform::SystemMutex> mutex_;
  std::unique_ptr<platform::SharedBlock> block_;
  std::string block_path_;      // lowered path of the open block
  BusyTicket last_ticket_ = 0;  // the most recent ticket handed out
  BusyTicket held_ticket_ = 0;  // this process's current hold of the open block's flag
  bool scan_claimed_ = false;   // this process holds the open block's scanner for a scan
};

}  // namespace qrx::api
