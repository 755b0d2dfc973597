// Support for the Windows test program (see harness.h).
#include "harness.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace qrx::wintest {
namespace {
const char* g_tag = "parent";
}  // namespace

void set_process_tag(const char* tag) {
  g_tag = tag;
}

std::string format(const char* pattern, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, pattern);
  std::vsnprintf(text, sizeof text, pattern, arguments);
  va_end(arguments);
  return text;
}

void note(const char* pattern, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, pattern);
  std::vsnprintf(text, sizeof text, pattern, arguments);
  va_end(arguments);
  std::printf("[%s] %s\n", g_tag, text);
  std::fflush(stdout);
}

void fail(const char* file, int line, const std::string& what) {
  const char* base = std::strrchr(file, '/');
  std::fprintf(stderr, "[%s] FAIL %s:%d: %s\n", g_tag, base != nullptr ? base + 1 : file, line,
               what.c_str());
  std::fflush(stderr);
  std::fflush(stdout);
  ExitProcess(1);
}

HMODULE load_library(Exports& exports) {
  HMODULE module = LoadLibraryA("QRX7730L.DLL");
  CHECK(module != nullptr, "LoadLibraryA(\"QRX7730L.DLL\") failed with error %lu", GetLastError());
  std::string missing;
  // GetProcAddress returns a generic function pointer; each export gets its type
  // from the public header.
#define QRX_RESOLVE(name)                                                                          \
  exports.name =                                                                                   \
      reinterpret_cast<decltype(&::name)>(reinterpret_cast<void*>(GetProcAddress(module, #name))); \
  if (exports.name == nullptr) missing += " " #name;
  QRX_EXPORT_LIST(QRX_RESOLVE)
#undef QRX_RESOLVE
  CHECK(missing.empty(), "exports missing from QRX7730L.DLL:%s", missing.c_str());
  return module;
}

uint16_t last_status(const Exports& exports) {
  uint16_t status = 0xEEEE;
  CHECK(exports.GetScannerStatus(nullptr, &status) == QRX_TRUE, "GetScannerStatus returns TRUE");
  return status;
}

namespace {

const IMAGE_NT_HEADERS* nt_headers(HMODULE module) {
  const auto* base = reinterpret_cast<const uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  CHECK(dos->e_magic == IMAGE_DOS_SIGNATURE, "module starts with an MZ header");
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  CHECK(nt->Signature == IMAGE_NT_SIGNATURE, "module has PE headers");
  CHECK(nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC, "module is a 64-bit image");
  return nt;
}

}  // namespace

void export_counts(HMODULE module, uint32_t& names, uint32_t& functions) {
  const IMAGE_NT_HEADERS* nt = nt_headers(module);
  const IMAGE_DATA_DIRECTORY& entry =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  CHECK(entry.VirtualAddress != 0 && entry.Size != 0, "module has an export directory");
  const auto* directory = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
      reinterpret_cast<const uint8_t*>(module) + entry.VirtualAddress);
  names = directory->NumberOfNames;
  functions = directory->NumberOfFunctions;
}

const IMAGE_SECTION_HEADER* find_section(HMODULE module, const char* name) {
  const IMAGE_NT_HEADERS* nt = nt_headers(module);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    char section_name[IMAGE_SIZEOF_SHORT_NAME + 1] = {};
    std::memcpy(section_name, section->Name, IMAGE_SIZEOF_SHORT_NAME);
    if (std::strcmp(section_name, name) == 0) return section;
  }
  return nullptr;
}

uint8_t* section_bytes(HMODULE module, const IMAGE_SECTION_HEADER* section) {
  return reinterpret_cast<uint8_t*>(module) + section->VirtualAddress;
}

std::string block_name(const std::string& lowered_path) {
  return "Global\\" + lowered_path + kBlockSuffix;
}

bool MappingView::open(const std::string& name, size_t size) {
  close();
  mapping_ = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name.c_str());
  if (mapping_ == nullptr) {
    os_error_ = GetLastError();
    return false;
  }
  void* view = MapViewOfFile(mapping_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, size);
  if (view == nullptr) {
    os_error_ = GetLastError();
    CloseHandle(mapping_);
    mapping_ = nullptr;
    return false;
  }
  bytes_ = static_cast<volatile uint8_t*>(view);
  size_ = size;
  return true;
}

