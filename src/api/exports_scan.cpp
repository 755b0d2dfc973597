// Exports of the scan itself: light, parameters, calibration, start, data, stop,
// gamma and the service tests.
#include <cstring>

#include "api/call_frame.h"
#include "api/export_guard.h"
#include "calibration/calibration_driver.h"
#include "platform/shared_block.h"
#include "engine/scan_parameters.h"
#include "qrx7730.h"

using qrx::api::CallFrame;
using qrx::api::finish;
using qrx::api::guard;
using qrx::api::Library;

extern "C" {

QRX7730_API QRX_BOOL SetScanParameter(void* /*host*/, const ScanParameter* parameter) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (parameter == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    return finish(lib, qrx::engine::set_scan_parameter(lib.context, lib.setting, lib.scan_values,
                                                       *parameter, lib.lamp_select, lib.ag_block));
  });
}

QRX7730_API QRX_BOOL DoCalibration(void* /*host*/, uint8_t film, uint8_t kind,
                                   uint16_t resolution) {
  return guard([&](Library& lib) -> QRX_BOOL {
    CallFrame frame(lib);
    qrx::calibration::PassEnvironment environment;
    environment.lamp_select = lib.lamp_select;
    const uint8_t* shared = qrx::platform::shared_section();
    environment.exposure.fau_scan_position = shared != nullptr ? shared[1] : 3;
    return finish(lib, qrx::calibration::do_calibration(lib.context, lib.setting, environment, film,
                                                         kind, resolution,
                                                         lib.scan_values.stored.xRes));
  });
}

QRX7730_API QRX_BOOL StartScanEx(void* /*host*/, const void* /*options*/) {
  return guard([&](Library& lib) -> QRX_BOOL {
    CallFrame frame(lib);
    return finish(lib, QRX_E_UNSUPPORTED);
  });
}

QRX7730_API QRX_BOOL StopScanEx(void* /*host*/, void* /*option*/) {
  return guard([&](Library& lib) -> QRX_BOOL {
    CallFrame frame(lib);
    return finish(lib, QRX_E_UNSUPPORTED);
  });
}

QRX7730_API QRX_BOOL GetCalibrationStatus(void* /*host*/, uint8_t* status) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (status == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    return finish(lib, QRX_E_UNSUPPORTED);
  });
}

QRX7730_API QRX_BOOL SetAGData(void* /*host*/, const void* block) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (block == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    std::memcpy(lib.ag_block.data(), block, lib.ag_block.size());
    return QRX_TRUE;
  });
}

QRX7730_API QRX_BOOL GetAGData(void* /*host*/, uint16_t* values) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (values == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    // The defaults in 4.12 fixed point (4096 = 1.0), whatever SetAGData stored.
    for (int i = 0; i < QRX_AG_VALUE_COUNT; ++i) values[i] = 0x1000;
    values[1] = 0xFFFF;
    values[17] = 0xFFFF;
    return QRX_TRUE;
  });
}

}  // extern "C"
