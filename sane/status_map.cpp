// The status mapping (see status_map.h).
#include "status_map.h"

#include "debug_log.h"
#include "qrx7730.h"
#include "status_text.h"

namespace qrx::sane {

SANE_Status sane_status_for(uint16_t code) {
  switch (code) {
    case QRX_OK:
      return SANE_STATUS_GOOD;
    case QRX_E_DEVICE_OPEN:
      return SANE_STATUS_INVAL;
    case QRX_E_NO_FILM_ADAPTER:
    case QRX_E_UNSUPPORTED:
      return SANE_STATUS_UNSUPPORTED;
    case QRX_E_NOT_HOME:
    case QRX_E_MOTOR_TIMEOUT:
    case QRX_E_HOME_POSITION:
      return SANE_STATUS_JAMMED;
    case QRX_E_NO_LAMP_SELECTED:
      return SANE_STATUS_INVAL;
    default:
      break;
  }
  switch (code >> 8) {
    case 0x96:
      return SANE_STATUS_DEVICE_BUSY;
    case 0x97:
      return SANE_STATUS_INVAL;
    case 0x98:
    case 0xFA:
      return SANE_STATUS_NO_MEM;
    case QRX_LAMP_WARMING_UP >> 8:
      // SANE 1.0 has no status of its own for a lamp warming up: try again later.
      return SANE_STATUS_DEVICE_BUSY;
    default:
      return SANE_STATUS_IO_ERROR;
  }
}

const char* sane_status_name(SANE_Status status) {
  switch (static_cast<int>(status)) {
    case SANE_STATUS_GOOD:
      return "SANE_STATUS_GOOD";
    case SANE_STATUS_UNSUPPORTED:
      return "SANE_STATUS_UNSUPPORTED";
    case SANE_STATUS_CANCELLED:
      return "SANE_STATUS_CANCELLED";
    case SANE_STATUS_DEVICE_BUSY:
      return "SANE_STATUS_DEVICE_BUSY";
    case SANE_STATUS_INVAL:
      return "SANE_STATUS_INVAL";
    case SANE_STATUS_EOF:
      return "SANE_STATUS_EOF";
    case SANE_STATUS_JAMMED:
      return "SANE_STATUS_JAMMED";
    case SANE_STATUS_NO_DOCS:
      return "SANE_STATUS_NO_DOCS";
    case SANE_STATUS_COVER_OPEN:
      return "SANE_STATUS_COVER_OPEN";
    case SANE_STATUS_IO_ERROR:
      return "SANE_STATUS_IO_ERROR";
    case SANE_STATUS_NO_MEM:
      return "SANE_STATUS_NO_MEM";
    case SANE_STATUS_ACCESS_DENIED:
      return "SANE_STATUS_ACCESS_DENIED";
    default:
      return "an unknown SANE status";
  }
}

SANE_Status library_failure(const char* call) {
  uint16_t code = 0;
  GetScannerStatus(nullptr, &code);
  return library_failure(call, code);
}

SANE_Status library_failure(const char* call, uint16_t code) {
  // A failed call that left no status behind is still a failure.
  const SANE_Status status = code == QRX_OK ? SANE_STATUS_IO_ERROR : sane_status_for(code);
  debug(kLogError, "%s failed with %s: reporting %s", call, qrxscan::describe_status(code).c_str(),
        sane_status_name(status));
  return status;
}

}  // namespace qrx::sane
