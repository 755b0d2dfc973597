// One use of the scanner through the library's exported functions, as a host
// makes it: open, initialise, choose the light, close. Every failure is reported
// on the error output with the failing call, the status name, its meaning and
// its code, and with what else explains it: the emulator's own complaint about
// QRX7730_SIM, a daemon that is not there or went away.
#pragma once

#include <cstdint>
#include <string>

#include "wait_notice.h"

namespace qrx::qrxscan {

class Session {
 public:
  explicit Session(WaitNotice& notice) : notice_(notice) {}
  ~Session() { close(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // FindScannerEx. False after reporting why.
  bool open(const std::string& device);
  // InitializeScanner: home the carriage and, once, find the scan origin.
  bool initialise();
  // SetLamp(flatbed), waiting while the carriage still moves, then GetLampStatus
  // until the light is ready, saying so while it warms up.
  bool select_flatbed_light();
  // TerminateScanner, when open.
  void close();

  // Reports that call failed with the library's last status while doing what
  // ("qrxscan: cannot <what>: <call> failed with <status in words>") and the
  // hints that apply; returns false.
  bool report(const char* call, const std::string& what);
  // The library's last status (GetScannerStatus).
  static uint16_t last_status();

  WaitNotice& notice() { return notice_; }
  const std::string& device() const { return device_; }

 private:
  void explain_device_failure(uint16_t status);

  WaitNotice& notice_;
  std::string device_;
  bool open_ = false;
  bool was_open_ = false;  // opened once: a daemon that is gone now was lost
};

}  // namespace qrx::qrxscan
