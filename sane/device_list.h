// The device list of sane_get_devices: the configured devices and the USB
// scanners, each opened once to see that it answers (FindScannerEx, then
// TerminateScanner). A device another front end holds is listed without being
// opened: it is there, and opening it would power its controller up again under
// that front end's scan; so is one the library says another program (qrxscan,
// say) scans on. While this process has a device open the library can
// open no other, so the devices seen answering before are listed as they were.
#pragma once

#include <sane/sane.h>

#include <memory>
#include <string>
#include <vector>

#include "config.h"

namespace qrx::sane {

class DeviceList {
 public:
  // Looks at the devices again and returns the list, ended by a null pointer; it
  // stays valid until the next refresh. open_path: the device this process has
  // open, empty when none.
  const SANE_Device** refresh(const BackendConfig& config, const std::string& open_path);

  // The first device of the last refresh, empty when it found none.
  std::string first() const;

 private:
  struct Entry {
    std::string name;
    SANE_Device device;
  };
  // Opens path and closes it again; true when the scanner answered.
  static bool answers(const std::string& path);
  void add(const std::string& path);

  std::vector<std::string> seen_;  // the devices that answered at the last look
  std::vector<std::unique_ptr<Entry>> entries_;
  std::vector<const SANE_Device*> list_;
  std::string vendor_, model_;
};

}  // namespace qrx::sane
