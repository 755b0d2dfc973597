// Support for the Windows test program: failing with a message, the DLL and its 32
// exports loaded by name, its PE image (export directory, section headers), views
// of the status block's named objects, calls run on a thread with a time limit,
// and copies of this program started as child processes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "qrx7730.h"

namespace qrx::wintest {

// Prints "FAIL <where>: <what>" and ends the process with exit code 1.
[[noreturn]] void fail(const char* file, int line, const std::string& what);
std::string format(const char* pattern, ...) __attribute__((format(gnu_printf, 1, 2)));
// Tag printed before every line of this process ("parent" or "child").
void set_process_tag(const char* tag);
void note(const char* pattern, ...) __attribute__((format(gnu_printf, 1, 2)));

#define CHECK(condition, ...)                                                                     \
  do {                                                                                            \
    if (!(condition)) {                                                                           \
      ::qrx::wintest::fail(__FILE__, __LINE__,                                                    \
                           std::string(#condition) + ": " + ::qrx::wintest::format(__VA_ARGS__)); \
    }                                                                                             \
  } while (0)

// clang-format off
#define QRX_EXPORT_LIST(X)                                                           \
  X(FindScannerEx) X(InitializeScanner) X(TerminateScanner) X(GetOPUMode)            \
  X(GetScannerAbilitySize) X(GetScannerAbilityXp) X(GetLampStatus) X(SetLamp)        \
  X(SetScanParameter) X(DoCalibration) X(StartScanEx) X(ReadScan) X(StopScanEx)      \
  X(GetDataStatus) X(GetScannerStatus) X(GetCalibrationStatus) X(SetAGData)         \
  X(GetAGData) X(TestScanner) X(InitialButton) X(ReadPushButton) X(SetGamma)        \
  X(GetQuarnAPIVersion) X(LockScanner) X(UnlockScanner) X(SetErrorToDevice)         \
  X(GetCropStatus) X(GetReadStatus) X(ReadRegister) X(WriteRegister)                \
  X(SetRawDataParameter) X(ReadRawData)
// clang-format on

// The DLL's exports, typed from the public header.
struct Exports {
#define QRX_EXPORT_MEMBER(name) decltype(&::name) name = nullptr;
  QRX_EXPORT_LIST(QRX_EXPORT_MEMBER)
#undef QRX_EXPORT_MEMBER
};

constexpr int kExportCount = 32;

// LoadLibraryA("QRX7730L.DLL") and GetProcAddress for every export; fails the
// test when the DLL does not load or an export is missing.
HMODULE load_library(Exports& exports);

// The library's status code after the last call (GetScannerStatus).
uint16_t last_status(const Exports& exports);

// Number of names and of functions in the module's export directory.
void export_counts(HMODULE module, uint32_t& names, uint32_t& functions);

// The section header called name in the module's image (nullptr when absent) and
// the address of its bytes.
const IMAGE_SECTION_HEADER* find_section(HMODULE module, const char* name);
uint8_t* section_bytes(HMODULE module, const IMAGE_SECTION_HEADER* section);

// Fixed names of the status block's objects.
inline constexpr char kMutexName[] = "Global\\_MUTEX_MPATTR_";
inline constexpr char kBlockSuffix[] = "_Scanner_Status_File_Mapping_SFS";
std::string block_name(const std::string& lowered_path);

// A read-write view of an existing named mapping (the block or its owner record).
class MappingView {
 public:
  MappingView() = default;
  ~MappingView() { close(); }
  MappingView(const MappingView&) = delete;
  MappingView& operator=(const MappingView&) = delete;
  // False (with os_error set) when no mapping of that name exists.
  bool open(const std::string& name, size_t size);
  void close();
  bool is_open() const { return bytes_ != nullptr; }
  DWORD os_error() const { return os_error_; }

  uint8_t u8(size_t offset) const;
  uint16_t u16(size_t offset) const;
  uint32_t u32(size_t offset) const;
  uint64_t u64(size_t offset) const;
  void set_u16(size_t offset, uint16_t value);
  void set_u32(size_t offset, uint32_t value);
  void set_u64(size_t offset, uint64_t value);

 private:
  HANDLE mapping_ = nullptr;
  volatile uint8_t* bytes_ = nullptr;
  size_t size_ = 0;
  DWORD os_error_ = 0;
};

// True when a mapping of that name exists right now.
bool mapping_exists(const std::string& name);

// Holds the library's machine-wide lock for the life of the object.
class SystemLock {
 public:
  SystemLock();
  ~SystemLock();
  SystemLock(const SystemLock&) = delete;
  SystemLock& operator=(const SystemLock&) = delete;

 private:
  HANDLE mutex_;
};

// Runs one call on a new thread and measures how long it took.
class TimedCall {
 public:
  using Call = QRX_BOOL (*)(const Exports&);
  TimedCall(const Exports& exports, Call call);
  ~TimedCall();
  TimedCall(const TimedCall&) = delete;
  TimedCall& operator=(const TimedCall&) = delete;
  // True when the call returned within timeout_ms.
  bool wait(DWORD timeout_ms);
  QRX_BOOL result() const { return result_; }
  uint64_t elapsed_ms() const { return elapsed_ms_; }

 private:
  static DWORD WINAPI entry(LPVOID self);
  const Exports& exports_;
  Call call_;
  HANDLE thread_ = nullptr;
  volatile QRX_BOOL result_ = -1;
  volatile uint64_t elapsed_ms_ = 0;
};

// Starts this program again with the given arguments.
PROCESS_INFORMATION start_self(const char* arguments);
// Waits (at most timeout_ms) for the process and returns its exit code; fails the
// test on a timeout. Closes the thread handle; the process handle stays open.
DWORD wait_for_exit(PROCESS_INFORMATION& process, DWORD timeout_ms);

uint64_t creation_time(HANDLE process);

}  // namespace qrx::wintest
