// The backend's configuration and device names.
//
// qrx7730.conf is looked for in the directories of SANE_CONFIG_DIR (separated by
// ':'; a value ending in ':' adds the defaults after it), by default in the
// current directory and then in the directory the backend was installed to use
// (/etc/sane.d for an install under /usr). One entry a line; a line whose first
// character that is not blank is '#' is a comment:
//
//   usb                 every scanner the library finds on USB
//   usb:BUS:DEV         the scanner at that USB bus and device number
//   usb:                the first scanner on USB
//   sim:                an emulated scanner inside the front end's own process
//   sim:/run/qrx.sock   the emulated scanner served by a qrx7730-sim daemon
//
// Without a qrx7730.conf the backend looks for USB scanners only.
//
// Device names are the library's device paths (SANE's dll backend puts
// "qrx7730:" before them, so a front end shows qrx7730:usb:1:5); a name given to
// sane_open may carry that prefix itself.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace qrx::sane {

struct BackendConfig {
  std::vector<std::string> devices;  // device paths in the order given, each once
  bool usb_discovery = false;        // "usb": list the scanners found on USB
  std::string file;                  // the file read; empty when none was found
};

// The directories to search, from the value of SANE_CONFIG_DIR (null when unset)
// and the installed configuration directory.
std::vector<std::string> config_directories(const char* sane_config_dir,
                                            const std::string& installed_dir);

// Reads the entries of one file; unknown lines are reported on the debug output
// and skipped.
void parse_config(std::istream& text, BackendConfig& config);

// Reads qrx7730.conf from the first directory that has one; without any, the
// configuration is USB discovery alone.
BackendConfig read_config(const std::vector<std::string>& directories);

// The library device path a SANE device name stands for: the name without an
// optional "qrx7730:" in front, when it is a path the backend can open ("sim:",
// "sim:..." or "usb:", "usb:BUS:DEV" with decimal numbers, the USB ones perhaps
// with "#name" after them); nothing otherwise.
std::optional<std::string> device_path_from_name(const std::string& name);

}  // namespace qrx::sane
