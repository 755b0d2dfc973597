// The device hold (see device_hold.h).
#include "device_hold.h"

#include <unistd.h>

#include <cerrno>

#include "common/scanner_hold.h"

namespace qrx::escl {

std::unique_ptr<DeviceHold> DeviceHold::try_take(const std::string& device_path) {
  const int fd = hosts::take_scanner_hold(device_path);
  if (fd >= 0) return std::unique_ptr<DeviceHold>(new DeviceHold(fd));
  if (errno == EADDRINUSE) return nullptr;
  return std::unique_ptr<DeviceHold>(new DeviceHold(-1));
}

DeviceHold::~DeviceHold() {
  if (socket_ >= 0) close(socket_);
}

}  // namespace qrx::escl
