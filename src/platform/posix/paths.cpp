// File-system locations on POSIX.
#include "platform/paths.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace qrx::platform {

char path_separator() { return '/'; }

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string temp_directory() {
  // The shared /tmp is open to every user: files with fixed names there could be
  // planted or linked by someone else. Keep ours in a directory of our own.
  std::string base = environment("TMPDIR");
  if (base.empty() || base.front() != '/') base = "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  const uid_t uid = getuid();
  std::string directory = base + "/qrx7730-" + std::to_string(uid);
  if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return {};
  struct stat st{};
  if (lstat(directory.c_str(), &st) != 0) return {};
  // Not a plain directory of ours (a link, a file, someone else's): refuse it.
  if (!S_ISDIR(st.st_mode) || st.st_uid != uid) return {};
  if ((st.st_mode & 077) != 0 && chmod(directory.c_str(), 0700) != 0) return {};
  return directory + "/";
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

std::string install_directory() { return environment("QRX7730_INSTALL_DIR"); }

}  // namespace qrx::platform
