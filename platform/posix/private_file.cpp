// The user's own files on POSIX: opened without following links and only when they
// are regular files of this user; written under a fresh name and renamed in place.
#include "platform/private_file.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace qrx::platform {
namespace {

std::atomic<bool> g_full_disk{false};

struct OpenMode {
  int flags = 0;
  const char* stdio_mode = nullptr;
  bool writable = false;
  bool truncate = false;
};

bool parse_mode(const char* mode, OpenMode& out) {
  if (mode == nullptr) return false;
  if (std::strcmp(mode, "rb") == 0 || std::strcmp(mode, "r") == 0) {
    out = {O_RDONLY, "rb", false, false};
  } else if (std::strcmp(mode, "rb+") == 0 || std::strcmp(mode, "r+b") == 0 ||
             std::strcmp(mode, "r+") == 0) {
    out = {O_RDWR, "r+b", true, false};
  } else if (std::strcmp(mode, "wb") == 0 || std::strcmp(mode, "w") == 0) {
    // No O_TRUNC here: the file is emptied only after it proved to be ours.
    out = {O_WRONLY | O_CREAT, "wb", true, true};
  } else {
    return false;
  }
  return true;
}

// The descriptor must name a plain file of this user; one that can be written must
// not have other names (a hard link planted to one of the user's files elsewhere).
bool is_own_regular_file(int fd, bool writable) {
  struct stat st{};
  if (fstat(fd, &st) != 0) return false;
  if (!S_ISREG(st.st_mode) || st.st_uid != geteuid()) return false;
  if (writable && st.st_nlink != 1) return false;
  return true;
}

void close_keeping_errno(int fd) {
  const int saved = errno;
  ::close(fd);
  errno = saved;
}

}  // namespace

std::FILE* open_private_file(const std::string& path, const char* mode) {
  OpenMode m;
  if (path.empty() || !parse_mode(mode, m)) {
    errno = EINVAL;
    return nullptr;
  }
  // O_NONBLOCK: a FIFO planted at the name must not hang the open; it is refused
  // below like any other file that is not a regular file.
  const int fd = ::open(path.c_str(), m.flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) return nullptr;
  if (!is_own_regular_file(fd, m.writable)) {
    close_keeping_errno(fd);
    errno = EPERM;
    return nullptr;
  }
  const int status = fcntl(fd, F_GETFL);
  if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0 ||
      (m.truncate && ftruncate(fd, 0) != 0)) {
    close_keeping_errno(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, m.stdio_mode);
  if (file == nullptr) close_keeping_errno(fd);
  return file;
}

std::FILE* create_private_file(const std::string& path_prefix, std::string& created_path) {
  if (path_prefix.empty()) {
    errno = EINVAL;
    return nullptr;
  }
  // mkostemp creates the name exclusively (never through a link) with mode 0600.
  std::string name;
  try {
    name = path_prefix + ".XXXXXX";
  } catch (...) {
    errno = ENOMEM;
    return nullptr;
  }
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::FILE* file = nullptr;
  if (is_own_regular_file(fd, true)) file = fdopen(fd, "wb");
  if (file == nullptr) {
    close_keeping_errno(fd);
    ::unlink(name.data());
    return nullptr;
  }
  created_path.swap(name);
  return file;
}

bool replace_file(const std::string& from, const std::string& to) {
  return !from.empty() && !to.empty() && std::rename(from.c_str(), to.c_str()) == 0;
}

bool flush_file(std::FILE* file) {
  if (file == nullptr) return false;
  if (g_full_disk.load()) {
    __fpurge(file);
    errno = ENOSPC;
    return false;
  }
  if (std::fflush(file) != 0) return false;
  return fsync(fileno(file)) == 0;
}

void simulate_full_disk(bool on) { g_full_disk.store(on); }

}  // namespace qrx::platform
