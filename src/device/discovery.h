// Discovery: turning a device path into an open, identified scanner.
#pragma once

#include <cstdint>
#include <string>

#include "transport/scanner_context.h"

namespace qrx::device {

// Opens the device path and checks that the device is this scanner (and that the
// caller asked for this scanner's product id). 0, or 0x0101 with the driver
// handle closed again.
uint16_t open_and_identify(transport::ScannerContext& context, const std::string& device_path,
                           uint16_t product_id);

// True when the path is one FindScannerEx accepts at all: not empty and at most
// QRX7730_MAX_DEVICE_PATH characters.
bool device_path_acceptable(const char* device_path);

}  // namespace qrx::device
