// The hold the server keeps on its scanner while a job uses it. It is the one
// every host of the scanner takes (common/scanner_hold.h), the SANE backend from
// sane_open to sane_close among them, so that a scan through the network and one
// through a local front end tell each other the scanner is busy instead of
// resetting it under each other: the library powers the controller up again at
// every open and keeps its callers apart only call by call.
#pragma once

#include <memory>
#include <string>

namespace qrx::escl {

class DeviceHold {
 public:
  // The hold on device_path; null when another process holds it. When the
  // system cannot make holds at all the result holds nothing: the library's own
  // refusals are then all there is.
  static std::unique_ptr<DeviceHold> try_take(const std::string& device_path);
  ~DeviceHold();
  DeviceHold(const DeviceHold&) = delete;
  DeviceHold& operator=(const DeviceHold&) = delete;

 private:
  explicit DeviceHold(int socket) : socket_(socket) {}
  int socket_;
};

}  // namespace qrx::escl
