// The scanner library as the data source loads and drives it (see scanner_library.h).
#include "scanner_library.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace qrx::twain {
namespace {

constexpr char kDllName[] = "QRX7730L.DLL";
constexpr char kRegistryKey[] = "SOFTWARE\\Quarn\\Imagent\\Devices\\QRX7730";
// Tags of the ability items read here.
constexpr uint16_t kResolutionList = 13, kAreaUnit = 16, kFlatbed = 17;

uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t u32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// The directory this data source was loaded from, with a trailing backslash.
std::string own_directory() {
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&own_directory), &self);
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(self, path, sizeof path);
  if (n == 0 || n >= sizeof path) return std::string();
  std::string directory(path, n);
  const size_t slash = directory.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : directory.substr(0, slash + 1);
}

}  // namespace

std::vector<std::string> candidate_device_paths() {
  char value[QRX7730_MAX_DEVICE_PATH + 1];
  const DWORD n = GetEnvironmentVariableA("QRX7730_DEVICE", value, sizeof value);
  if (n > 0 && n < sizeof value) return {std::string(value, n)};
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegistryKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) ==
      ERROR_SUCCESS) {
    DWORD type = 0, size = sizeof value - 1;
    const LONG result = RegQueryValueExA(key, "DevicePath", nullptr, &type,
                                         reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (result == ERROR_SUCCESS && type == REG_SZ && size > 1) {
      value[size] = '\0';
      return {std::string(value)};
    }
  }
  std::vector<std::string> paths;
  for (int i = 0; i < 10; ++i) paths.push_back("\\\\.\\Usbscan" + std::to_string(i));
  return paths;
}

std::string describe_status(uint16_t status) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%04X", status);
  switch (status) {
    case QRX_E_SCANNER_IN_USE:
      return std::string("the scanner is in use by another program (") + code + ")";
    case QRX_E_DEVICE_OPEN:
      return std::string("the scanner cannot be opened: it is unplugged, switched off or not this model (") +
             code + ")";
    case QRX_E_CARRIAGE_MOVING:
    case QRX_E_SCAN_RUNNING:
    case QRX_E_CALIBRATING:
      return std::string("the scanner is busy (") + code + ")";
  }
  if ((status >> 8) == 0x9B) {
    return std::string("the scanner stopped answering or failed an operation (") + code + ")";
  }
  return std::string("the scanner library reported status ") + code;
}

ScannerLibrary::~ScannerLibrary() { close(); }

bool ScannerLibrary::load(std::string& error) {
  if (module_ != nullptr) return true;
  const std::string beside = own_directory() + kDllName;
  module_ = LoadLibraryExA(beside.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module_ == nullptr) module_ = LoadLibraryA(kDllName);
  if (module_ == nullptr) {
    error = std::string(kDllName) + " could not be loaded (error " +
            std::to_string(GetLastError()) + ")";
    return false;
  }
#define QRX_TWAIN_RESOLVE(name)                                                         \
  exports_.name = reinterpret_cast<decltype(exports_.name)>(                          \
      reinterpret_cast<void*>(GetProcAddress(module_, #name)));                       \
  if (exports_.name == nullptr) {                                                     \
    error = std::string(kDllName) + " lacks the export " #name;                        \
    FreeLibrary(module_);                                                             \
    module_ = nullptr;                                                                \
    return false;                                                                     \
  }
  QRX_TWAIN_EXPORTS(QRX_TWAIN_RESOLVE)
#undef QRX_TWAIN_RESOLVE
  return true;
}

uint16_t ScannerLibrary::status() const {
  uint16_t status = 0;
  exports_.GetScannerStatus(nullptr, &status);
  return status;
}

bool ScannerLibrary::take_hold(const std::string& path) {
  // One named object per device path, machine-wide: while it exists another
  // application uses the scanner. It goes with the handle, however the process ends.
  std::string name = "Global\\qrx7730-twain-hold-";
  for (char c : path) {
    name += (c == '\\' || c == '/' || c == ':') ? '_' : static_cast<char>(std::tolower(
                                                              static_cast<unsigned char>(c)));
  }
  HANDLE hold = CreateMutexA(nullptr, FALSE, name.c_str());
  if (hold == nullptr) hold = CreateMutexA(nullptr, FALSE, name.substr(7).c_str());  // Local
  if (hold == nullptr) return true;  // no holds at all: the library's own exclusion remains
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(hold);
    return false;
  }
  hold_ = hold;
  return true;
}

bool ScannerLibrary::open(std::string& error, bool& busy) {
  busy = false;
  if (open_) return true;
  if (!load(error)) return false;
  std::string last_error = "no scanner found";
  for (const std::string& path : candidate_device_paths()) {
    if (!take_hold(path)) {
      busy = true;
      last_error = "the scanner at " + path + " is in use by another application";
      continue;
    }
    if (while_moving([&] {
          return exports_.FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID);
        }) &&
        while_moving([&] { return exports_.InitializeScanner(nullptr); })) {
      path_ = path;
      open_ = true;
      busy = false;
      if (!read_abilities(error)) {
        close();
        return false;
      }
      return true;
    }
    last_error = "the scanner at " + path + ": " + describe_status(status());
    exports_.TerminateScanner(nullptr);
    if (hold_ != nullptr) CloseHandle(hold_);
    hold_ = nullptr;
  }
  error = last_error;
  return false;
}

void ScannerLibrary::close() {
  if (open_) exports_.TerminateScanner(nullptr);
  open_ = false;
  if (hold_ != nullptr) CloseHandle(hold_);
  hold_ = nullptr;
}

bool ScannerLibrary::read_abilities(std::string& error) {
  uint16_t size = 0;
  if (!exports_.GetScannerAbilitySize(nullptr, &size) || size < sizeof(AbilityItem)) {
    error = "the scanner reports no ability record";
    return false;
  }
  std::vector<uint8_t> stream(size);
  if (!exports_.GetScannerAbilityXp(nullptr, stream.data())) {
    error = "the scanner's ability record cannot be read";
    return false;
  }
  Abilities found;
  uint32_t unit = 0, width = 0, length = 0;
  for (size_t at = 0; size - at >= sizeof(AbilityItem);) {
    const uint16_t tag = u16(&stream[at]), kind = u16(&stream[at + 2]);
    const uint16_t bytes = u16(&stream[at + 4]), value = u16(&stream[at + 6]);
    at += sizeof(AbilityItem);
    if (kind == QRX_ABILITY_KIND_END || tag == QRX_ABILITY_TAG_END) break;
    const uint8_t* payload = &stream[at];
    if (kind == QRX_ABILITY_KIND_BYTES || kind == QRX_ABILITY_KIND_BLOCK) {
      if (size - at < bytes) break;
      at += bytes;
    }
    if (tag == kResolutionList) {
      for (size_t i = 0; i + 4 <= bytes; i += 4) found.resolutions.push_back(u16(payload + i));
    } else if (tag == kAreaUnit) {
      unit = value;
    } else if (tag == kFlatbed && bytes >= 16) {
      width = u32(payload + 8);
      length = u32(payload + 12);
    }
  }
  std::sort(found.resolutions.begin(), found.resolutions.end());
  found.resolutions.erase(std::unique(found.resolutions.begin(), found.resolutions.end()),
                          found.resolutions.end());
  if (found.resolutions.empty() || unit == 0 || width == 0 || length == 0) {
    error = "the scanner's ability record lacks its resolutions or the size of its glass";
    return false;
  }
  found.glass_width_in = double(width) / unit;
  found.glass_length_in = double(length) / unit;
  abilities_ = std::move(found);
  return true;
}

}  // namespace qrx::twain
