// File-system locations on POSIX.
#include "platform/paths.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace qrx::platform {

char path_separator() {
  return '/';
}

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

namespace {

// Makes directory (created private to the user when missing) and checks that it
// is a plain directory of the user's, closed to everyone else; with a separator
// appended, or empty when it is not safe.
std::string private_directory(const std::string& directory, uid_t uid) {
  if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return {};
  struct stat st {};
  if (lstat(directory.c_str(), &st) != 0) return {};
  // Not a plain directory of ours (a link, a file, someone else's): refuse it.
  if (!S_ISDIR(st.st_mode) || st.st_uid != uid) return {};
  if ((st.st_mode & 077) != 0 && chmod(directory.c_str(), 0700) != 0) return {};
  return directory + "/";
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

std::string temp_directory() {
  // The shared /tmp is open to every user: files with fixed names there could be
  // planted or linked by someone else. Keep ours in a directory of our own.
  std::string base = environment("TMPDIR");
  if (base.empty() || base.front() != '/') base = "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  const uid_t uid = getuid();
  return private_directory(base + "/qrx7730-" + std::to_string(uid), uid);
}

std::string private_subdirectory(const std::string& name) {
  if (!is_plain_component(name)) return {};
  const std::string parent = temp_directory();
  if (parent.empty()) return {};
  return private_directory(parent + name, getuid());
}

std::string canonical_path(const std::string& path) {
  if (path.empty()) return path;
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

std::string library_path() {
  Dl_info info{};
  // The address of this function lies inside the loaded library (or program).
  if (dladdr(reinterpret_cast<void*>(&library_path), &info) == 0 || info.dli_fname == nullptr) {
    return {};
  }
  std::string name = info.dli_fname;
  if (!name.empty() && name.front() != '/') {
    char resolved[PATH_MAX];
    if (realpath(name.c_str(), resolved) != nullptr) name = resolved;
  }
  return name;
}

std::string install_directory() {
  return environment("QRX7730_INSTALL_DIR");
}

}  // namespace qrx::platform
