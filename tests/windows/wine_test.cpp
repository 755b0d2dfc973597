// The Windows test of QRX7730L.DLL, run under Wine: loads the DLL by name the way a
// host does, and checks the exported interface, the status block's named objects,
// the call frame across threads and processes, and the DLL's shared section.
//
//   qrx7730_wine_test.exe                 the whole test (exit code 0 on success)
//   qrx7730_wine_test.exe --shared-child  the second process of the sharing checks
//   qrx7730_wine_test.exe --exit-at-once  a process that ends at once (a dead holder)
//   qrx7730_wine_test.exe --abandon-lock  takes the library's mutex and dies holding it
#include <cstring>
#include <memory>
#include <string>

#include "harness.h"

using namespace qrx::wintest;

namespace {

// Status block layout.
constexpr size_t kHomeOffset = 0, kHomeOffsetAux = 2, kBusy = 4, kScanPosition = 8, kLamp = 9;
constexpr size_t kBlockSize = 12;
// Shared copies in the DLL's section.
constexpr size_t kCopyLamp = 0, kCopyScanPosition = 1, kCopyAux = 4, kCopyHome = 8, kCopyBusy = 12;
// The busy holder record beside the block: process id, creation time.
constexpr size_t kOwnerProcess = 0, kOwnerCreation = 8, kOwnerSize = 16;

constexpr char kSimPath[] = "sim:";
constexpr char kMissingPath[] = "\\\\.\\QrxNoSuchScanner";  // lowered: ".qrxnosuchscanner"
constexpr uint16_t kHomeMark = 0x1234, kAuxMark = 0x5678;

struct Dll {
  HMODULE module = nullptr;
  Exports x;
  uint8_t* section = nullptr;  // the 16 bytes of ".shared"
};

uint16_t section_u16(const Dll& dll, size_t offset) {
  return static_cast<uint16_t>(dll.section[offset] | dll.section[offset + 1] << 8);
}
uint32_t section_u32(const Dll& dll, size_t offset) {
  uint32_t value;
  std::memcpy(&value, dll.section + offset, sizeof value);
  return value;
}

Dll load_dll() {
  Dll dll;
  dll.module = load_library(dll.x);
  const IMAGE_SECTION_HEADER* section = find_section(dll.module, ".shared");
  CHECK(section != nullptr, "QRX7730L.DLL has a .shared section");
  CHECK((section->Characteristics & IMAGE_SCN_MEM_SHARED) != 0, "the .shared section is shared");
  CHECK((section->Characteristics & IMAGE_SCN_MEM_WRITE) != 0, "the .shared section is writable");
  CHECK(section->Misc.VirtualSize >= 16, ".shared holds 16 bytes (size %lu)",
        section->Misc.VirtualSize);
  dll.section = section_bytes(dll.module, section);
  return dll;
}

void check_block_values(const MappingView& block, uint16_t home, uint16_t aux, uint32_t busy,
                        uint8_t scan_position, uint8_t lamp, const char* what) {
  CHECK(block.u16(kHomeOffset) == home, "%s: HomeOffset %u, expected %u", what,
        block.u16(kHomeOffset), home);
  CHECK(block.u16(kHomeOffsetAux) == aux, "%s: HomeOffsetAux %u, expected %u", what,
        block.u16(kHomeOffsetAux), aux);
  CHECK(block.u32(kBusy) == busy, "%s: Busy %u, expected %u", what, block.u32(kBusy), busy);
  CHECK(block.u8(kScanPosition) == scan_position, "%s: FAUScanPosition %u, expected %u", what,
        block.u8(kScanPosition), scan_position);
  CHECK(block.u8(kLamp) == lamp, "%s: LampState %u, expected %u", what, block.u8(kLamp), lamp);
}

QRX_BOOL call_get_opu_mode(const Exports& x) {
  OPUMode mode{};
  return x.GetOPUMode(nullptr, &mode);
}
QRX_BOOL call_terminate(const Exports& x) {
  return x.TerminateScanner(nullptr);
}

// Exports that do not touch the device: results, LastError rules, fixed records.
void check_interface(const Dll& dll) {
  const Exports& x = dll.x;
  uint32_t names = 0, functions = 0;
  export_counts(dll.module, names, functions);
  CHECK(names == kExportCount && functions == kExportCount,
        "the DLL exports exactly %d functions (names %u, functions %u)", kExportCount, names,
        functions);

  uint32_t version = 0xDEADBEEF;
  CHECK(x.GetQuarnAPIVersion(nullptr, &version) == QRX_TRUE, "GetQuarnAPIVersion returns TRUE");
  CHECK(version == 2, "GetQuarnAPIVersion stores 2, got %u", version);

  // A refusal leaves its code; exports that never set LastError keep it.
  CHECK(x.GetOPUMode(nullptr, nullptr) == QRX_FALSE, "GetOPUMode refuses a null record");
  CHECK(last_status(x) == QRX_E_NULL_ARGUMENT, "status after the refusal is 0x%04X",
        last_status(x));
  uint16_t ag[QRX_AG_VALUE_COUNT + 1];
  for (uint16_t& value : ag) value = 0xABCD;
  CHECK(x.GetAGData(nullptr, ag) == QRX_TRUE, "GetAGData returns TRUE");
  for (int i = 0; i < QRX_AG_VALUE_COUNT; ++i) {
    const uint16_t expected = (i == 1 || i == 17) ? 0xFFFF : 0x1000;
    CHECK(ag[i] == expected, "GetAGData value %d is 0x%04X, expected 0x%04X", i, ag[i], expected);
  }
  CHECK(ag[QRX_AG_VALUE_COUNT] == 0xABCD, "GetAGData writes 21 values and no more");
  CHECK(last_status(x) == QRX_E_NULL_ARGUMENT, "GetAGData leaves the earlier status");

  uint16_t size = 0;
  CHECK(x.GetScannerAbilitySize(nullptr, &size) == QRX_TRUE, "GetScannerAbilitySize is TRUE");
  CHECK(size == 476, "ability stream size %u, expected 476", size);
  CHECK(last_status(x) == QRX_E_NULL_ARGUMENT, "GetScannerAbilitySize leaves the status");
  uint8_t stream[476 + 16];
  std::memset(stream, 0xCC, sizeof stream);
  CHECK(x.GetScannerAbilityXp(nullptr, stream) == QRX_TRUE, "GetScannerAbilityXp is TRUE");
  auto u16_at = [&](size_t at) { return static_cast<uint16_t>(stream[at] | stream[at + 1] << 8); };
  CHECK(u16_at(0) == 1 && u16_at(2) == QRX_ABILITY_KIND_BYTES && u16_at(4) == 12,
        "first item is the 12-byte vendor name (tag %u kind %u length %u)", u16_at(0), u16_at(2),
        u16_at(4));
  CHECK(std::strcmp(reinterpret_cast<const char*>(stream + 8), "QUARN") == 0, "vendor name");
  CHECK(u16_at(20) == 2 && u16_at(22) == QRX_ABILITY_KIND_BYTES && u16_at(24) == 20,
        "second item is the 20-byte model name");
  size_t at = 0;
  int items = 0;
  while (at + 8 <= size && u16_at(at) != QRX_ABILITY_TAG_END) {
    const uint16_t kind = u16_at(at + 2);
    CHECK(kind >= QRX_ABILITY_KIND_VALUE && kind <= QRX_ABILITY_KIND_BLOCK,
          "item %d at %zu has kind %u", items, at, kind);
    at += 8 + (kind == QRX_ABILITY_KIND_VALUE ? 0 : u16_at(at + 4));
    ++items;
  }
  CHECK(at == size - 8u, "the end item starts 8 bytes before the end (at %zu)", at);
  CHECK(u16_at(at) == QRX_ABILITY_TAG_END && u16_at(at + 2) == QRX_ABILITY_KIND_END,
        "the stream ends with the end tag");
  for (size_t i = size; i < sizeof stream; ++i) {
    CHECK(stream[i] == 0xCC, "GetScannerAbilityXp wrote past the reported size at %zu", i);
  }

  ButtonLayout layout{};
  CHECK(x.InitialButton(nullptr, &layout) == QRX_TRUE, "InitialButton returns TRUE");
  CHECK(layout.Count == 3 && layout.Value1 == 7 && layout.Value2 == 7, "button layout 3, 7, 7");

  CHECK(x.LockScanner(nullptr, 1) == QRX_TRUE, "LockScanner returns TRUE");
  CHECK(x.UnlockScanner(nullptr) == QRX_TRUE, "UnlockScanner returns TRUE");
  CHECK(x.SetErrorToDevice(nullptr, 7) == QRX_TRUE, "SetErrorToDevice returns TRUE");
  CHECK(x.GetCropStatus(nullptr, nullptr) == QRX_TRUE, "GetCropStatus returns TRUE");
  CHECK(x.GetReadStatus(nullptr, nullptr) == QRX_TRUE, "GetReadStatus returns TRUE");
  CHECK(x.SetRawDataParameter(nullptr, nullptr) == QRX_TRUE, "SetRawDataParameter is TRUE");
  CHECK(x.ReadRawData(nullptr, nullptr, nullptr) == QRX_TRUE, "ReadRawData returns TRUE");
  CHECK(last_status(x) == QRX_E_NULL_ARGUMENT, "the stubs leave the status");

  CHECK(x.TerminateScanner(nullptr) == QRX_TRUE, "TerminateScanner without a device is TRUE");
  CHECK(last_status(x) == QRX_OK, "TerminateScanner sets the status to 0");
}

// FindScannerEx refusals, and the block names a device path gives.
void check_find_refusals(const Dll& dll) {
  const Exports& x = dll.x;
  const uint16_t product = QRX7730_USB_PRODUCT_ID;
  CHECK(x.FindScannerEx(nullptr, nullptr, product) == QRX_FALSE, "null path is refused");
  CHECK(last_status(x) == QRX_E_NULL_ARGUMENT, "null path: 0x%04X", last_status(x));
  CHECK(x.FindScannerEx(nullptr, "", product) == QRX_FALSE, "empty path is refused");
  CHECK(last_status(x) == QRX_E_DEVICE_PATH, "empty path: 0x%04X", last_status(x));

  CHECK(x.FindScannerEx(nullptr, kMissingPath, product) == QRX_FALSE, "missing device refused");
  CHECK(last_status(x) == QRX_E_DEVICE_OPEN, "missing device: 0x%04X", last_status(x));
  // Backslashes removed, capitals lowered; opened before the device, so it exists.
  MappingView block;
  CHECK(block.open(block_name(".qrxnosuchscanner"), kBlockSize),
        "block of the missing device exists (error %lu)", block.os_error());
  check_block_values(block, 0, 0, 0, 3, 1, "fresh block of the missing device");

  // The longest path whose block name fits the 64-byte buffer: 24 characters lowered.
  const std::string longest = std::string("\\\\.\\") + std::string(23, 'Q');
  CHECK(x.FindScannerEx(nullptr, longest.c_str(), product) == QRX_FALSE, "24-char path open");
  CHECK(last_status(x) == QRX_E_DEVICE_OPEN, "24-char path: 0x%04X", last_status(x));
  CHECK(mapping_exists(block_name("." + std::string(23, 'q'))), "block of a 24-char path");

  // One more character: no block at all, and certainly not one under a cut name.
  const std::string too_long = std::string("\\\\.\\") + std::string(24, 'Q');
  CHECK(x.FindScannerEx(nullptr, too_long.c_str(), product) == QRX_FALSE, "25-char path open");
  const uint16_t status = last_status(x);
  CHECK(status == QRX_E_DEVICE_PATH, "25-char path: 0x%04X", status);
  const std::string full = block_name("." + std::string(24, 'q'));
  CHECK(!mapping_exists(full), "no block under the over-long name");
  CHECK(!mapping_exists(full.substr(0, 63)), "no block under the name cut to 63 characters");
  note("25-character device path refused with 0x%04X, no block", status);
}

// The busy flag held by another thread of this process: a framed export waits.
void check_frame_waits(const Dll& dll, MappingView& block, MappingView& owner) {
  {
    SystemLock lock;
    CHECK(block.u32(kBusy) == 0, "nobody holds the flag");
    block.set_u32(kBusy, 1);
    owner.set_u32(kOwnerProcess, GetCurrentProcessId());
    owner.set_u64(kOwnerCreation, creation_time(GetCurrentProcess()));
  }
  TimedCall opu(dll.x, call_get_opu_mode);
  TimedCall terminate(dll.x, call_terminate);
  CHECK(!opu.wait(400), "GetOPUMode returned while another caller held the flag");
  CHECK(!terminate.wait(0), "TerminateScanner returned while another caller held the flag");
  {
    SystemLock lock;
    block.set_u32(kBusy, 0);
    owner.set_u32(kOwnerProcess, 0);
    owner.set_u64(kOwnerCreation, 0);
  }
  CHECK(opu.wait(5000) && terminate.wait(5000), "framed exports go on once the flag is free");
  CHECK(opu.result() == QRX_TRUE && terminate.result() == QRX_TRUE, "both calls succeed");
  CHECK(opu.elapsed_ms() >= 350, "GetOPUMode waited %llu ms", (unsigned long long)opu.elapsed_ms());
  CHECK(block.u32(kBusy) == 0 && owner.u32(kOwnerProcess) == 0, "flag and holder released");
  note("framed exports waited %llu ms for the flag", (unsigned long long)opu.elapsed_ms());

  // Every access to the block waits for the machine-wide lock.
  {
    auto lock = std::make_unique<SystemLock>();
    TimedCall locked_out(dll.x, call_get_opu_mode);
    CHECK(!locked_out.wait(300), "GetOPUMode ran while another thread held the library's mutex");
    lock.reset();
    CHECK(locked_out.wait(5000) && locked_out.result() == QRX_TRUE,
          "it runs once the lock is free");
  }

  // Two threads hammering framed exports: nothing hangs, the flag ends free.
  TimedCall first(dll.x, [](const Exports& x) {
    QRX_BOOL all = QRX_TRUE;
    for (int i = 0; i < 300; ++i) all &= call_get_opu_mode(x);
    return all;
  });
  TimedCall second(dll.x, [](const Exports& x) {
    QRX_BOOL all = QRX_TRUE;
    for (int i = 0; i < 300; ++i) all &= call_terminate(x);
    return all;
  });
  uint32_t seen_busy = 0;
  const ULONGLONG deadline = GetTickCount64() + 120000;
  while (!first.wait(0) || !second.wait(0)) {
    if (block.u32(kBusy) != 0) {
      ++seen_busy;
      const uint32_t holder = owner.u32(kOwnerProcess);
      CHECK(holder == 0 || holder == GetCurrentProcessId(), "holder %u is this process", holder);
    }
    CHECK(GetTickCount64() < deadline, "600 framed calls finish within two minutes");
    Sleep(0);
  }
  CHECK(first.result() == QRX_TRUE && second.result() == QRX_TRUE, "600 framed calls succeed");
  CHECK(block.u32(kBusy) == 0 && owner.u32(kOwnerProcess) == 0, "flag free after the calls");
  note("600 framed calls on two threads; flag seen taken %u times", seen_busy);
}

// A holder that died does not keep the others waiting; a live one does.
void check_dead_holder(const Dll& dll, MappingView& block, MappingView& owner) {
  PROCESS_INFORMATION child = start_self("--exit-at-once");
  CHECK(wait_for_exit(child, 60000) == 0, "the short-lived child ended cleanly");
  const uint64_t child_created = creation_time(child.hProcess);

  auto hold_for = [&](uint32_t process, uint64_t created) {
    SystemLock lock;
    block.set_u32(kBusy, 1);
    owner.set_u32(kOwnerProcess, process);
    owner.set_u64(kOwnerCreation, created);
  };
  auto expect_not_blocked = [&](const char* what) {
    TimedCall call(dll.x, call_get_opu_mode);
    if (!call.wait(5000)) {
      SystemLock lock;
      block.set_u32(kBusy, 0);  // let the waiting thread go before failing
      CHECK(false, "%s: a framed export still waits for a dead holder", what);
    }
    CHECK(call.result() == QRX_TRUE, "%s: the call succeeded", what);
    CHECK(block.u32(kBusy) == 0 && owner.u32(kOwnerProcess) == 0, "%s: flag released", what);
  };

  hold_for(child.dwProcessId, child_created);  // exited; its handle is still open
  expect_not_blocked("exited holder");
  CloseHandle(child.hProcess);
  // The system forgets the process a little after its last handle is closed.
  const ULONGLONG until = GetTickCount64() + 10000;
  for (;;) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child.dwProcessId);
    if (process == nullptr) {
      CHECK(GetLastError() == ERROR_INVALID_PARAMETER, "unknown process id: error %lu",
            GetLastError());
      break;
    }
    CloseHandle(process);
    CHECK(GetTickCount64() < until, "process %lu forgotten within 10 s", child.dwProcessId);
    Sleep(50);
  }
  hold_for(child.dwProcessId, child_created);  // the process id is unknown now
  expect_not_blocked("vanished holder");
  hold_for(GetCurrentProcessId(), creation_time(GetCurrentProcess()) + 1);  // id reused
  expect_not_blocked("reused process id");

  // The library's mutex abandoned by a process that died holding it.
  PROCESS_INFORMATION abandoner = start_self("--abandon-lock");
  CHECK(wait_for_exit(abandoner, 60000) == 0, "the lock-taking child ended cleanly");
  CloseHandle(abandoner.hProcess);
  expect_not_blocked("abandoned mutex");
  note("dead holders and an abandoned lock do not block framed exports");
}

