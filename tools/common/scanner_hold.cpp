// The scanner hold (see scanner_hold.h).
#include "common/scanner_hold.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace qrx::hosts {
namespace {

// The name began with the SANE backend, the first host to hold the scanner; every
// host keeps it, so that hosts of different versions still see each other's hold.
constexpr char kPrefix[] = "qrx7730-sane:";

// Names longer than an abstract address holds are shortened to a hash.
uint64_t fnv1a(const std::string& text) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

std::string scanner_hold_name(const std::string& device_path) {
  std::string name = kPrefix + device_path;
  constexpr size_t kRoom = sizeof(sockaddr_un::sun_path) - 1;
  if (name.size() > kRoom) {
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx",
                  static_cast<unsigned long long>(fnv1a(device_path)));
    name = std::string(kPrefix) + "#" + hash;
  }
  return name;
}

int take_scanner_hold(const std::string& device_path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const std::string name = scanner_hold_name(device_path);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const socklen_t length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace qrx::hosts
