// The hold a SANE handle keeps on its scanner from sane_open to sane_close, so
// that a second front end (another scanimage, saned serving someone else) is told
// the device is busy instead of resetting the scanner under a running scan: the
// library powers the controller up again at every open, and keeps its callers
// apart only call by call.
//
// The hold is the one every host of the scanner takes (common/scanner_hold.h): a
// Unix socket bound to an abstract name made from the device path, one per machine
// (per network namespace), shared by all users, gone with the process that held
// it, however that process ends.
#pragma once

#include <memory>
#include <string>

namespace qrx::sane {

class DeviceLock {
 public:
  // The hold on device_path, or null when another process (or another handle of
  // this one) holds it. When the system cannot make holds at all the result
  // holds nothing (reported on the debug output): the library's own exclusion,
  // call by call, is then all there is.
  static std::unique_ptr<DeviceLock> try_take(const std::string& device_path);
  ~DeviceLock();
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;

 private:
  explicit DeviceLock(int socket) : socket_(socket) {}
  int socket_;
};

}  // namespace qrx::sane
