// The status block's OS objects on POSIX.
//
// Every object is a small POSIX shared-memory file (under /dev/shm on Linux):
//  - "/qrx7730_MUTEX_MPATTR_" is the system-wide lock: flock() on it excludes other
//    processes, a process-local mutex excludes the other threads of this process,
//    and the kernel drops the flock of a process that dies.
//  - "/qrx7730.<encoded lowered path>_Scanner_Status_File_Mapping_SFS" holds one
//    device path's 12-byte block plus a record of the busy flag's holder. Every
//    process that has the block open keeps a shared flock on it; an opener that can
//    take the flock exclusively knows nobody else has it open, and creates the block
//    afresh. Opens run under the system-wide lock, so they cannot race.
//  - "/qrx7730_shared_section" carries the 16-byte shared copies with the same
//    lifetime rule.
// The objects are made readable and writable by everyone, as the status block is
// shared by every user of the machine.
#include "platform/shared_block.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/object_name.h"

namespace qrx::platform {
namespace {

constexpr const char kMutexName[] = "/qrx7730_MUTEX_MPATTR_";
constexpr const char kSectionName[] = "/qrx7730_shared_section";
constexpr const char kBlockPrefix[] = "/qrx7730.";
constexpr const char kBlockSuffix[] = "_Scanner_Status_File_Mapping_SFS";
// Room for the encoded path: NAME_MAX (255) less prefix, suffix and the leading '/'.
constexpr size_t kEncodedLimit = 200;

// Layout of a block file: the status block, the film light last warmed up, then
// who holds its busy flag, then who holds the scanner for a scan.
struct BlockFile {
  uint8_t block[SharedBlock::kSize];
  uint8_t warmed_light;
  uint8_t unused[3];
  int32_t owner_pid;
  uint32_t unused2;
  uint64_t owner_start_time;
  int32_t scan_pid;
  uint32_t unused3;
  uint64_t scan_start_time;
};

int open_shared_object(const char* name) {
  int fd = shm_open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  struct stat st{};
  if (fstat(fd, &st) == 0 && st.st_uid == geteuid()) {
    // Share with every user, whatever this process's umask.
    fchmod(fd, 0666);
  }
  return fd;
}

int flock_retry(int fd, int operation) {
  int result;
  do {
    result = flock(fd, operation);
  } while (result != 0 && errno == EINTR);
  return result;
}

// Takes the "holder" flock on an object and, when nobody else holds it, resets
// the object to size zero-filled bytes. Returns false when the object is unusable.
bool attach_object(int fd, size_t size, bool& created) {
  created = false;
  if (flock_retry(fd, LOCK_EX | LOCK_NB) == 0) {
    if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) return false;
    created = true;
  }
  if (flock_retry(fd, LOCK_SH) != 0) return false;
  struct stat st{};
  if (fstat(fd, &st) != 0) return false;
  if (static_cast<size_t>(st.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0) {
    return false;
  }
  return true;
}

// Start time of a process in clock ticks since boot (field 22 of /proc/PID/stat),
// which tells a reused process id from the original; 0 when unknown. state gets
// its state letter (field 3; 'Z' once it has died and waits for its parent).
uint64_t process_start_time(pid_t pid, char* state = nullptr) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  FILE* file = std::fopen(path, "re");
  if (file == nullptr) return 0;
  char buffer[1024];
  size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
  std::fclose(file);
  buffer[n] = '\0';
  // The command name (field 2) may hold spaces; count fields after its ')'.
  const char* p = std::strrchr(buffer, ')');
  if (p == nullptr) return 0;
  if (state != nullptr && p[1] == ' ') *state = p[2];
  int field = 2;
  while (*p != '\0' && field < 22) {
    if (*p == ' ') ++field;
    ++p;
  }
  return field == 22 ? std::strtoull(p, nullptr, 10) : 0;
}

// Whether the process recorded as (pid, start time) has ended; a record of
// nobody (pid 0) has not.
bool process_gone(int32_t recorded_pid, uint64_t recorded_start) {
  const pid_t pid = static_cast<pid_t>(recorded_pid);
  if (pid <= 0) return false;
  if (kill(pid, 0) != 0 && errno == ESRCH) return true;
  // A process that has died but whose parent has not yet waited for it still has
  // its id: it holds nothing either, however long its parent takes.
  char state = 0;
  const uint64_t now = process_start_time(pid, &state);
  if (state == 'Z' || state == 'X') return true;
  if (recorded_start == 0) return false;
  return now != 0 && now != recorded_start;  // the id now belongs to another process
}

class PosixSystemMutex final : public SystemMutex {
 public:
  explicit PosixSystemMutex(int fd) : fd_(fd) {}
  ~PosixSystemMutex() override { close(fd_); }
  void lock() override {
    local_.lock();
    flock_retry(fd_, LOCK_EX);  // a failed wait does not stop the access
  }
  void unlock() override {
    flock_retry(fd_, LOCK_UN);
    local_.unlock();
  }

