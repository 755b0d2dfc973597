// The SANE entry points of libsane-qrx7730.so.1, under the names SANE's dll
// backend looks up (sane_qrx7730_init ... sane_qrx7730_exit). The backend is a
// host of the library's public C interface; everything here hands over to the
// configuration, the device list and the one open handle.
#include <sane/sane.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "config.h"
#include "debug_log.h"
#include "device_list.h"
#include "entry_points.h"
#include "scanner_handle.h"

namespace qrx::sane {
namespace {

// The backend's version: SANE 1.0, build 1.
constexpr SANE_Int kBuild = 1;

struct Backend {
  BackendConfig config;
  // Opens, closes and device lists may come from several threads at once; the
  // mutex keeps them apart. It is not held while a scanner is opened, which may
  // wait for the carriage: the claim keeps the open's place meanwhile.
  std::mutex mutex;
  DeviceList devices;
  std::unique_ptr<ScannerHandle> handle;  // the library drives one scanner per process
  std::string claimed;  // the device path of the handle, or of the open under way
  std::atomic<ScannerHandle*> live{nullptr};  // handle, for the calls on it
};

Backend* backend = nullptr;

ScannerHandle* handle_of(SANE_Handle handle) {
  if (backend == nullptr || handle == nullptr || handle != backend->live.load()) return nullptr;
  return static_cast<ScannerHandle*>(handle);
}

// Refused while this process has a scanner open or is opening one.
SANE_Status busy_with(const std::string& claimed) {
  debug(kLogError,
        "%s is open in this process already: the library drives one scanner at "
        "a time",
        claimed.c_str());
  return SANE_STATUS_DEVICE_BUSY;
}

}  // namespace
}  // namespace qrx::sane

using qrx::sane::backend;
using qrx::sane::debug;
using qrx::sane::handle_of;
using qrx::sane::kLogCall;
using qrx::sane::kLogError;
using qrx::sane::ScannerHandle;

QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_init(SANE_Int* version_code,
                                                  SANE_Auth_Callback /*authorize*/) {
  qrx::sane::read_debug_level();
  debug(kLogCall, "sane_init");
  if (version_code != nullptr) {
    *version_code = SANE_VERSION_CODE(SANE_CURRENT_MAJOR, 0, qrx::sane::kBuild);
  }
  delete backend;
  backend = new qrx::sane::Backend;
  backend->config = qrx::sane::read_config(
      qrx::sane::config_directories(std::getenv("SANE_CONFIG_DIR"), QRX7730_SANE_CONFIG_DIR));
  return SANE_STATUS_GOOD;
}

QRX7730_SANE_EXPORT void sane_qrx7730_exit(void) {
  debug(kLogCall, "sane_exit");
  delete backend;  // closes an open handle
  backend = nullptr;
}

QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_get_devices(const SANE_Device*** device_list,
                                                         SANE_Bool /*local_only*/) {
  debug(kLogCall, "sane_get_devices");
  if (backend == nullptr || device_list == nullptr) return SANE_STATUS_INVAL;
  // A device open, or being opened, is not looked at (the look would close it).
  std::lock_guard<std::mutex> lock(backend->mutex);
  *device_list = backend->devices.refresh(backend->config, backend->claimed);
  return SANE_STATUS_GOOD;
}

QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_open(SANE_String_Const name, SANE_Handle* handle) {
  debug(kLogCall, "sane_open(%s)", name != nullptr ? name : "(null)");
  if (backend == nullptr || name == nullptr || handle == nullptr) return SANE_STATUS_INVAL;
  std::unique_lock<std::mutex> lock(backend->mutex);
  if (!backend->claimed.empty()) return qrx::sane::busy_with(backend->claimed);
  std::string wanted = name;
  if (wanted.empty()) {
    // The first device there is.
    backend->devices.refresh(backend->config, "");
    wanted = backend->devices.first();
    if (wanted.empty()) {
      debug(kLogError, "no scanner to open");
      return SANE_STATUS_INVAL;
    }
  }
  const std::optional<std::string> path = qrx::sane::device_path_from_name(wanted);
  if (!path) {
    debug(kLogError, "'%s' is no device of this backend (sim:..., usb:BUS:DEV)", wanted.c_str());
    return SANE_STATUS_INVAL;
  }
  // The claim makes an open in another thread meanwhile busy, as it is once this
  // one has its handle.
  backend->claimed = *path;
  lock.unlock();
  std::unique_ptr<ScannerHandle> opened;
  const SANE_Status status = ScannerHandle::open(*path, opened);
  lock.lock();
  if (status != SANE_STATUS_GOOD) {
    backend->claimed.clear();
    return status;
  }
  backend->handle = std::move(opened);
  backend->live.store(backend->handle.get());
  *handle = backend->handle.get();
  return SANE_STATUS_GOOD;
}

QRX7730_SANE_EXPORT void sane_qrx7730_close(SANE_Handle handle) {
  debug(kLogCall, "sane_close");
  if (handle_of(handle) == nullptr) return;
  std::lock_guard<std::mutex> lock(backend->mutex);
  backend->live.store(nullptr);
  // The claim goes once the scanner is closed: the next open finds the library
  // free.
  backend->handle.reset();
  backend->claimed.clear();
}

QRX7730_SANE_EXPORT const SANE_Option_Descriptor* sane_qrx7730_get_option_descriptor(
    SANE_Handle handle, SANE_Int option) {
  ScannerHandle* scanner = handle_of(handle);
  return scanner != nullptr ? scanner->descriptor(option) : nullptr;
}

QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_control_option(SANE_Handle handle, SANE_Int option,
                                                            SANE_Action action, void* value,
                                                            SANE_Int* info) {
  debug(qrx::sane::kLogDetail, "sane_control_option(%d, %d)", option, static_cast<int>(action));
  ScannerHandle* scanner = handle_of(handle);
  if (scanner == nullptr) return SANE_STATUS_INVAL;
  return scanner->control_option(option, action, value, info);
}

QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_get_parameters(SANE_Handle handle,
                                                            SANE_Parameters* parameters) {
  ScannerHandle* scanner = handle_of(handle);
  if (scanner == nullptr || parameters == nullptr) return SANE_STATUS_INVAL;
  return scanner->parameters(parameters);
}

QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_start(SANE_Handle handle) {
  debug(kLogCall, "sane_start");
  ScannerHandle* scanner = handle_of(handle);
  if (scanner == nullptr) return SANE_STATUS_INVAL;
  return scanner->start();
}

QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_read(SANE_Handle handle, SANE_Byte* data,
                                                  SANE_Int max_length, SANE_Int* length) {
  if (length != nullptr) *length = 0;
  ScannerHandle* scanner = handle_of(handle);
  if (scanner == nullptr || data == nullptr || length == nullptr || max_length < 0) {
    return SANE_STATUS_INVAL;
  }
  return scanner->read(data, max_length, length);
}

// May be called from a signal handler.
QRX7730_SANE_EXPORT void sane_qrx7730_cancel(SANE_Handle handle) {
  if (ScannerHandle* scanner = handle_of(handle)) scanner->cancel();
}

QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_set_io_mode(SANE_Handle handle,
                                                         SANE_Bool non_blocking) {
  ScannerHandle* scanner = handle_of(handle);
  if (scanner == nullptr) return SANE_STATUS_INVAL;
  return scanner->set_io_mode(non_blocking);
}

QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_get_select_fd(SANE_Handle handle, SANE_Int* fd) {
  ScannerHandle* scanner = handle_of(handle);
  if (scanner == nullptr || fd == nullptr) return SANE_STATUS_INVAL;
  return scanner->select_fd(fd);
}
