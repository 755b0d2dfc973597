// Exports of the light and the service self-tests: SetLamp records the light the
// next scan uses, GetLampStatus is polled until that light is ready, TestScanner
// runs one self-test.
#include "api/call_frame.h"
#include "api/export_guard.h"
#include "device/power_on.h"
#include "lamp/lamp.h"
#include "platform/shared_block.h"
#include "qrx7730.h"
#include "self_test/self_test.h"

using qrx::api::CallFrame;
using qrx::api::finish;
using qrx::api::guard;
using qrx::api::Library;

namespace {

constexpr uint8_t kFilmLights = QRX_LAMP_FILM | QRX_LAMP_INFRARED;

// This model reports no film adapter unit (as GetOPUMode does).
bool film_adapter_attached() {
  return false;
}

}  // namespace

extern "C" {

QRX7730_API QRX_BOOL SetLamp(void* /*host*/, uint8_t light_source) {
  return guard([&](Library& lib) -> QRX_BOOL {
    CallFrame frame(lib);
    // Stored before any check: a refused selection is still the one the warm-up
    // and the next scan go by.
    lib.lamp_select = light_source == QRX_LAMP_FILM ? QRX_LAMP_FILM_STORED : light_source;
    // Its watchdog resets the controller when the carriage keeps moving.
    if (qrx::api::refused_for_other_scan(lib)) return QRX_FALSE;
    bool moving = false;
    if (!qrx::lamp::motor_running(lib.context, moving)) {
      return finish(lib, QRX_E_STATUS_REGISTER);
    }
    if (moving) {
      // The watchdog's controller reset goes out inside the frame, so that it can
      // never fall between the requests of another process's framed call. It
      // leaves the controller as at power-up, under every process that has the
      // scanner open and would programme it as set up: it is set up again at once,
      // keeping the host's tone curves.
      const uint16_t status = qrx::lamp::refuse_light_while_moving(lib.context);
      if (status == QRX_E_STATUS_REGISTER) {
        qrx::device::set_up_controller_again(lib.context, lib.setting);
        // A controller reset puts the film light out: the next use warms it again.
        lib.status_block.set_warmed_film_light(0);
      }
      return finish(lib, status);
    }
    if (light_source != QRX_LAMP_NONE && (lib.lamp_select & kFilmLights) != 0 &&
        !film_adapter_attached()) {
      return finish(lib, QRX_E_NO_FILM_ADAPTER);
    }
    qrx::lamp::clear_light_refusal(lib.context);
    return finish(lib, QRX_OK);
  });
}

QRX7730_API QRX_BOOL GetLampStatus(void* /*host*/, uint8_t /*ignored*/) {
  return guard([&](Library& lib) -> QRX_BOOL {
    CallFrame frame(lib);
    const uint8_t light = lib.lamp_select;
    if (light == QRX_LAMP_FLATBED) {
      // The LEDs need no warming: ready at once, the last status left as it is.
      frame.release();
      lib.status_block.set_lamp_state(QRX_LAMP_FLATBED);
      return QRX_TRUE;
    }
    if (light == QRX_LAMP_NONE) {
      frame.release();
      lib.status_block.set_lamp_state(QRX_LAMP_FLATBED);
      return finish(lib, QRX_E_NO_LAMP_SELECTED);
    }
    // A warm-up switches lights and moves the carriage.
    if (qrx::api::refused_for_other_scan(lib)) return QRX_FALSE;
    if (lib.status_block.warmed_film_light() == light) {
      // Warmed up already (by any process), and not switched since: the moves
      // that followed the warm-up only put it out for a moment.
      bool selected = false;
      if (!qrx::lamp::film_light_selected(lib.context, light, selected)) {
        return finish(lib, QRX_E_WARMUP_STATE);
      }
      if (selected) {
        qrx::lamp::reset_warm_up_attempts(lib.context);
        lib.status_block.set_lamp_state(light);
        return finish(lib, QRX_OK);
      }
    }
    // A warm-up is made (or goes on): whatever was warmed before is switched now.
    lib.status_block.set_warmed_film_light(0);
    const uint8_t ready_light = lib.status_block.lamp_state();
    const uint16_t status = qrx::lamp::poll_warm_up(lib.context, lib.setting, light, ready_light);
    if (status != QRX_OK) return finish(lib, status);
    lib.status_block.set_lamp_state(light);
    lib.status_block.set_warmed_film_light(light);
    return finish(lib, QRX_OK);
  });
}

QRX7730_API QRX_BOOL TestScanner(void* /*host*/, uint8_t test, uint8_t argument,
                                 uint8_t /*unused*/) {
  return guard([&](Library& lib) -> QRX_BOOL {
    CallFrame frame(lib);
    if (qrx::api::refused_for_other_scan(lib)) return QRX_FALSE;
    qrx::calibration::PassEnvironment environment;
    environment.lamp_select = lib.lamp_select;
    const uint8_t* shared = qrx::platform::shared_section();
    environment.exposure.fau_scan_position = shared != nullptr ? shared[1] : 3;
    const uint16_t result =
        qrx::self_test::run_self_test(lib.context, lib.setting, environment, test, argument);
    lib.last_error = result;
    // The input-line tests return a bit map, which is their pass.
    const bool passed = (test == 51 || test == 52) ? result <= 0xFF : result == QRX_OK;
    return passed ? QRX_TRUE : QRX_FALSE;
  });
}

}  // extern "C"
