// The status block's OS objects on Windows.
//
//  - The system-wide lock is the named mutex "Global\_MUTEX_MPATTR_" ("_MUTEX_MPATTR_"
//    on the Windows 9x family); a mutex whose holder died is handed over abandoned,
//    which counts as acquired.
//  - Each device path's block is a 12-byte mapping of the paging file named
//    "Global\" + lowered path + "_Scanner_Status_File_Mapping_SFS", built in a
//    64-byte buffer. Windows removes it when the last handle is closed; the next
//    creation reports itself (GetLastError() 0 rather than 183).
//  - Both are created with a null DACL, so that every user and service of the
//    machine shares them, under ImpersonateSelf and with RevertToSelf after the
//    create call; an impersonation the calling thread had before is restored.
//  - Who holds the busy flag lives beside the block, in a mapping of our own named
//    after it with "_Owner" appended: the holder's process id and creation time;
//    so do the holder of the scanner's scan and the film light last warmed up.
//    The 12-byte block itself keeps exactly its layout for every other process.
//  - The 16-byte shared copies are a variable in the DLL's ".shared" section,
//    which the linker marks shared (IMAGE_SCN_MEM_SHARED), so every process that
//    loads QRX7730L.DLL sees the same bytes.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/shared_block.h"

namespace qrx::platform {
namespace {

constexpr const char kMutexName[] = "_MUTEX_MPATTR_";
constexpr const char kGlobalPrefix[] = "Global\\";
constexpr const char kBlockSuffix[] = "_Scanner_Status_File_Mapping_SFS";
constexpr const char kOwnerSuffix[] = "_Owner";
// The block's name, terminator included, must fit this buffer.
constexpr size_t kNameBufferSize = 64;

static_assert(sizeof(OSVERSIONINFOA) == 148, "GetVersionExA takes the 148-byte structure");

// A holding process, in the "_Owner" mapping beside the block.
struct OwnerRecord {
  uint32_t process_id;  // 0: nobody recorded
  uint32_t reserved;
  uint64_t creation_time;  // FILETIME of the holder's creation; tells a reused id apart
};
// The mapping: the holder of the busy flag, then the holder of the scanner's scan,
// then the film light whose warm-up was completed (0 none).
struct OwnerRecords {
  OwnerRecord busy;
  OwnerRecord scan;
  uint32_t warmed_light;
  uint32_t reserved;
};

// True (with nine_x set) when the platform could be asked.
bool query_platform(bool& nine_x) {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return false;
  nine_x = info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;  // platform id 1
  return true;
}

// Security attributes that give everybody access (a null DACL), prepared under
// ImpersonateSelf. Destroy it right after the create call: it then calls
// RevertToSelf and gives the thread back any impersonation it had before.
class OpenSecurity {
 public:
  OpenSecurity() {
    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_IMPERSONATE, TRUE, &token)) previous_ = token;
    if (ImpersonateSelf(SecurityImpersonation) &&
        InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&descriptor_, TRUE, nullptr, FALSE)) {
      attributes_.nLength = sizeof attributes_;
      attributes_.lpSecurityDescriptor = &descriptor_;
      attributes_.bInheritHandle = TRUE;
      valid_ = true;
    }
  }
  ~OpenSecurity() {
    const DWORD error = GetLastError();
    RevertToSelf();
    if (previous_ != nullptr) {
      SetThreadToken(nullptr, previous_);
      CloseHandle(previous_);
    }
    SetLastError(error);
  }
  OpenSecurity(const OpenSecurity&) = delete;
  OpenSecurity& operator=(const OpenSecurity&) = delete;

  // The attributes, or null (the system default) when they could not be made.
  SECURITY_ATTRIBUTES* attributes() { return valid_ ? &attributes_ : nullptr; }

 private:
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  HANDLE previous_ = nullptr;
  bool valid_ = false;
};

// Creates or opens a named mapping of the paging file. error receives
// GetLastError() of the create call: 0 when created now, 183 when it existed.
HANDLE create_mapping(const char* name, DWORD size, bool nine_x, DWORD& error) {
  HANDLE mapping = nullptr;
  if (nine_x) {
    SetLastError(0);
    mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
    error = GetLastError();
  } else {
    OpenSecurity security;
    SetLastError(0);
    mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, security.attributes(), PAGE_READWRITE, 0,
                                 size, name);
    error = GetLastError();
  }
  if (mapping == nullptr && error == 0) error = ERROR_GEN_FAILURE;
  return mapping;
}