void MappingView::close() {
  if (bytes_ != nullptr) UnmapViewOfFile(const_cast<uint8_t*>(bytes_));
  if (mapping_ != nullptr) CloseHandle(mapping_);
  bytes_ = nullptr;
  mapping_ = nullptr;
}

uint8_t MappingView::u8(size_t offset) const {
  CHECK(offset + 1 <= size_, "view access inside the mapping");
  return bytes_[offset];
}
uint16_t MappingView::u16(size_t offset) const {
  return static_cast<uint16_t>(u8(offset) | u8(offset + 1) << 8);
}
uint32_t MappingView::u32(size_t offset) const {
  CHECK(offset % 4 == 0 && offset + 4 <= size_, "aligned view access inside the mapping");
  return *reinterpret_cast<volatile const uint32_t*>(bytes_ + offset);
}
uint64_t MappingView::u64(size_t offset) const {
  return u32(offset) | static_cast<uint64_t>(u32(offset + 4)) << 32;
}
void MappingView::set_u16(size_t offset, uint16_t value) {
  CHECK(offset + 2 <= size_, "view access inside the mapping");
  bytes_[offset] = static_cast<uint8_t>(value);
  bytes_[offset + 1] = static_cast<uint8_t>(value >> 8);
  MemoryBarrier();
}
void MappingView::set_u32(size_t offset, uint32_t value) {
  CHECK(offset % 4 == 0 && offset + 4 <= size_, "aligned view access inside the mapping");
  InterlockedExchange(reinterpret_cast<volatile LONG*>(bytes_ + offset), static_cast<LONG>(value));
}
void MappingView::set_u64(size_t offset, uint64_t value) {
  set_u32(offset, static_cast<uint32_t>(value));
  set_u32(offset + 4, static_cast<uint32_t>(value >> 32));
}

bool mapping_exists(const std::string& name) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
  if (mapping == nullptr) return false;
  CloseHandle(mapping);
  return true;
}

SystemLock::SystemLock() {
  mutex_ = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kMutexName);
  CHECK(mutex_ != nullptr, "the library's mutex %s exists (error %lu)", kMutexName, GetLastError());
  const DWORD wait = WaitForSingleObject(mutex_, 10000);
  CHECK(wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED, "took the library's mutex (wait %lu)",
        wait);
}

SystemLock::~SystemLock() {
  ReleaseMutex(mutex_);
  CloseHandle(mutex_);
}

TimedCall::TimedCall(const Exports& exports, Call call) : exports_(exports), call_(call) {
  thread_ = CreateThread(nullptr, 0, &TimedCall::entry, this, 0, nullptr);
  CHECK(thread_ != nullptr, "CreateThread failed with error %lu", GetLastError());
}

TimedCall::~TimedCall() {
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
}

bool TimedCall::wait(DWORD timeout_ms) {
  return WaitForSingleObject(thread_, timeout_ms) == WAIT_OBJECT_0;
}

DWORD WINAPI TimedCall::entry(LPVOID self_pointer) {
  auto* self = static_cast<TimedCall*>(self_pointer);
  const ULONGLONG start = GetTickCount64();
  self->result_ = self->call_(self->exports_);
  self->elapsed_ms_ = GetTickCount64() - start;
  return 0;
}

PROCESS_INFORMATION start_self(const char* arguments) {
  char program[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
  CHECK(length > 0 && length < sizeof program, "GetModuleFileNameA of the test program");
  std::string command = std::string("\"") + program + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  CHECK(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process),
        "CreateProcessA(%s) failed with error %lu", command.c_str(), GetLastError());
  return process;
}

DWORD wait_for_exit(PROCESS_INFORMATION& process, DWORD timeout_ms) {
  CHECK(WaitForSingleObject(process.hProcess, timeout_ms) == WAIT_OBJECT_0,
        "child process %lu ended within %lu ms", process.dwProcessId, timeout_ms);
  DWORD code = 0;
  CHECK(GetExitCodeProcess(process.hProcess, &code), "exit code of the child process");
  CloseHandle(process.hThread);
  process.hThread = nullptr;
  return code;
}

uint64_t creation_time(HANDLE process) {
  FILETIME creation{}, exit{}, kernel{}, user{};
  CHECK(GetProcessTimes(process, &creation, &exit, &kernel, &user), "GetProcessTimes");
  return static_cast<uint64_t>(creation.dwHighDateTime) << 32 | creation.dwLowDateTime;
}

}  // namespace qrx::wintest