// The light selection, its warm-up poll and a few self-tests on the emulated
// scanner. Ends with the flatbed light ready, as the later checks expect.
void check_lamp_and_self_tests(const Dll& dll, MappingView& block) {
  const Exports& x = dll.x;
  CHECK(x.FindScannerEx(nullptr, kSimPath, QRX7730_USB_PRODUCT_ID) == QRX_TRUE, "reopen sim:");
  CHECK(x.SetLamp(nullptr, QRX_LAMP_FILM) == QRX_FALSE, "SetLamp(4) is refused");
  CHECK(last_status(x) == QRX_E_NO_FILM_ADAPTER, "no film adapter: 0x%04X", last_status(x));
  CHECK(x.GetLampStatus(nullptr, 0) == QRX_FALSE, "the film light is not ready at once");
  CHECK(last_status(x) == QRX_LAMP_WARMING_UP, "first warm-up poll: 0x%04X", last_status(x));
  CHECK(x.SetLamp(nullptr, QRX_LAMP_FLATBED) == QRX_TRUE, "SetLamp(1)");
  CHECK(x.GetLampStatus(nullptr, 0) == QRX_TRUE, "the flatbed light is ready at once");
  CHECK(block.u8(kLamp) == QRX_LAMP_FLATBED && dll.section[kCopyLamp] == QRX_LAMP_FLATBED,
        "LampState 1 in the block and its shared copy");

  CHECK(x.TestScanner(nullptr, 51, 0, 0) == QRX_TRUE, "input-line test");
  CHECK(last_status(x) == 0x7F, "at home, nothing pressed: bit map 0x%04X", last_status(x));
  CHECK(x.TestScanner(nullptr, 56, 1, 0) == QRX_FALSE, "memory test with a parameter");
  CHECK(last_status(x) == QRX_E_PARAMETER, "refused with 0x%04X", last_status(x));
  CHECK(x.TestScanner(nullptr, 56, 0, 0) == QRX_TRUE, "memory test (status 0x%04X)",
        last_status(x));
  CHECK(x.TestScanner(nullptr, 50, 3, 0) == QRX_FALSE && last_status(x) == QRX_E_PARAMETER,
        "uniformity test with an unknown parameter is refused");
  CHECK(x.TestScanner(nullptr, 57, 5, 0) == QRX_TRUE && last_status(x) == QRX_OK,
        "a short move with parameter 5 does nothing");
  CHECK(block.u32(kBusy) == 0, "the busy flag is free after the tests");
  note("light selection, warm-up poll and self-tests answer");
}

