// Exports that open, initialise, query and release the device, and the raw
// register exports.
#include "api/call_frame.h"
#include "api/export_guard.h"
#include "api/scanner_session.h"
#include "device/discovery.h"
#include "device/initialize.h"
#include "device/power_on.h"
#include "device/push_buttons.h"
#include "pass/carriage.h"
#include "platform/shared_block.h"
#include "qrx7730.h"
#include "scan/background_calibration.h"
#include "scan/scan_stop.h"
#include "tone_curves/data_file.h"
#include "transport/registers.h"

using qrx::api::CallFrame;
using qrx::api::finish;
using qrx::api::guard;
using qrx::api::Library;

extern "C" {

QRX7730_API QRX_BOOL FindScannerEx(void* /*host*/, const char* device_path, uint16_t product_id) {
  return guard([&](Library& lib) -> QRX_BOOL {
    // A path that is missing, empty or too long is refused before anything is
    // opened or changed.
    if (device_path == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    if (!qrx::device::device_path_acceptable(device_path)) return finish(lib, QRX_E_DEVICE_PATH);
    // Without a status block the scanner could not be kept from two callers at
    // once: a path the platform cannot name a block for is refused as well.
    if (qrx::platform::shared_block_name(qrx::api::StatusBlock::lowered_path(device_path)).empty()) {
      return finish(lib, QRX_E_DEVICE_PATH);
    }
    // One scanner at a time per process: while one is open another path is
    // refused before anything changes, so that the open scanner keeps its status
    // block, which keeps other processes from disturbing its scans.
    if (lib.device_open == 1 && !qrx::api::scanner_open_at(lib, device_path)) {
      return finish(lib, QRX_E_OTHER_SCANNER_OPEN);
    }

    // The block's own open result does not stop the call: without a block the
    // fields read as zero and the frame does not wait.
    // A block created now has no other holder: no other process uses the scanner.
    const bool sole_user = lib.status_block.open(device_path) == qrx::api::kBlockCreated;
    uint16_t aux = 0, home = 0;
    uint8_t scan_position = 0, lamp_state = 0;
    lib.status_block.read_field(1, &aux, sizeof aux);
    lib.status_block.read_field(2, &home, sizeof home);
    lib.status_block.read_field(4, &scan_position, sizeof scan_position);
    lib.status_block.read_field(5, &lamp_state, sizeof lamp_state);

    CallFrame frame(lib);
    bool reopened = false;
    if (lib.device_open == 1) {
      // Already open: LastError untouched. A channel that has failed since it was
      // opened is asked first whether the scanner is still there and still set
      // up; when it is not (gone, or unplugged and back) this process's scan
      // went with it, and the scanner is opened afresh.
      if (!lib.context.link.channel_failed()) return QRX_TRUE;
      if (qrx::device::controller_still_set_up(lib.context)) {
        lib.context.link.clear_channel_failure();
        return QRX_TRUE;
      }
      qrx::api::close_scanner(lib, false);
      reopened = true;
    }
    // The power-on below resets the controller.
    if (qrx::api::refused_for_other_scan(lib)) return QRX_FALSE;

    uint16_t status = qrx::device::open_and_identify(lib.context, device_path, product_id);
    if (status != QRX_OK) return finish(lib, status);
    lib.device_open = 1;
    lib.open_path = qrx::api::StatusBlock::lowered_path(device_path);
    status = qrx::device::check_power_state(lib.context);
    if (status == QRX_E_CARRIAGE_MOVING &&
        (sole_user || reopened || lib.status_block.forget_abandoned_scan())) {
      // No live process drives this carriage: the scan of a process that died,
      // or this process's own scan just given up (held by a full buffer, it
      // would count as moving for good). End it.
      qrx::scan::end_abandoned_pass(lib.context);
      qrx::pass::wait_for_stop(lib.context);
      status = qrx::device::check_power_state(lib.context);
    }
    if (status == QRX_OK) {
      // A controller that comes up fresh (plugged in again, switched off and on)
      // has no scan origin kept from before.
      if (!lib.context.controller_was_set_up) qrx::device::forget_kept_scan_origin(lib.context);
      // The power-on resets the controller, which puts the film light out.
      lib.status_block.set_warmed_film_light(0);
      status = qrx::device::power_on(lib.context, lib.setting);
    }
    if (status != QRX_OK) {
      frame.release();
      lib.context.link.close();
      lib.device_open = 0;
      return finish(lib, status);
    }
    // The data file is read outside the frame. By the time a load fails another
    // caller may hold the scanner: closing the device is device work again, done
    // in a frame of its own once that caller is through.
    frame.release();

    if (!qrx::tone_curves::load_data_file(lib.data_file)) {
      CallFrame closing(lib);
      lib.context.link.close();
      lib.device_open = 0;
      return finish(lib, QRX_E_DATA_FILE);
    }
    return finish(lib, QRX_OK);
  });
}

QRX7730_API QRX_BOOL InitializeScanner(void* /*host*/) {
  return guard([&](Library& lib) -> QRX_BOOL {
    CallFrame frame(lib);
    uint16_t home = lib.status_block.home_offset();
    uint16_t aux = lib.status_block.home_offset_aux();
    // The search runs once per life of the status block: a stored offset means
    // some process has found the scan origin already. A new block takes the
    // origin kept with the scanner's calibration while the controller has stayed
    // set up since it was found.
    bool searched = false;
    if (home == 0) {
      if (!qrx::device::kept_scan_origin(lib.context, home, aux)) {
        if (qrx::api::refused_for_other_scan(lib)) return QRX_FALSE;
        const uint16_t status = qrx::device::find_scan_origin(lib.context, lib.setting, home, aux);
        if (status != QRX_OK) return finish(lib, status);
        searched = true;
      }
      lib.last_error = QRX_OK;
    }
    lib.context.reference_offset = home;
    lib.context.reference_aux = aux;
    lib.status_block.write_field(1, &aux, sizeof aux);
    lib.status_block.write_field(2, &home, sizeof home);
    qrx::device::keep_scan_origin(lib.context, home, aux, searched);
    return QRX_TRUE;
  });
}

QRX7730_API QRX_BOOL TerminateScanner(void* /*host*/) {
  return guard([&](Library& lib) -> QRX_BOOL {
    // A background calibration holds the scanner while it runs: it is asked to
    // stop within the block of lines it is reading, rather than kept waiting for.
    qrx::scan::stop_background_calibration(lib.context);
    CallFrame frame(lib);
    lib.last_error = QRX_OK;
    // This process's scan ends with its use of the scanner (stopped at once, the
    // carriage sent home), and so does its hold on the scanner for that scan,
    // also when the scanner has gone and the stop cannot reach it.
    qrx::api::close_scanner(lib, true);
    return QRX_TRUE;
  });
}

QRX7730_API QRX_BOOL GetOPUMode(void* /*host*/, OPUMode* mode) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (mode == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    mode->Reserved[0] = 0;
    {
      CallFrame frame(lib);
      // This model has no film adapter detection: the unit is never attached.
      const bool attached = false;
      mode->Attached = attached ? 1 : 0;
    }
    mode->Reserved[1] = 0;
    mode->Reserved[2] = 0;
    mode->Mode = 2;
    return finish(lib, QRX_OK);
  });
}

