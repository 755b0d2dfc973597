// Exports that report on the library and the scanner without touching the
// device, and the exports that are kept for the host's sake but do nothing.
#include <vector>

#include "api/ability_record.h"
#include "api/export_guard.h"
#include "qrx7730.h"

using qrx::api::AbilityRecord;
using qrx::api::finish;
using qrx::api::guard;
using qrx::api::Library;

extern "C" {

QRX7730_API QRX_BOOL GetScannerAbilitySize(void* /*host*/, uint16_t* size) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (size == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    AbilityRecord record(lib.context.link.port_type());
    *size = static_cast<uint16_t>(record.stream_size());
    return QRX_TRUE;
  });
}

QRX7730_API QRX_BOOL GetScannerAbilityXp(void* /*host*/, void* buffer) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (buffer == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    AbilityRecord record(lib.context.link.port_type());
    record.write_stream(static_cast<uint8_t*>(buffer));
    return QRX_TRUE;
  });
}

QRX7730_API QRX_BOOL GetScannerStatus(void* /*host*/, uint16_t* status) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (status == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    *status = lib.last_error;
    return QRX_TRUE;
  });
}

QRX7730_API QRX_BOOL GetQuarnAPIVersion(void* /*host*/, uint32_t* version) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (version == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    *version = QRX7730_API_VERSION;
    return QRX_TRUE;
  });
}

// Kept for hosts that call them; they take their arguments and do nothing.
QRX7730_API QRX_BOOL LockScanner(void* /*host*/, uint8_t /*unused*/) { return QRX_TRUE; }
QRX7730_API QRX_BOOL UnlockScanner(void* /*host*/) { return QRX_TRUE; }
QRX7730_API QRX_BOOL SetErrorToDevice(void* /*host*/, uint16_t /*unused*/) { return QRX_TRUE; }
QRX7730_API QRX_BOOL GetCropStatus(void* /*host*/, void* /*unused*/) { return QRX_TRUE; }
QRX7730_API QRX_BOOL GetReadStatus(void* /*host*/, void* /*unused*/) { return QRX_TRUE; }
QRX7730_API QRX_BOOL SetRawDataParameter(void* /*host*/, void* /*unused*/) { return QRX_TRUE; }
QRX7730_API QRX_BOOL ReadRawData(void* /*host*/, void* /*unused1*/, void* /*unused2*/) {
  return QRX_TRUE;
}

}  // extern "C"
