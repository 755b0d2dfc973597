// Discovery: turning a device path into an open, identified scanner.
#pragma once

#include <cstdint>
#include <string>

#include "transport/scanner_context.h"

namespace qrx::device {

// Opens the device path and checks that the device is this scanner (and that the
// caller asked for this scanner's product id), and names the scanner's directory
// for its calibration after what identifies the device. 0, or 0x0101 with the
// driver handle closed again.
uint16_t open_and_identify(transport::ScannerContext& context, const std::string& device_path,
                           uint16_t product_id);

// Longest name of a scanner's calibration directory: longer identities keep their
// start and end with a hash of the whole.
inline constexpr size_t kStoreNameLimit = 120;

// The directory name for a device identity (DeviceChannel::identity): the text
// with every byte but letters, digits, '.', '_' and '-' written as %xx, so that
// it is one plain path component (for example "sim-daemon-%2frun%2fqrx.sock");
// empty for an empty identity (the user's temporary directory itself).
std::string calibration_store_name(const std::string& identity);

// True when the path is one FindScannerEx accepts at all: not empty and at most
// QRX7730_MAX_DEVICE_PATH characters.
bool device_path_acceptable(const char* device_path);

}  // namespace qrx::device
