// The shading store's file object over the platform's private files.
#include "calibration/shading_files_io.h"

#include <climits>
#include <utility>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/private_file.h"

namespace qrx::calibration {
namespace {

bool names_a_file(const std::string& path) {
  return !path.empty() && path.back() != platform::path_separator() && path.back() != '/';
}

// Runs attempt() once and then up to kRetries more times, 10 ms apart.
template <class Attempt>
std::FILE* with_retries(Attempt attempt) {
  std::FILE* file = attempt();
  for (int retry = 0; file == nullptr && retry < StoreFile::kRetries; ++retry) {
    platform::clock().sleep_ms(StoreFile::kRetryMs);
    file = attempt();
  }
  return file;
}

}  // namespace

bool replace_with_retries(const std::string& from, const std::string& to) {
  bool moved = platform::replace_file(from, to);
  for (int retry = 0; !moved && retry < StoreFile::kRetries; ++retry) {
    platform::clock().sleep_ms(StoreFile::kRetryMs);
    moved = platform::replace_file(from, to);
  }
  return moved;
}

bool StoreFile::open(const std::string& path, const char* mode) {
  close();
  created_.clear();
  if (!names_a_file(path)) return false;
  file_ = with_retries([&] { return platform::open_private_file(path, mode); });
  return file_ != nullptr;
}

bool StoreFile::create_beside(const std::string& path) {
  close();
  created_.clear();
  if (!names_a_file(path)) return false;
  std::string name;
  file_ = with_retries([&] { return platform::create_private_file(path, name); });
  if (file_ != nullptr) created_ = std::move(name);
  return file_ != nullptr;
}

size_t StoreFile::read(void* buffer, size_t element_size, size_t count) {
  if (file_ == nullptr || buffer == nullptr) return 0;
  return std::fread(buffer, element_size, count, file_);
}

size_t StoreFile::write(const void* buffer, size_t element_size, size_t count) {
  if (file_ == nullptr || buffer == nullptr) return 0;
  return std::fwrite(buffer, element_size, count, file_);
}

bool StoreFile::seek(uint64_t offset) {
  if (file_ == nullptr || offset > static_cast<uint64_t>(LONG_MAX)) return false;
  return std::fseek(file_, static_cast<long>(offset), SEEK_SET) == 0;
}

bool StoreFile::size(uint64_t& bytes) {
  if (file_ == nullptr) return false;
  const long here = std::ftell(file_);
  if (here < 0 || std::fseek(file_, 0, SEEK_END) != 0) return false;
  const long end = std::ftell(file_);
  if (std::fseek(file_, here, SEEK_SET) != 0 || end < 0) return false;
  bytes = static_cast<uint64_t>(end);
  return true;
}

bool StoreFile::flush() {
  return file_ != nullptr && std::ferror(file_) == 0 && platform::flush_file(file_);
}

bool StoreFile::close() {
  if (file_ == nullptr) return false;
  const bool clean = std::ferror(file_) == 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return clean && closed;
}

}  // namespace qrx::calibration
