// File-system locations on Windows: GetTempPathA, the module file name of
// QRX7730L.DLL, the install directory from the registry, environment variables.
#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "platform/paths.h"

namespace qrx::platform {
namespace {

constexpr const char kLibraryModuleName[] = "QRX7730L.DLL";
constexpr const char kInstallKey[] = "SOFTWARE\\Quarn\\Imagent\\Devices\\QRX7730";
constexpr const char kInstallValue[] = "InstallDirectory";
// Query access in the 32-bit view of the registry (KEY_QUERY_VALUE | KEY_WOW64_32KEY).
constexpr REGSAM kInstallKeyAccess = 0x201;
// The data file's directory must fit a 1024-byte path buffer with its terminator.
constexpr size_t kInstallDirectoryLimit = 1023;
// Longest module file name asked for (the extended-length path limit).
constexpr DWORD kModuleNameLimit = 32768;

static_assert(kInstallKeyAccess == (KEY_QUERY_VALUE | KEY_WOW64_32KEY));

// Calls fill(buffer, capacity), which returns the characters written without the
// terminator or, when the buffer is too small, the size it needs (the convention
// of GetTempPathA and GetEnvironmentVariableA); 0 means failure or empty.
template <class Fill>
std::string query_growing(Fill fill) {
  try {
    std::vector<char> buffer(MAX_PATH + 1);
    for (int attempt = 0; attempt < 4; ++attempt) {
      const DWORD capacity = static_cast<DWORD>(buffer.size());
      const DWORD length = fill(buffer.data(), capacity);
      if (length == 0) return {};
      if (length < capacity) return std::string(buffer.data(), length);
      buffer.resize(static_cast<size_t>(length) + 1);  // the value grew meanwhile: ask again
    }
  } catch (...) {
  }
  return {};
}

HMODULE library_module() {
  HMODULE module = GetModuleHandleA(kLibraryModuleName);
  if (module != nullptr) return module;
  // Built into a program or loaded under another name: the module holding this code.
  if (GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&library_module), &module)) {
    return module;
  }
  return nullptr;
}

// Reads a string value of an open key; empty when it is missing, not a string,
// or longer than limit characters (a cut path would name the wrong place).
std::string read_string_value(HKEY key, const char* name, size_t limit) {
  try {
    for (int attempt = 0; attempt < 4; ++attempt) {
      DWORD type = 0;
      DWORD size = 0;
      if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
      if (type != REG_SZ && type != REG_EXPAND_SZ) return {};
      // Room for a terminator the stored value may lack.
      std::vector<char> data(static_cast<size_t>(size) + 1, '\0');
      DWORD got = size;
      const LONG rc =
          RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
      if (rc == ERROR_MORE_DATA) continue;  // changed between the two queries
      if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
      std::string value(data.data());  // up to the first terminator
      if (type == REG_EXPAND_SZ) {
        value = query_growing([&](char* buffer, DWORD capacity) -> DWORD {
          const DWORD needed = ExpandEnvironmentStringsA(data.data(), buffer, capacity);
          // The count includes the terminator; map it to the common convention.
          if (needed == 0) return 0;
          return needed <= capacity ? needed - 1 : needed;
        });
      }
      if (value.size() > limit) return {};
      return value;
    }
  } catch (...) {
  }
  return {};
}

bool is_plain_component(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '-' || c == '%' || c == '~';
    if (!plain) return false;
  }
  return true;
}

}  // namespace

char path_separator() {
  return '\\';
}

std::string temp_directory() {
  std::string directory =
      query_growing([](char* buffer, DWORD capacity) { return GetTempPathA(capacity, buffer); });
  if (directory.empty()) return {};
  try {
    if (directory.back() != '\\' && directory.back() != '/') directory.push_back('\\');
  } catch (...) {
    return {};
  }
  return directory;
}

std::string private_subdirectory(const std::string& name) {
  if (!is_plain_component(name)) return {};
  const std::string parent = temp_directory();
  if (parent.empty()) return {};
  try {
    const std::string directory = parent + name;
    // Created with the temporary directory's own access rules (the user's profile).
    if (!CreateDirectoryA(directory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return {};
    }
    // A junction or link planted at the name would lead elsewhere: refuse it.
    const DWORD attributes = GetFileAttributesA(directory.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return {};
    }
    return directory + "\\";
  } catch (...) {
    return {};
  }
}

std::string canonical_path(const std::string& path) {
  if (path.empty()) return path;
  const std::string full = query_growing([&](char* buffer, DWORD capacity) {
    return GetFullPathNameA(path.c_str(), capacity, buffer, nullptr);
  });
  return full.empty() ? path : full;
}

std::string library_path() {
  HMODULE module = library_module();
  if (module == nullptr) return {};
  try {
    std::vector<char> buffer(MAX_PATH + 1);
    while (buffer.size() <= kModuleNameLimit) {
      const DWORD capacity = static_cast<DWORD>(buffer.size());
      const DWORD length = GetModuleFileNameA(module, buffer.data(), capacity);
      if (length == 0) return {};
      // A name that filled the whole buffer may have been cut: ask with more room.
      if (length < capacity) return std::string(buffer.data(), length);
      buffer.resize(buffer.size() * 2);
    }
  } catch (...) {
  }
  return {};
}

std::string install_directory() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, kInstallKeyAccess, &key) != ERROR_SUCCESS) {
    return {};
  }
  std::string directory = read_string_value(key, kInstallValue, kInstallDirectoryLimit);
  RegCloseKey(key);
  return directory;
}

std::string environment(const char* name) {
  if (name == nullptr) return {};
  return query_growing([name](char* buffer, DWORD capacity) {
    return GetEnvironmentVariableA(name, buffer, capacity);
  });
}

}  // namespace qrx::platform
