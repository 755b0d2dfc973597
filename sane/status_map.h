// The library's status codes as SANE statuses. The high byte of a code names its
// family; a few codes within a family say more than the family does:
//
//   0x0101 the device is not there or is not this model     SANE_STATUS_INVAL
//   other 0x01, 0x0A, 0x82 (open, self-test)                SANE_STATUS_IO_ERROR
//   0x6B01 no film adapter for a film light                 SANE_STATUS_UNSUPPORTED
//   0x96 the scanner is in use (carriage moving, a scan or  SANE_STATUS_DEVICE_BUSY
//        calibration of this process running)
//   0x9706 this build of the library cannot do it           SANE_STATUS_UNSUPPORTED
//   other 0x97 (a parameter the device refuses)             SANE_STATUS_INVAL
//   0x98, 0xFA (memory, threads)                            SANE_STATUS_NO_MEM
//   0x9B13, 0x9B1A, 0x9B1B (carriage not home, motor        SANE_STATUS_JAMMED
//        does not stop, carriage not where expected)
//   other 0x9B (a device operation failed)                  SANE_STATUS_IO_ERROR
//   0xA4nn the lamp is still warming up (after the backend  SANE_STATUS_DEVICE_BUSY
//        has waited two minutes for it)
//   0xA603 no light selected                                SANE_STATUS_INVAL
//   0xB200 the film light stays dark, 0xB300 no reference   SANE_STATUS_IO_ERROR
//        mark, 0xFC stored data unreadable
//   anything else                                           SANE_STATUS_IO_ERROR
//
// The scanner has no cover sensor and no document feeder: no code means a cover
// open or a feeder out of paper.
#pragma once

#include <sane/sane.h>

#include <cstdint>

namespace qrx::sane {

SANE_Status sane_status_for(uint16_t code);

// "SANE_STATUS_DEVICE_BUSY", for the debug output (the backend has no
// sane_strstatus of its own: that belongs to the front end's libsane).
const char* sane_status_name(SANE_Status status);

// After an exported call failed: takes the library's last status, writes the call,
// the status in the library's words and the SANE status to the debug output, and
// returns the SANE status.
SANE_Status library_failure(const char* call);

// The same for a status code already taken.
SANE_Status library_failure(const char* call, uint16_t code);

}  // namespace qrx::sane
