// What the fuzz targets share: a private temporary directory for the library's
// files (removed when the fuzzer exits), the data file found in the build tree, a
// reader of the input's bytes, and the in-process scanner opened through the
// exports on a clock of the target's choice.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "emulator/inprocess.h"
#include "emulator/options.h"
#include "platform/clock.h"
#include "qrx7730.h"

namespace qrx::fuzz {

// Reads the fuzzer's input front to back; past its end every value is 0.
class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t u16() { return static_cast<uint16_t>(u8() | u8() << 8); }
  uint32_t u32() { return u16() | static_cast<uint32_t>(u16()) << 16; }
  size_t left() const { return size_ - at_; }
  const uint8_t* rest() const { return data_ + at_; }
  void skip(size_t n) { at_ += n < left() ? n : left(); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// A fresh directory as TMPDIR (the library keeps its shading and counter files in
// its own directory below it), and the data file beside the library of the build.
inline const std::string& scratch_directory() {
  // Kept for the whole run (never destroyed): the exit handler below still needs it.
  static const std::string* const path = [] {
    char pattern[] = "/tmp/qrx-fuzz-XXXXXX";
    auto* made = new std::string(mkdtemp(pattern) != nullptr ? pattern : "");
    if (made->empty()) std::abort();
    setenv("TMPDIR", made->c_str(), 1);
    setenv("QRX7730_INSTALL_DIR", QRX_FUZZ_DATA_DIR, 1);
    std::atexit([] {
      const std::string command = "rm -rf '" + scratch_directory() + "'";
      if (std::system(command.c_str()) != 0) {
        // A directory left under /tmp does no harm.
      }
    });
    return made;
  }();
  return *path;
}

// The library's own directory inside the scratch directory.
inline std::string library_directory() {
  return scratch_directory() + "/qrx7730-" + std::to_string(getuid()) + "/";
}

// Writes bytes to path (replacing it); false when that fails.
inline bool write_file(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

// A fresh in-process scanner, opened and initialised through the exports under a
// device path of this process; aborts when that fails (nothing could be fuzzed).
// Unless the target has installed a clock of its own, a virtual clock is installed
// first, on which the carriage's moves cost no wall time.
inline void open_scanner(bool own_clock = false) {
  if (!own_clock) {
    static platform::VirtualClock clock;
    static platform::ScopedClock installed(clock);
  }
  scratch_directory();
  const emu::Options options;
  if (emu::reset_inprocess_scanner(options) == nullptr) std::abort();
  const std::string path = "sim:#fuzz-" + std::to_string(getpid());
  TerminateScanner(nullptr);
  if (!FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID) ||
      !InitializeScanner(nullptr)) {
    uint16_t status = 0;
    GetScannerStatus(nullptr, &status);
    std::fprintf(stderr, "cannot open the emulated scanner: 0x%04X\n", status);
    std::abort();
  }
}

inline uint16_t last_error() {
  uint16_t status = 0;
  GetScannerStatus(nullptr, &status);
  return status;
}

// Stops the fuzzer with a message: a property the target checks does not hold.
[[noreturn]] inline void fail(const char* what, unsigned long long a = 0,
                              unsigned long long b = 0) {
  std::fprintf(stderr, "fuzz check failed: %s (%llu, %llu)\n", what, a, b);
  std::abort();
}

}  // namespace qrx::fuzz
