// The actions of qrxscan besides the scan: list the scanners (-L), run the
// self-tests (-T), report one scanner (info) and calibrate it (calibrate).
#pragma once

#include <string>
#include <vector>

#include "scan_options.h"
#include "wait_notice.h"

namespace qrx::qrxscan {

int list_devices(const ScanRequest& request, WaitNotice& notice);
int run_self_tests(const ScanRequest& request, WaitNotice& notice);
int show_info(const ScanRequest& request, WaitNotice& notice);
int calibrate(const ScanRequest& request, WaitNotice& notice);

// The device paths -L looks at, in order and each once: the built-in scanner
// "sim:", the paths of the configuration file, then those given with -d.
std::vector<std::string> devices_to_list(const std::vector<std::string>& given);

// The configuration file with the extra device paths (one per line, '#' starts a
// comment): $XDG_CONFIG_HOME/qrx7730/devices, else ~/.config/qrx7730/devices.
std::string devices_file();
std::vector<std::string> read_devices_file(const std::string& path);

}  // namespace qrx::qrxscan
