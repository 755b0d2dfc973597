// The stored scan origin (see origin_file.h).
#include "calibration/origin_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "calibration/calibration_store.h"
#include "calibration/shading_files_io.h"

namespace qrx::calibration {
namespace {

constexpr char kTag[4] = {'Q', 'R', 'X', 'O'};
constexpr size_t kFileBytes = 9;

}  // namespace

std::string origin_file_path(const transport::ScannerContext& context) {
  const std::string directory = store_directory(context);
  return directory.empty() ? directory : directory + "QRX7730O.dat";
}

bool load_origin(const transport::ScannerContext& context, uint16_t& home_offset,
                 uint16_t& home_offset_aux) {
  StoreFile file;
  uint8_t bytes[kFileBytes + 1];
  // One byte more than the layout is asked for: getting it means the file is longer.
  if (!file.open(origin_file_path(context), "rb") ||
      file.read(bytes, 1, sizeof bytes) != kFileBytes) {
    return false;
  }
  if (std::memcmp(bytes, kTag, sizeof kTag) != 0 || bytes[4] != context.link.port_type()) {
    return false;
  }
  const uint16_t home = static_cast<uint16_t>(bytes[5] | bytes[6] << 8);
  const uint16_t aux = static_cast<uint16_t>(bytes[7] | bytes[8] << 8);
  if (home == 0) return false;
  home_offset = home;
  home_offset_aux = aux;
  return true;
}

bool save_origin(const transport::ScannerContext& context, uint16_t home_offset,
                 uint16_t home_offset_aux) {
  const std::string path = origin_file_path(context);
  if (path.empty()) return false;
  uint8_t bytes[kFileBytes];
  std::memcpy(bytes, kTag, sizeof kTag);
  bytes[4] = static_cast<uint8_t>(context.link.port_type());
  bytes[5] = static_cast<uint8_t>(home_offset);
  bytes[6] = static_cast<uint8_t>(home_offset >> 8);
  bytes[7] = static_cast<uint8_t>(home_offset_aux);
  bytes[8] = static_cast<uint8_t>(home_offset_aux >> 8);
  // A fresh private file beside the real one, made durable, then moved over it.
  StoreFile file;
  if (!file.create_beside(path)) return false;
  const bool written =
      file.write(bytes, 1, sizeof bytes) == sizeof bytes && file.flush() && file.close();
  if (!written || !replace_with_retries(file.created_path(), path)) {
    file.close();
    std::remove(file.created_path().c_str());
    return false;
  }
  return true;
}

bool forget_origin(const transport::ScannerContext& context) {
  const std::string path = origin_file_path(context);
  if (path.empty()) return false;
  return std::remove(path.c_str()) == 0 || errno == ENOENT;
}

}  // namespace qrx::calibration
