// ScopedTempDir: a fresh directory for a test, used as TMPDIR (so the library's
// private temporary directory lies inside it) and removed afterwards.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace qrx::test {

class ScopedTempDir {
 public:
  ScopedTempDir() {
    char pattern[] = "/tmp/qrx-test-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
    const char* old = getenv("TMPDIR");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    setenv("TMPDIR", path_.c_str(), 1);
  }
  ~ScopedTempDir() {
    if (had_old_) {
      setenv("TMPDIR", old_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    if (!path_.empty()) {
      const std::string command = "rm -rf '" + path_ + "'";
      if (std::system(command.c_str()) != 0) {
        // Best effort: a leftover directory under /tmp does no harm.
      }
    }
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::string& path() const { return path_; }
  // The library's own directory inside it.
  std::string library_dir() const { return path_ + "/qrx7730-" + std::to_string(getuid()) + "/"; }

 private:
  std::string path_;
  std::string old_;
  bool had_old_ = false;
};

}  // namespace qrx::test
