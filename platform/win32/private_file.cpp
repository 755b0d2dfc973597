// The user's own files on Windows. They live in the temporary directory that
// GetTempPathA gives, which belongs to the user; files are written under a fresh
// name, committed to disk and moved over the old one in a single step.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/private_file.h"

namespace qrx::platform {
namespace {

const char* stdio_mode(const char* mode) {
  if (mode == nullptr) return nullptr;
  if (std::strcmp(mode, "rb") == 0 || std::strcmp(mode, "r") == 0) return "rb";
  if (std::strcmp(mode, "rb+") == 0 || std::strcmp(mode, "r+b") == 0 ||
      std::strcmp(mode, "r+") == 0) {
    return "r+b";
  }
  if (std::strcmp(mode, "wb") == 0 || std::strcmp(mode, "w") == 0) return "wb";
  return nullptr;
}

}  // namespace

std::FILE* open_private_file(const std::string& path, const char* mode) {
  const char* m = stdio_mode(mode);
  if (path.empty() || m == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  return std::fopen(path.c_str(), m);
}

std::FILE* create_private_file(const std::string& path_prefix, std::string& created_path) {
  if (path_prefix.empty()) {
    errno = EINVAL;
    return nullptr;
  }
  static volatile LONG sequence = 0;
  const DWORD process = GetCurrentProcessId();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const LONG serial = InterlockedIncrement(&sequence);
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".%lx-%lx-%lx", static_cast<unsigned long>(process),
                  static_cast<unsigned long>(serial),
                  static_cast<unsigned long>(GetTickCount() & 0xFFFF));
    std::string name;
    try {
      name = path_prefix + suffix;
    } catch (...) {
      errno = ENOMEM;
      return nullptr;
    }
    // _O_EXCL: only a name that did not exist is taken.
    const int fd = _open(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY | _O_NOINHERIT,
                         _S_IREAD | _S_IWRITE);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
      _close(fd);
      DeleteFileA(name.c_str());
      return nullptr;
    }
    created_path.swap(name);
    return file;
  }
  errno = EEXIST;
  return nullptr;
}

bool replace_file(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  return MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

namespace {
std::atomic<bool> g_full_disk{false};
}  // namespace

bool flush_file(std::FILE* file) {
  if (file == nullptr) return false;
  if (g_full_disk.load()) {
    errno = ENOSPC;
    return false;
  }
  if (std::fflush(file) != 0) return false;
  return _commit(_fileno(file)) == 0;
}

void simulate_full_disk(bool on) { g_full_disk.store(on); }

}  // namespace qrx::platform
