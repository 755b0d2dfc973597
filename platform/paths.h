// File-system locations the library needs: the user's private temporary
// directory and the per-scanner directories inside it, the library's own file,
// and the install directory of the data file.
#pragma once

#include <string>

namespace qrx::platform {

// Separator between directory and file name on this platform.
char path_separator();

// The calling user's own temporary directory, ending with a separator; empty when
// none could be found or made safe. On Linux this is a directory owned by the user
// and closed to everyone else ($TMPDIR or /tmp, then "qrx7730-<uid>" inside it).
std::string temp_directory();

// A directory of the user's own inside temp_directory(), named `name`, ending with
// a separator; empty when it cannot be made safe. `name` is one path component of
// letters, digits, '.', '_', '-', '%' and '~' (not "." or ".."); anything else is
// refused. The same rules hold as for temp_directory(): created private to the
// user when missing; on Linux a link, a file or someone else's directory at the
// name is refused and an open one of the user's is closed to everyone else.
std::string private_subdirectory(const std::string& name);

// The path made absolute with every link resolved, so that one file-system object
// gets one name however it was reached; the path as given when it cannot be
// resolved (it does not exist, or the platform cannot say).
std::string canonical_path(const std::string& path);

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