uint64_t process_creation_time(HANDLE process) {
  FILETIME creation{}, exit{}, kernel{}, user{};
  if (!GetProcessTimes(process, &creation, &exit, &kernel, &user)) return 0;
  return (static_cast<uint64_t>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
}

// True when the process recorded as (id, creation time) no longer runs: the id
// is unknown, the process has exited (someone still holds a handle to it), or
// the id now belongs to a process created at another time.
bool process_gone(uint32_t process_id, uint64_t creation_time) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, process_id);
  if (process == nullptr) {
    if (GetLastError() == ERROR_INVALID_PARAMETER) return true;  // no such process
    process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
    // It exists but may not be asked (another user's): take it as running.
    if (process == nullptr) return false;
  }
  bool gone = false;
  const DWORD wait = WaitForSingleObject(process, 0);
  if (wait == WAIT_OBJECT_0) {
    gone = true;
  } else if (wait == WAIT_FAILED) {
    DWORD code = 0;
    gone = GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
  }
  if (!gone && creation_time != 0) {
    const uint64_t now = process_creation_time(process);
    gone = now != 0 && now != creation_time;
  }
  CloseHandle(process);
  return gone;
}

// Records the calling process as a holder.
void record_this_process(OwnerRecord& where) {
  OwnerRecord record{};
  record.process_id = GetCurrentProcessId();
  record.creation_time = process_creation_time(GetCurrentProcess());
  std::memcpy(&where, &record, sizeof record);
}

std::string block_name_for(const std::string& lowered_path, bool nine_x) {
  // An embedded terminator would silently name another block.
  if (lowered_path.find('\0') != std::string::npos) return {};
  char name[kNameBufferSize];
  const int length = std::snprintf(name, sizeof name, "%s%s%s", nine_x ? "" : kGlobalPrefix,
                                   lowered_path.c_str(), kBlockSuffix);
  if (length < 0 || static_cast<size_t>(length) >= sizeof name) return {};
  return std::string(name, static_cast<size_t>(length));
}

class Win32SystemMutex final : public SystemMutex {
 public:
  explicit Win32SystemMutex(HANDLE handle) : handle_(handle) {}
  ~Win32SystemMutex() override { CloseHandle(handle_); }
  Win32SystemMutex(const Win32SystemMutex&) = delete;
  Win32SystemMutex& operator=(const Win32SystemMutex&) = delete;

  // WAIT_ABANDONED (the holder died) counts as acquired; a failed wait does not
  // stop the access either.
  void lock() override { WaitForSingleObject(handle_, INFINITE); }
  void unlock() override { ReleaseMutex(handle_); }

 private:
  HANDLE handle_;
};

class Win32SharedBlock final : public SharedBlock {
 public:
  Win32SharedBlock(HANDLE mapping, HANDLE owner_mapping, OwnerRecords* owner, std::string name)
      : mapping_(mapping), owner_mapping_(owner_mapping), owner_(owner), name_(std::move(name)) {}

  ~Win32SharedBlock() override {
    if (owner_ != nullptr) UnmapViewOfFile(owner_);
    if (owner_mapping_ != nullptr) CloseHandle(owner_mapping_);
    CloseHandle(mapping_);
  }
  Win32SharedBlock(const Win32SharedBlock&) = delete;
  Win32SharedBlock& operator=(const Win32SharedBlock&) = delete;

  // Each access maps its own view of the block and unmaps it again.
  bool read(size_t offset, void* destination, size_t size) override {
    if (offset > kSize || size > kSize - offset || (size > 0 && destination == nullptr)) {
      return false;
    }
    void* view = MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, kSize);
    if (view == nullptr) return false;
    std::memcpy(destination, static_cast<const uint8_t*>(view) + offset, size);
    UnmapViewOfFile(view);
    return true;
  }

  bool write(size_t offset, const void* source, size_t size) override {
    if (offset > kSize || size > kSize - offset || (size > 0 && source == nullptr)) return false;
    void* view = MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, kSize);
    if (view == nullptr) return false;
    std::memcpy(static_cast<uint8_t*>(view) + offset, source, size);
    UnmapViewOfFile(view);
    return true;
  }

  void record_busy_owner() override {
    if (owner_ != nullptr) record_this_process(owner_->busy);
  }

  void clear_busy_owner() override {
    if (owner_ != nullptr) std::memset(&owner_->busy, 0, sizeof owner_->busy);
  }

  bool busy_owner_gone() override {
    if (owner_ == nullptr) return false;
    OwnerRecord record{};
    std::memcpy(&record, &owner_->busy, sizeof record);
    if (record.process_id == 0) return false;
    return process_gone(record.process_id, record.creation_time);
  }

  ScanHolder scan_holder() override {
    if (owner_ == nullptr) return ScanHolder::kNone;
    OwnerRecord record{};
    std::memcpy(&record, &owner_->scan, sizeof record);
    if (record.process_id == 0) return ScanHolder::kNone;
    if (process_gone(record.process_id, record.creation_time)) return ScanHolder::kGone;
    return record.process_id == GetCurrentProcessId() ? ScanHolder::kThisProcess
                                                      : ScanHolder::kOtherProcess;
  }

  void record_scan_holder() override {
    if (owner_ != nullptr) record_this_process(owner_->scan);
  }

  void clear_scan_holder() override {
    if (owner_ != nullptr) std::memset(&owner_->scan, 0, sizeof owner_->scan);
  }

  uint8_t warmed_light() override {
    return owner_ != nullptr ? static_cast<uint8_t>(owner_->warmed_light) : 0;
  }
  void set_warmed_light(uint8_t light) override {
    if (owner_ != nullptr) owner_->warmed_light = light;
  }

  std::string name() const override {
    try {
      return name_;
    } catch (...) {
      return {};
    }
  }

 private:
  HANDLE mapping_;
  HANDLE owner_mapping_;  // null when the owner record could not be made
  OwnerRecords* owner_;   // mapped for the life of the object; may be null
  std::string name_;
};

