// The file object of the shading store: one open stream or none. Opening retries a
// few times (another process may be replacing the file that moment), reads and
// writes on a closed object do nothing, and the stream is closed on every way out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace qrx::calibration {

// Moves the file at from over the one at to (platform::replace_file), retried like an
// open: on Windows a reader that has the old file open that moment blocks the move.
bool replace_with_retries(const std::string& from, const std::string& to);

class StoreFile {
 public:
  // Opens after the first failure this many more times, this far apart.
  static constexpr int kRetries = 5;
  static constexpr uint32_t kRetryMs = 10;

  StoreFile() = default;
  ~StoreFile() { close(); }
  StoreFile(const StoreFile&) = delete;
  StoreFile& operator=(const StoreFile&) = delete;

  // Closes any stream held, then opens path with an fopen mode through
  // platform::open_private_file (no links, only the user's own regular files). A path
  // that cannot name a file (empty, or ending with a separator) fails at once.
  bool open(const std::string& path, const char* mode);
  // Closes any stream held, then creates a new private file whose name is path
  // followed by a unique suffix, open for writing; retried like open. Its name is
  // created_path() until the next open or create.
  bool create_beside(const std::string& path);

  bool is_open() const { return file_ != nullptr; }
  const std::string& created_path() const { return created_; }

  // Elements moved; 0 without a stream.
  size_t read(void* buffer, size_t element_size, size_t count);
  size_t write(const void* buffer, size_t element_size, size_t count);
  // To an absolute offset from the start; false without a stream.
  bool seek(uint64_t offset);
  // Size of the open file in bytes (the position is kept); false when unknown.
  bool size(uint64_t& bytes);
  // Makes what was written durable; false without a stream or on a write error.
  bool flush();
  // Closes the stream; false when there was none or closing reported an error
  // (buffered data not written).
  bool close();

 private:
  std::FILE* file_ = nullptr;
  std::string created_;
};

}  // namespace qrx::calibration
