// Initialisation (see initialize.h).
#include "device/initialize.h"

#include "calibration/edge_search.h"
#include "calibration/origin_file.h"
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

bool kept_scan_origin(const transport::ScannerContext& context, uint16_t& home_offset,
                      uint16_t& home_offset_aux) {
  // A controller this process found fresh has had no search in its present life,
  // whatever a file may say.
  if (!context.controller_was_set_up) return false;
  return calibration::load_origin(context, home_offset, home_offset_aux);
}

bool keep_scan_origin(const transport::ScannerContext& context, uint16_t home_offset,
                      uint16_t home_offset_aux, bool searched_now) {
  if (home_offset == 0) return false;  // 0 means no origin
  if (!searched_now && !context.controller_was_set_up) return false;
  uint16_t kept = 0, kept_aux = 0;
  if (calibration::load_origin(context, kept, kept_aux) && kept == home_offset &&
      kept_aux == home_offset_aux) {
    return true;
  }
  return calibration::save_origin(context, home_offset, home_offset_aux);
}

bool forget_kept_scan_origin(const transport::ScannerContext& context) {
  return calibration::forget_origin(context);
}

}  // namespace qrx::device
