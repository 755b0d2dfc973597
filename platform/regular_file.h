// Installed files the library only reads (the data file): opened for reading when
// they are regular files, through links as installs make them, and never waiting
// on whatever else may sit at the name (a FIFO, a device).
#pragma once

#include <cstdio>
#include <string>

namespace qrx::platform {

// Opens path with mode "rb" when it names a regular file (after links); nullptr
// otherwise, at once.
std::FILE* open_regular_file(const std::string& path);

}  // namespace qrx::platform
