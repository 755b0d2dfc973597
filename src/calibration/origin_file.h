// The scan origin kept with the scanner's calibration: what the reference edge
// search found, so that a process that opens a controller which has stayed set up
// since then takes it instead of searching again.
//
//   "QRX7730O.dat" in the scanner's directory (calibration_store.h), 9 bytes:
//   "QRXO", the port type byte of the device it was found on, then the edge
//   position and its second value, u16 little-endian each.
//
// The file is only ever taken whole, and only for the port type it was found with
// (the edge position depends on it); it is replaced only once its new content is
// complete.
#pragma once

#include <cstdint>
#include <string>

#include "transport/scanner_context.h"

namespace qrx::calibration {

// Full path; empty when the scanner has no safe directory.
std::string origin_file_path(const transport::ScannerContext& context);

// The stored origin: true with both values when a whole file for the context's
// port type holds a nonzero edge position; false otherwise (values unchanged).
bool load_origin(const transport::ScannerContext& context, uint16_t& home_offset,
                 uint16_t& home_offset_aux);

// Stores the origin; false when it could not be written (the file before stays).
bool save_origin(const transport::ScannerContext& context, uint16_t home_offset,
                 uint16_t home_offset_aux);

// Removes a stored origin; false when it could not be made sure that none is left
// (no safe directory, or the file could not be removed).
bool forget_origin(const transport::ScannerContext& context);

}  // namespace qrx::calibration