int run_parent() {
  Dll dll = load_dll();
  // Nobody else has loaded the DLL: the section holds the image's initial bytes.
  CHECK(dll.section[kCopyLamp] == 0 && dll.section[kCopyScanPosition] == 3,
        "initial shared copies 0 and 3, found %u and %u", dll.section[kCopyLamp],
        dll.section[kCopyScanPosition]);
  check_interface(dll);
  check_find_refusals(dll);

  const Exports& x = dll.x;
  // "sim:" is the emulated scanner built into the library.
  CHECK(x.FindScannerEx(nullptr, kSimPath, QRX7730_USB_PRODUCT_ID) == QRX_TRUE,
        "FindScannerEx(\"sim:\") opens the built-in emulated scanner (status 0x%04X)",
        last_status(x));
  CHECK(last_status(x) == QRX_OK, "FindScannerEx(sim:) leaves status 0");
  CHECK(x.GetOPUMode(nullptr, nullptr) == QRX_FALSE, "refusal before the second open");
  CHECK(x.FindScannerEx(nullptr, kSimPath, QRX7730_USB_PRODUCT_ID) == QRX_TRUE,
        "a second FindScannerEx(sim:) succeeds at once");
  CHECK(last_status(x) == QRX_E_NULL_ARGUMENT, "the second open leaves LastError");

  MappingView block, owner;
  CHECK(block.open(block_name(kSimPath), kBlockSize), "the block %s exists (error %lu)",
        block_name(kSimPath).c_str(), block.os_error());
  check_block_values(block, 0, 0, 0, 3, 1, "fresh sim: block");
  CHECK(owner.open(block_name(kSimPath) + "_Owner", kOwnerSize), "the holder record exists");
  CHECK(owner.u32(kOwnerProcess) == 0, "no holder recorded after the frame");
  CHECK(dll.section[kCopyLamp] == 1 && dll.section[kCopyScanPosition] == 3 &&
            section_u32(dll, kCopyBusy) == 0,
        "shared copies after FindScannerEx: lamp %u, position %u, busy %u", dll.section[kCopyLamp],
        dll.section[kCopyScanPosition], section_u32(dll, kCopyBusy));

  check_frame_waits(dll, block, owner);
  check_dead_holder(dll, block, owner);
  check_lamp_and_self_tests(dll, block);

  // Another process sees this one's block values and shared copies, and the other way round.
  block.set_u16(kHomeOffset, kHomeMark);
  CHECK(x.FindScannerEx(nullptr, kSimPath, QRX7730_USB_PRODUCT_ID) == QRX_TRUE, "reopen sim:");
  CHECK(block.u16(kHomeOffset) == kHomeMark, "reopening an existing block keeps its values");
  CHECK(section_u16(dll, kCopyHome) == kHomeMark, "the home offset read was copied");
  PROCESS_INFORMATION child = start_self("--shared-child");
  CHECK(wait_for_exit(child, 120000) == 0, "the second process passed its checks");
  CloseHandle(child.hProcess);
  CHECK(section_u16(dll, kCopyAux) == kAuxMark,
        "the other process's copy of HomeOffsetAux shows here: 0x%04X", section_u16(dll, kCopyAux));
  CHECK(block.u16(kHomeOffsetAux) == kAuxMark, "the other process's block write shows here");

  // The block lives while someone holds it: once nobody does, it starts afresh.
  CHECK(x.TerminateScanner(nullptr) == QRX_TRUE, "TerminateScanner");
  CHECK(x.FindScannerEx(nullptr, kMissingPath, QRX7730_USB_PRODUCT_ID) == QRX_FALSE,
        "switch the library to another block");
  block.close();
  owner.close();
  CHECK(!mapping_exists(block_name(kSimPath)), "the sim: block is gone with its last holder");
  CHECK(x.FindScannerEx(nullptr, kSimPath, QRX7730_USB_PRODUCT_ID) == QRX_TRUE, "reopen sim:");
  CHECK(block.open(block_name(kSimPath), kBlockSize), "the sim: block exists again");
  check_block_values(block, 0, 0, 0, 3, 1, "recreated sim: block");
  note("all checks passed");
  return 0;
}

