// Opening and identifying the scanner, and naming its calibration directory.
#include "device/discovery.h"

#include <cstring>

#include "platform/object_name.h"
#include "qrx7730.h"

namespace qrx::device {

uint16_t open_and_identify(transport::ScannerContext& context, const std::string& device_path,
                           uint16_t product_id) {
  if (!context.link.open(device_path) || !context.link.identify(product_id)) {
    context.link.close();
    return QRX_E_DEVICE_OPEN;
  }
  context.store_name = calibration_store_name(context.link.identity());
  return QRX_OK;
}

std::string calibration_store_name(const std::string& identity) {
  if (identity.empty()) return {};
  try {
    return platform::encode_for_object_name(identity, kStoreNameLimit);
  } catch (...) {
    return {};
  }
}

bool device_path_acceptable(const char* device_path) {
  if (device_path == nullptr) return false;
  const size_t length = strnlen(device_path, QRX7730_MAX_DEVICE_PATH + 1);
  return length > 0 && length <= QRX7730_MAX_DEVICE_PATH;
}

}  // namespace qrx::device
