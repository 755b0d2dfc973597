// ScopedTempDir: a fresh directory for a test, used as TMPDIR (so the library's
// private temporary directory, and the scanners' directories in it, lie inside
// it) and removed afterwards.
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
  // The directory of one scanner's calibration inside that, for the device
  // identity the scanner's backend gives it (a short one: no hash is appended).
  std::string scanner_dir(const std::string& identity) const {
    return library_dir() + store_name_for(identity) + "/";
  }

  // The directory name of an identity as documented: letters, digits, '.', '_'
  // and '-' as they are, every other byte as %xx in lower-case hexadecimal.
  static std::string store_name_for(const std::string& identity) {
    static const char kHex[] = "0123456789abcdef";
    std::string name;
    for (unsigned char c : identity) {
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
          c == '_' || c == '-') {
        name += static_cast<char>(c);
      } else {
        name += '%';
        name += kHex[c >> 4];
        name += kHex[c & 15];
      }
    }
    return name;
  }

 private:
  std::string path_;
  std::string old_;
  bool had_old_ = false;
};

}  // namespace qrx::test
