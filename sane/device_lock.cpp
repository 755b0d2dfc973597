// The device hold (see device_lock.h).
#include "device_lock.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/scanner_hold.h"
#include "debug_log.h"

namespace qrx::sane {

std::unique_ptr<DeviceLock> DeviceLock::try_take(const std::string& device_path) {
  const int fd = hosts::take_scanner_hold(device_path);
  if (fd >= 0) return std::unique_ptr<DeviceLock>(new DeviceLock(fd));
  const int error = errno;
  if (error == EADDRINUSE) {
    debug(kLogInfo, "%s is held by another front end", device_path.c_str());
    return nullptr;
  }
  // Without a hold the library still keeps callers apart call by call.
  debug(kLogError, "cannot hold %s: %s", device_path.c_str(), std::strerror(error));
  return std::unique_ptr<DeviceLock>(new DeviceLock(-1));
}

DeviceLock::~DeviceLock() {
  if (socket_ >= 0) close(socket_);
}

}  // namespace qrx::sane
