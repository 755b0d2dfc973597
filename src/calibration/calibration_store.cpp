// Where a scanner's calibration is kept (see calibration_store.h).
#include "calibration/calibration_store.h"

#include "platform/paths.h"

namespace qrx::calibration {

std::string store_directory(const transport::ScannerContext& context) {
  if (context.store_name.empty()) return platform::temp_directory();
  return platform::private_subdirectory(context.store_name);
}

}  // namespace qrx::calibration
