// Reading installed files on Windows: the file system holds no FIFOs, and a
// directory does not open as a file.
#include "platform/regular_file.h"

namespace qrx::platform {

std::FILE* open_regular_file(const std::string& path) {
  if (path.empty()) return nullptr;
  return std::fopen(path.c_str(), "rb");
}

}  // namespace qrx::platform
