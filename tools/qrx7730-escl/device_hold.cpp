// The device hold (see device_hold.h). The name must stay the one the SANE
// backend uses: "qrx7730-sane:" and the device path, or a hash of the path when
// that would not fit an abstract address.
#include "device_hold.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace qrx::escl {
namespace {

constexpr char kPrefix[] = "qrx7730-sane:";

uint64_t fnv1a(const std::string& text) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

std::string DeviceHold::name_for(const std::string& device_path) {
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

std::unique_ptr<DeviceHold> DeviceHold::try_take(const std::string& device_path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::unique_ptr<DeviceHold>(new DeviceHold(-1));
  const std::string name = name_for(device_path);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const socklen_t length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    const int error = errno;
    close(fd);
    if (error == EADDRINUSE) return nullptr;
    return std::unique_ptr<DeviceHold>(new DeviceHold(-1));
  }
  return std::unique_ptr<DeviceHold>(new DeviceHold(fd));
}

DeviceHold::~DeviceHold() {
  if (socket_ >= 0) close(socket_);
}

}  // namespace qrx::escl
