// Checks of the Win32 platform layer itself, linked in directly (run under Wine by
// run_wine_tests.sh): clock, threads, paths and the install-directory registry
// value, the driver file calls, and the status block's named objects.
#include <windows.h>

#include <atomic>
#include <string>

#include "harness.h"
#include "platform/clock.h"
#include "platform/driver_file.h"
#include "platform/paths.h"
#include "platform/shared_block.h"
#include "platform/thread.h"

using namespace qrx::platform;
using namespace qrx::wintest;

namespace {

constexpr char kInstallKey[] = "SOFTWARE\\Quarn\\Imagent\\Devices\\QRX7730";

void check_clock() {
  Clock& clock = system_clock();
  const uint64_t before = clock.now_us();
  clock.sleep_ms(50);
  const uint64_t slept = clock.now_us() - before;
  CHECK(slept >= 45000 && slept < 5000000, "a 50 ms sleep took %llu us", (unsigned long long)slept);
  const uint32_t ticks = clock.ticks_ms();
  CHECK(ticks - static_cast<uint32_t>(clock.now_us() / 1000) <= 1 ||
            static_cast<uint32_t>(clock.now_us() / 1000) - ticks <= 1,
        "ticks follow the microsecond clock");
}

std::atomic<int> g_finished{0};

void check_threads() {
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  auto waiting = Thread::start(
      [](void* event) -> uint32_t {
        WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
        return 7;
      },
      go);
  CHECK(waiting != nullptr, "a thread starts");
  CHECK(waiting->exit_code() == Thread::kStillActive, "259 while it runs, got %u",
        waiting->exit_code());
  SetEvent(go);
  waiting->join();
  CHECK(waiting->exit_code() == 7, "its return value once it ended, got %u", waiting->exit_code());
  CloseHandle(go);

  auto confusing = Thread::start([](void*) -> uint32_t { return Thread::kStillActive; }, nullptr);
  confusing->join();
  CHECK(confusing->exit_code() == 0, "a procedure returning 259 reads as failed, not running");

  auto slow = Thread::start(
      [](void*) -> uint32_t {
        Sleep(200);
        g_finished = 1;
        return 1;
      },
      nullptr);
  slow.reset();
  CHECK(g_finished == 1, "destroying a thread waits for its procedure");
  CHECK(Thread::start(nullptr, nullptr) == nullptr, "no procedure, no thread");
}

void set_install_value(REGSAM view, DWORD type, const std::string& value) {
  HKEY key = nullptr;
  CHECK(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, nullptr, 0, KEY_SET_VALUE | view,
                        nullptr, &key, nullptr) == ERROR_SUCCESS,
        "create the install key");
  CHECK(
      RegSetValueExA(key, "InstallDirectory", 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS,
      "set InstallDirectory");
  RegCloseKey(key);
}

void delete_install_key(REGSAM view) {
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, view, 0);
}

