// Operating-system objects behind the cross-process status block: one system-wide
// lock, one small named shared block per device path, and the library's 16-byte
// section shared by every process that has loaded it.
//
// Semantics on every platform:
//  - SystemMutex is a single lock for the whole machine. It excludes other
//    processes and other threads of this process alike, and a holder that dies
//    releases it.
//  - A SharedBlock lives as long as some process holds it open. The first open
//    after the last holder went away creates it afresh, zero-filled, and reports
//    `created` so the caller can write its creation values.
//  - The shared section starts with the library's initial values when no process
//    holds it, and is shared afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qrx::platform {

class SystemMutex {
 public:
  virtual ~SystemMutex() = default;
  // Opens (or creates) the machine-wide lock; nullptr when the OS refused.
  static std::unique_ptr<SystemMutex> open();
  // Waits without limit. A lock abandoned by a dead holder counts as acquired.
  virtual void lock() = 0;
  virtual void unlock() = 0;
};

class SharedBlock {
 public:
  static constexpr size_t kSize = 12;

  struct OpenResult {
    std::unique_ptr<SharedBlock> block;  // null when the open failed
    uint32_t os_error = 0;               // 0 created now, 183 existed, else the OS error
    bool created = false;
  };

  virtual ~SharedBlock() = default;
  // Opens the block named from the lowered device path (backslashes removed, A-Z
  // lowered). Call with the SystemMutex held, so that creation and first
  // initialisation cannot race with another process's open.
  static OpenResult open(const std::string& lowered_path);

  // Copy bytes of the block; call with the SystemMutex held.
  virtual bool read(size_t offset, void* destination, size_t size) = 0;
  virtual bool write(size_t offset, const void* source, size_t size) = 0;

  // Which process holds the busy flag, so that a holder that died can be detected.
  // Call with the SystemMutex held.
  virtual void record_busy_owner() = 0;
  virtual void clear_busy_owner() = 0;
  // True when a holder was recorded and that process no longer exists.
  virtual bool busy_owner_gone() = 0;

  // Which process holds the scanner for a scan of its own (from its start to its
  // stop), recorded beside the block like the busy flag's holder. A recorded
  // holder that no longer exists is kGone. Call with the SystemMutex held.
  enum class ScanHolder { kNone, kThisProcess, kOtherProcess, kGone };
  virtual ScanHolder scan_holder() = 0;
  virtual void record_scan_holder() = 0;
  virtual void clear_scan_holder() = 0;

  // The film light whose warm-up was completed (0: none), kept beside the block for
  // every process. A new block has none. Call with the SystemMutex held.
  virtual uint8_t warmed_light() = 0;
  virtual void set_warmed_light(uint8_t light) = 0;

  // The OS-level name of the block (tests check the naming rule).
  virtual std::string name() const = 0;
};

// Builds the OS name of the block for a lowered device path; empty when the path
// cannot be turned into a name on this platform (for example it is too long for
// the fixed-size name buffer of the Windows naming rule).
std::string shared_block_name(const std::string& lowered_path);

// The 16 bytes of the library's shared data section (see status block copies).
// Valid for the life of the process; nullptr when it could not be set up.
uint8_t* shared_section();

}  // namespace qrx::platform
