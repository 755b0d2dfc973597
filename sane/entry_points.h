// The backend's SANE entry points: the SANE 1.0 functions under the names SANE's
// dll backend looks up in libsane-qrx7730.so.1 (sane_qrx7730_ + the standard
// name). They are the backend's only exported symbols.
#pragma once

#include <sane/sane.h>

#define QRX7730_SANE_EXPORT extern "C" __attribute__((visibility("default")))

QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_init(SANE_Int* version_code,
                                                  SANE_Auth_Callback authorize);
QRX7730_SANE_EXPORT void sane_qrx7730_exit(void);
QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_get_devices(const SANE_Device*** device_list,
                                                         SANE_Bool local_only);
QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_open(SANE_String_Const name, SANE_Handle* handle);
QRX7730_SANE_EXPORT void sane_qrx7730_close(SANE_Handle handle);
QRX7730_SANE_EXPORT const SANE_Option_Descriptor* sane_qrx7730_get_option_descriptor(
    SANE_Handle handle, SANE_Int option);
QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_control_option(SANE_Handle handle, SANE_Int option,
                                                            SANE_Action action, void* value,
                                                            SANE_Int* info);
QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_get_parameters(SANE_Handle handle,
                                                            SANE_Parameters* parameters);
QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_start(SANE_Handle handle);
QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_read(SANE_Handle handle, SANE_Byte* data,
                                                  SANE_Int max_length, SANE_Int* length);
QRX7730_SANE_EXPORT void sane_qrx7730_cancel(SANE_Handle handle);
QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_set_io_mode(SANE_Handle handle,
                                                         SANE_Bool non_blocking);
QRX7730_SANE_EXPORT SANE_Status sane_qrx7730_get_select_fd(SANE_Handle handle, SANE_Int* fd);