void check_paths() {
  CHECK(path_separator() == '\\', "the separator is a backslash");
  const std::string temp = temp_directory();
  CHECK(!temp.empty() && temp.back() == '\\', "temp directory %s ends with a separator",
        temp.c_str());
  const DWORD attributes = GetFileAttributesA(temp.c_str());
  CHECK(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
        "temp directory %s exists", temp.c_str());

  // Without QRX7730L.DLL loaded, the library is the module holding the code.
  char program[MAX_PATH];
  GetModuleFileNameA(nullptr, program, sizeof program);
  CHECK(library_path() == program, "library path %s is this program", library_path().c_str());
  HMODULE dll = LoadLibraryA("QRX7730L.DLL");
  CHECK(dll != nullptr, "QRX7730L.DLL loads");
  char dll_path[MAX_PATH];
  GetModuleFileNameA(dll, dll_path, sizeof dll_path);
  CHECK(library_path() == dll_path, "library path %s is the DLL once loaded",
        library_path().c_str());
  FreeLibrary(dll);

  const std::string long_value(5000, 'v');
  SetEnvironmentVariableA("QRX_PLATFORM_TEST", long_value.c_str());
  CHECK(environment("QRX_PLATFORM_TEST") == long_value, "a 5000-character variable");
  SetEnvironmentVariableA("QRX_PLATFORM_TEST", nullptr);
  CHECK(environment("QRX_PLATFORM_TEST").empty(), "an unset variable is empty");
  CHECK(environment(nullptr).empty(), "no name, no value");

  // The install directory lives in the 32-bit view of the registry.
  delete_install_key(KEY_WOW64_32KEY);
  delete_install_key(KEY_WOW64_64KEY);
  CHECK(install_directory().empty(), "no key, no install directory");
  set_install_value(KEY_WOW64_32KEY, REG_SZ, "C:\\Scanners\\QRX7730\\");
  CHECK(install_directory() == "C:\\Scanners\\QRX7730\\", "install directory %s",
        install_directory().c_str());
  SetEnvironmentVariableA("QRX_PLATFORM_ROOT", "D:\\Root");
  set_install_value(KEY_WOW64_32KEY, REG_EXPAND_SZ, "%QRX_PLATFORM_ROOT%\\qrx\\");
  CHECK(install_directory() == "D:\\Root\\qrx\\", "expanded install directory %s",
        install_directory().c_str());
  set_install_value(KEY_WOW64_32KEY, REG_SZ, "C:\\" + std::string(1020, 'd'));
  CHECK(install_directory().size() == 1023, "a 1023-character directory is kept");
  set_install_value(KEY_WOW64_32KEY, REG_SZ, "C:\\" + std::string(1021, 'd'));
  CHECK(install_directory().empty(), "a 1024-character directory is refused, not cut");
  delete_install_key(KEY_WOW64_32KEY);

  // Written only in the 64-bit view: not ours, when the system keeps the views apart.
  set_install_value(KEY_WOW64_64KEY, REG_SZ, "C:\\SixtyFour\\");
  HKEY probe = nullptr;
  const bool views_apart =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY,
                    &probe) != ERROR_SUCCESS;
  if (probe != nullptr) RegCloseKey(probe);
  if (views_apart) {
    CHECK(install_directory().empty(), "the 64-bit view is not read");
  } else {
    note("this system shows one registry view to both: the 64-bit-only case is not checked");
  }
  delete_install_key(KEY_WOW64_64KEY);
  note("paths, environment and the install directory behave");
}

void check_driver_file() {
  CHECK(DriverFile::open("C:\\no\\such\\device") == nullptr, "a missing device does not open");
  CHECK(DriverFile::open("") == nullptr, "an empty path does not open");
  CHECK(DriverFile::open(std::string("C:\\x\0y", 6)) == nullptr, "an embedded NUL is refused");

  // A plain file stands in for the driver: bulk reads and writes reach it.
  const std::string path = temp_directory() + "qrx_driver_file_test.bin";
  HANDLE created = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  CHECK(created != INVALID_HANDLE_VALUE, "create %s", path.c_str());
  CloseHandle(created);
  {
    auto file = DriverFile::open(path);
    CHECK(file != nullptr, "an existing file opens");
    uint32_t moved = 99;
    CHECK(file->write("scan!", 5, moved) && moved == 5, "a write moves 5 bytes (%u)", moved);
    char buffer[8] = {};
    CHECK(file->read(buffer, sizeof buffer, moved) && moved == 0, "reading at the end is empty");
    CHECK(!file->io_control(0x8000200C, nullptr, 0, buffer, 2), "a file has no driver requests");
  }
  HANDLE reopened = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  char content[8] = {};
  DWORD got = 0;
  ReadFile(reopened, content, sizeof content, &got, nullptr);
  CloseHandle(reopened);
  CHECK(got == 5 && std::string(content, 5) == "scan!", "the written bytes reached the file");
  DeleteFileA(path.c_str());
}

