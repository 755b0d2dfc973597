// The still-image driver exists only on Windows; on POSIX there is no such device
// file and every open fails, so only the emulator backends can be reached.
#include "platform/driver_file.h"

namespace qrx::platform {

std::unique_ptr<DriverFile> DriverFile::open(const std::string& /*path*/) { return nullptr; }

}  // namespace qrx::platform
