// Where a scanner's calibration is kept: a directory of the scanner's own inside
// the user's temporary directory, named at open after what identifies the device
// (ScannerContext::store_name), so that two scanners of one user never share a
// calibration. A device its backend cannot tell apart keeps its files in the
// temporary directory itself, as every scanner once did.
#pragma once

#include <string>

#include "transport/scanner_context.h"

namespace qrx::calibration {

// The directory, ending with a separator; made private to the user when missing.
// Empty when there is no safe directory: nothing is then opened at all (never a
// file relative to the working directory).
std::string store_directory(const transport::ScannerContext& context);

}  // namespace qrx::calibration