QRX7730_API QRX_BOOL ReadRegister(uint8_t reg, uint8_t* value) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (value == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    if (lib.device_open != 1) return finish(lib, QRX_E_NOT_OPEN);
    uint8_t read = 0;
    if (!qrx::transport::read_register(lib.context.link, reg, read)) {
      return finish(lib, QRX_E_REGISTER_READ);
    }
    *value = read;
    return QRX_TRUE;  // a success leaves the last status as it was
  });
}

QRX7730_API QRX_BOOL WriteRegister(uint8_t reg, uint8_t value) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (lib.device_open != 1) return finish(lib, QRX_E_NOT_OPEN);
    if (!qrx::transport::write_register(lib.context.link, reg, value)) {
      return finish(lib, QRX_E_REGISTER_WRITE);
    }
    return QRX_TRUE;  // a success leaves the last status as it was
  });
}

QRX7730_API QRX_BOOL InitialButton(void* /*host*/, ButtonLayout* layout) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (layout == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    layout->Count = 3;
    layout->Value1 = 7;
    layout->Value2 = 7;
    return QRX_TRUE;
  });
}

QRX7730_API QRX_BOOL ReadPushButton(void* /*host*/, uint8_t /*ignored*/, ButtonEvent* event) {
  return guard([&](Library& lib) -> QRX_BOOL {
    if (event == nullptr) return finish(lib, QRX_E_NULL_ARGUMENT);
    // Whatever happens below, the record says "no button" unless a press is
    // reported: a host that looks only at the result never takes what the
    // record held before for a press.
    event->Pressed = 0;
    event->Button = 0;
    // A polling loop must not end on a failed poll: TRUE always, the failure in
    // the last status.
    if (lib.device_open != 1) {
      lib.last_error = QRX_E_NOT_OPEN;
      return QRX_TRUE;
    }
    CallFrame frame(lib);
    uint32_t reported = 0;
    const uint16_t status = qrx::device::poll_buttons(lib.context, lib.last_button, reported);
    // Buttons 1 to 7 have a bit each; anything else reports nothing.
    if (status == QRX_OK && reported >= 1 && reported <= 7) {
      event->Pressed = 0x80;
      event->Button = static_cast<uint8_t>(1u << (reported - 1));
    }
    lib.last_error = status;
    return QRX_TRUE;
  });
}

}  // extern "C"