 private:
  int fd_;
  std::mutex local_;
};

class PosixSharedBlock final : public SharedBlock {
 public:
  PosixSharedBlock(int fd, BlockFile* file, std::string name)
      : fd_(fd), file_(file), name_(std::move(name)) {}

  ~PosixSharedBlock() override {
    munmap(file_, sizeof(BlockFile));
    // The last holder removes the object, so that the next open starts afresh
    // and no stale files pile up. Closing runs under the system-wide lock.
    if (flock_retry(fd_, LOCK_EX | LOCK_NB) == 0) shm_unlink(name_.c_str());
    close(fd_);
  }

  bool read(size_t offset, void* destination, size_t size) override {
    if (offset > kSize || size > kSize - offset) return false;
    std::memcpy(destination, file_->block + offset, size);
    return true;
  }

  bool write(size_t offset, const void* source, size_t size) override {
    if (offset > kSize || size > kSize - offset) return false;
    std::memcpy(file_->block + offset, source, size);
    return true;
  }

  void record_busy_owner() override {
    pid_t self = getpid();
    file_->owner_pid = static_cast<int32_t>(self);
    file_->owner_start_time = process_start_time(self);
  }

  void clear_busy_owner() override {
    file_->owner_pid = 0;
    file_->owner_start_time = 0;
  }

  bool busy_owner_gone() override { return process_gone(file_->owner_pid, file_->owner_start_time); }

  ScanHolder scan_holder() override {
    if (file_->scan_pid <= 0) return ScanHolder::kNone;
    if (process_gone(file_->scan_pid, file_->scan_start_time)) return ScanHolder::kGone;
    return file_->scan_pid == static_cast<int32_t>(getpid()) ? ScanHolder::kThisProcess
                                                             : ScanHolder::kOtherProcess;
  }

  void record_scan_holder() override {
    const pid_t self = getpid();
    file_->scan_pid = static_cast<int32_t>(self);
    file_->scan_start_time = process_start_time(self);
  }

  void clear_scan_holder() override {
    file_->scan_pid = 0;
    file_->scan_start_time = 0;
  }

  uint8_t warmed_light() override { return file_->warmed_light; }
  void set_warmed_light(uint8_t light) override { file_->warmed_light = light; }

  std::string name() const override { return name_; }

 private:
  int fd_;
  BlockFile* file_;
  std::string name_;
};

}  // namespace

std::unique_ptr<SystemMutex> SystemMutex::open() {
  int fd = open_shared_object(kMutexName);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixSystemMutex>(fd);
}

std::string shared_block_name(const std::string& lowered_path) {
  return std::string(kBlockPrefix) + encode_for_object_name(lowered_path, kEncodedLimit) +
         kBlockSuffix;
}

SharedBlock::OpenResult SharedBlock::open(const std::string& lowered_path) {
  OpenResult result;
  std::string name = shared_block_name(lowered_path);
  int fd = open_shared_object(name.c_str());
  if (fd < 0) {
    result.os_error = static_cast<uint32_t>(errno);
    return result;
  }
  bool created = false;
  if (!attach_object(fd, sizeof(BlockFile), created)) {
    result.os_error = static_cast<uint32_t>(errno != 0 ? errno : EIO);
    close(fd);
    return result;
  }
  void* view = mmap(nullptr, sizeof(BlockFile), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    result.os_error = static_cast<uint32_t>(errno);
    close(fd);
    return result;
  }
  result.block =
      std::make_unique<PosixSharedBlock>(fd, static_cast<BlockFile*>(view), std::move(name));
  result.created = created;
  result.os_error = created ? 0 : 183;  // the Windows code for "already exists"
  return result;
}

uint8_t* shared_section() {
  static uint8_t* section = []() -> uint8_t* {
    int fd = open_shared_object(kSectionName);
    if (fd < 0) return nullptr;
    bool created = false;
    if (!attach_object(fd, 16, created)) {
      close(fd);
      return nullptr;
    }
    void* view = mmap(nullptr, 16, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    // The descriptor stays open (and its holder flock held) for the life of the
    // process; the mapping keeps the section.
    if (view == MAP_FAILED) {
      close(fd);
      return nullptr;
    }
    auto* bytes = static_cast<uint8_t*>(view);
    if (created) bytes[1] = 3;  // initial value of the film scan-position copy
    return bytes;
  }();
  return section;
}

}  // namespace qrx::platform
