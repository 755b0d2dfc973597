// Safe OS object names for any device path.
//
// The lowered device path (backslashes removed, A-Z lowered) can hold any byte,
// including '/', '%' and control characters. On POSIX the name is built from it by
// keeping letters, digits, '.', '_' and '-' and writing every other byte as %XX,
// so that no path can reach outside the shared-memory namespace; a name that
// would grow too long keeps its first part and ends with a hash of the whole path.
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/object_name.h"

namespace qrx::platform {

std::string encode_for_object_name(const std::string& text, size_t limit) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '.' || c == '_' || c == '-';
    if (safe) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  if (out.size() <= limit) return out;
  // FNV-1a over the whole text keeps distinct long paths apart.
  uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char suffix[20];
  std::snprintf(suffix, sizeof suffix, "~%016llx", static_cast<unsigned long long>(hash));
  out.resize(limit - 17);
  // Do not leave a cut %XX escape behind.
  size_t percent = out.rfind('%');
  if (percent != std::string::npos && percent + 3 > out.size()) out.resize(percent);
  return out + suffix;
}

}  // namespace qrx::platform