int run_shared_child() {
  set_process_tag("child");
  Dll dll = load_dll();
  // Before this process calls anything, its section already holds the parent's copies.
  CHECK(section_u16(dll, kCopyHome) == kHomeMark,
        "the parent's copy of HomeOffset shows in this process: 0x%04X",
        section_u16(dll, kCopyHome));
  CHECK(dll.section[kCopyScanPosition] == 3 && dll.section[kCopyLamp] == 1,
        "the parent's copies of the scan position and lamp state");
  MappingView block;
  CHECK(block.open(block_name(kSimPath), kBlockSize), "the parent's block is visible here");
  CHECK(block.u16(kHomeOffset) == kHomeMark, "the parent's block value");

  block.set_u16(kHomeOffsetAux, kAuxMark);
  dll.x.FindScannerEx(nullptr, kSimPath, QRX7730_USB_PRODUCT_ID);
  check_block_values(block, kHomeMark, kAuxMark, 0, 3, 1, "block opened by a second process");
  CHECK(section_u16(dll, kCopyAux) == kAuxMark, "this process copied HomeOffsetAux");
  CHECK(call_get_opu_mode(dll.x) == QRX_TRUE, "a framed export in the second process");
  note("sees the parent's block and shared section");
  return 0;
}

int run_abandon_lock() {
  set_process_tag("abandoner");
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, kMutexName);
  CHECK(mutex != nullptr, "the library's mutex exists");
  CHECK(WaitForSingleObject(mutex, 10000) == WAIT_OBJECT_0, "took the library's mutex");
  return 0;  // ends holding it
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--exit-at-once") == 0) return 0;
  if (argc > 1 && std::strcmp(argv[1], "--shared-child") == 0) return run_shared_child();
  if (argc > 1 && std::strcmp(argv[1], "--abandon-lock") == 0) return run_abandon_lock();
  return run_parent();
}