// Opens the owner record beside the block named block_name. A missing record
// only disables the detection of a dead holder.
void open_owner_record(const std::string& block_name, bool nine_x, bool block_created,
                       HANDLE& mapping, OwnerRecords*& record) noexcept {
  mapping = nullptr;
  record = nullptr;
  std::string name;
  try {
    name = block_name + kOwnerSuffix;
  } catch (...) {
    return;
  }
  DWORD error = 0;
  mapping = create_mapping(name.c_str(), sizeof(OwnerRecords), nine_x, error);
  if (mapping == nullptr) return;
  record = static_cast<OwnerRecords*>(
      MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(OwnerRecords)));
  if (record == nullptr) {
    CloseHandle(mapping);
    mapping = nullptr;
    return;
  }
  // A new block has no holder, whatever an older record says.
  if (block_created) std::memset(record, 0, sizeof *record);
}

}  // namespace

// The 16 bytes shared by every process that has loaded the library. Initial
// values: the lamp-state copy 0, the film scan-position copy 3.
__attribute__((section(".shared"), shared, used)) uint8_t g_shared_section[16] = {0, 3};

uint8_t* shared_section() {
  return g_shared_section;
}

std::unique_ptr<SystemMutex> SystemMutex::open() {
  bool nine_x = false;
  if (!query_platform(nine_x)) return nullptr;
  HANDLE handle = nullptr;
  if (nine_x) {
    handle = CreateMutexA(nullptr, FALSE, kMutexName);
  } else {
    char name[kNameBufferSize];
    std::snprintf(name, sizeof name, "Global\\%s", kMutexName);
    OpenSecurity security;
    handle = CreateMutexA(security.attributes(), FALSE, name);
  }
  if (handle == nullptr) return nullptr;
  std::unique_ptr<SystemMutex> mutex(new (std::nothrow) Win32SystemMutex(handle));
  if (!mutex) CloseHandle(handle);
  return mutex;
}

std::string shared_block_name(const std::string& lowered_path) {
  bool nine_x = false;
  query_platform(nine_x);
  try {
    return block_name_for(lowered_path, nine_x);
  } catch (...) {
    return {};
  }
}

SharedBlock::OpenResult SharedBlock::open(const std::string& lowered_path) {
  OpenResult result;
  bool nine_x = false;
  if (!query_platform(nine_x)) {
    result.os_error = GetLastError() != 0 ? GetLastError() : ERROR_GEN_FAILURE;
    return result;
  }
  try {
    std::string name = block_name_for(lowered_path, nine_x);
    if (name.empty()) {
      result.os_error = ERROR_FILENAME_EXCED_RANGE;
      return result;
    }
    DWORD error = 0;
    HANDLE mapping = create_mapping(name.c_str(), kSize, nine_x, error);
    if (mapping == nullptr && !nine_x && error == ERROR_ACCESS_DENIED) {
      // Creating a mapping in the global namespace takes a privilege ordinary users
      // outside session 0 lack (opening an existing one does not). Share the block
      // at least within this session rather than having none.
      name.erase(0, sizeof kGlobalPrefix - 1);
      mapping = create_mapping(name.c_str(), kSize, nine_x, error);
    }
    if (mapping == nullptr) {
      result.os_error = error;
      return result;
    }
    const bool created = error != ERROR_ALREADY_EXISTS;
    HANDLE owner_mapping = nullptr;
    OwnerRecords* owner = nullptr;
    open_owner_record(name, nine_x, created, owner_mapping, owner);
    result.block.reset(new (std::nothrow)
                           Win32SharedBlock(mapping, owner_mapping, owner, std::move(name)));
    if (!result.block) {
      if (owner != nullptr) UnmapViewOfFile(owner);
      if (owner_mapping != nullptr) CloseHandle(owner_mapping);
      CloseHandle(mapping);
      result.os_error = ERROR_NOT_ENOUGH_MEMORY;
      return result;
    }
    result.created = created;
    result.os_error = created ? 0 : ERROR_ALREADY_EXISTS;
  } catch (...) {
    result.block.reset();
    result.os_error = ERROR_NOT_ENOUGH_MEMORY;
  }
  return result;
}

}  // namespace qrx::platform