void check_shared_objects() {
  CHECK(shared_block_name("sim:") == "Global\\sim:_Scanner_Status_File_Mapping_SFS",
        "block name %s", shared_block_name("sim:").c_str());
  CHECK(shared_block_name(std::string(24, 'a')).size() == 63, "24 characters fit the buffer");
  CHECK(shared_block_name(std::string(25, 'a')).empty(), "25 characters do not");
  CHECK(shared_block_name(std::string("ab\0cd", 5)).empty(), "an embedded NUL is refused");

  const std::string path = "qrxplatformtest";
  SharedBlock::OpenResult first = SharedBlock::open(path);
  CHECK(first.block != nullptr && first.created && first.os_error == 0, "first open creates");
  CHECK(first.block->name() == shared_block_name(path), "name %s", first.block->name().c_str());
  SharedBlock::OpenResult second = SharedBlock::open(path);
  CHECK(second.block != nullptr && !second.created && second.os_error == 183,
        "second open finds it (error %u)", second.os_error);
  const uint32_t value = 0xA5C3E1F0;
  CHECK(first.block->write(8, &value, 4), "write the last four bytes");
  uint32_t read_back = 0;
  CHECK(second.block->read(8, &read_back, 4) && read_back == value, "the other handle sees it");
  CHECK(!first.block->read(10, &read_back, 4), "no access past 12 bytes");
  CHECK(!first.block->write(13, &value, 0), "no offset past 12 bytes");
  CHECK(first.block->read(12, &read_back, 0), "an empty access at the end is fine");

  CHECK(!second.block->busy_owner_gone(), "no holder recorded");
  first.block->record_busy_owner();
  CHECK(!second.block->busy_owner_gone(), "a live holder is not gone");
  first.block->clear_busy_owner();
  CHECK(!second.block->busy_owner_gone(), "a cleared holder is not gone");

  first.block.reset();
  second.block.reset();
  SharedBlock::OpenResult again = SharedBlock::open(path);
  CHECK(again.created, "the block starts afresh once nobody holds it");
  CHECK(again.block->read(8, &read_back, 4) && read_back == 0, "a fresh block is zero-filled");

  // Opening leaves the calling thread's security context as it found it: no
  // impersonation left behind, and an impersonation it had is kept.
  HANDLE token = nullptr;
  CHECK(!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
            GetLastError() == ERROR_NO_TOKEN,
        "the thread does not impersonate after an open");
  CHECK(ImpersonateSelf(SecurityIdentification), "the test impersonates itself");
  SharedBlock::OpenResult impersonating = SharedBlock::open(path);
  auto impersonating_mutex = SystemMutex::open();
  CHECK(impersonating.block != nullptr && impersonating_mutex != nullptr,
        "open while impersonating");
  SECURITY_IMPERSONATION_LEVEL level = SecurityAnonymous;
  DWORD level_size = 0;
  CHECK(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token),
        "the caller's token is kept");
  CHECK(GetTokenInformation(token, TokenImpersonationLevel, &level, sizeof level, &level_size) &&
            level == SecurityIdentification,
        "the kept token is the caller's (level %d)", static_cast<int>(level));
  CloseHandle(token);
  RevertToSelf();

  SharedBlock::OpenResult too_long = SharedBlock::open(std::string(40, 'x'));
  CHECK(too_long.block == nullptr && too_long.os_error == ERROR_FILENAME_EXCED_RANGE,
        "an over-long path opens nothing (error %u)", too_long.os_error);

  auto mutex = SystemMutex::open();
  CHECK(mutex != nullptr, "the system mutex opens");
  mutex->lock();
  const Exports unused;
  TimedCall blocked(unused, [](const Exports&) -> QRX_BOOL {
    auto other = SystemMutex::open();
    other->lock();
    other->unlock();
    return QRX_TRUE;
  });
  CHECK(!blocked.wait(300), "another thread waits for the lock");
  mutex->unlock();
  CHECK(blocked.wait(5000) && blocked.result() == QRX_TRUE, "and gets it once it is free");

  uint8_t* section = shared_section();
  CHECK(section != nullptr && section[0] == 0 && section[1] == 3, "shared section initial bytes");
  note("status block objects behave");
}

}  // namespace

int main() {
  set_process_tag("platform");
  check_clock();
  check_threads();
  check_paths();
  check_driver_file();
  check_shared_objects();
  note("all checks passed");
  return 0;
}
