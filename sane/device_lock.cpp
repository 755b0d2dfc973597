// The device hold (see device_lock.h).
#include "device_lock.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "debug_log.h"

namespace qrx::sane {
namespace {

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

std::string DeviceLock::name_for(const std::string& device_path) {
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

std::unique_ptr<DeviceLock> DeviceLock::try_take(const std::string& device_path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    // Without a hold the library still keeps callers apart call by call.
    debug(kLogError, "cannot make the hold on %s: %s", device_path.c_str(), std::strerror(errno));
    return std::unique_ptr<DeviceLock>(new DeviceLock(-1));
  }
  const std::string name = name_for(device_path);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const socklen_t length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    const int error = errno;
    close(fd);
    if (error == EADDRINUSE) {
      debug(kLogInfo, "%s is held by another front end", device_path.c_str());
      return nullptr;
    }
    debug(kLogError, "cannot hold %s: %s", device_path.c_str(), std::strerror(error));
    return std::unique_ptr<DeviceLock>(new DeviceLock(-1));
  }
  return std::unique_ptr<DeviceLock>(new DeviceLock(fd));
}

DeviceLock::~DeviceLock() {
  if (socket_ >= 0) close(socket_);
}

}  // namespace qrx::sane
