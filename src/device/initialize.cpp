// Initialisation (see initialize.h).
#include "device/initialize.h"

#include "calibration/edge_search.h"
#include "pass/carriage.h"
#include "qrx7730.h"

namespace qrx::device {

uint16_t find_scan_origin(transport::ScannerContext& context,
                          const settings::ScannerSetting& setting, uint16_t& home_offset,
                          uint16_t& home_offset_aux) {
  home_offset = 0;
  home_offset_aux = 0;
  uint16_t status = pass::home_and_step_out(context, setting);
  if (status != QRX_OK) return status;
  uint16_t edge = 0, second = 0;
  status = calibration::search_reference_edge(context, setting, edge, second);
  if (status != QRX_OK) return status;
  status = pass::wait_for_stop(context);
  if (status != QRX_OK) return status;
  home_offset = edge;
  home_offset_aux = second;
  return QRX_OK;
}

}  // namespace qrx::device
