// File-system locations the library needs: the user's private temporary
// directory, the library's own file, and the install directory of the data file.
#pragma once

#include <string>

namespace qrx::platform {

// Separator between directory and file name on this platform.
char path_separator();

// The calling user's own temporary directory, ending with a separator; empty when
// none could be found or made safe. On Linux this is a directory owned by the user
// and closed to everyone else ($TMPDIR or /tmp, then "qrx7730-<uid>" inside it).
std::string temp_directory();

// Full file name of the loaded library module; empty when unknown.
std::string library_path();

// The configured install directory of the scanner's files, exactly as configured
// (no separator is added): on Windows the registry value "InstallDirectory" under
// HKLM\SOFTWARE\Quarn\Imagent\Devices\QRX7730 (32-bit view), on Linux the
// environment variable QRX7730_INSTALL_DIR. Empty when not configured.
std::string install_directory();

// Environment variable lookup (empty when unset).
std::string environment(const char* name);

}  // namespace qrx::platform
