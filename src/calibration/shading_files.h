// The shading file store: calibration results kept between runs in the scanner's
// own directory (calibration_store.h), one file per flatbed resolution with the exposure times
// and raw white and dark reference lines, and one counter of scans since the last
// calibration.
//
//   "QRX7730A.SHD" .. "QRX7730F.SHD"  flatbed: 75, 150, 300, 600, 1200, 2400/4800 dpi
//   "Unknown.shd"                      any other flatbed resolution
//   "QRX7730P.SHD" .. "QRX7730S.SHD"  film: 300, 600, 1200, 2400/4800 dpi
//   "UnknownF.shd"                     any other film resolution
//   "QRX7730H.SHD"                     the scan counter (u16 little-endian), one for all
//
// Shading file layout (little-endian): port type byte, 12-byte exposure set, then
// the white lines R, G, B, IR and the dark lines R, G, B, IR of n = pixels per
// channel u16 each (the full sensor line under either light): 13 + 16 n bytes.
// 4800 dpi scans are read at 2400 dpi across: save, load and check all take 4800
// as 2400 (n = 20544, 328717 bytes).
#pragma once

#include <cstdint>
#include <string>

#include "calibration/channel_lines.h"
#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::calibration {

// Full paths (the scanner's directory, calibration_store.h, + name); every film
// lamp mode (visible, infrared or both) shares the film files.
std::string shading_file_path(const transport::ScannerContext& context, uint8_t lamp_mode,
                              uint32_t resolution);
std::string counter_file_path(const transport::ScannerContext& context);

// Expected size of a shading file for a lamp mode and resolution (4800 dpi: the
// 2400 dpi file's).
uint64_t shading_file_size(uint8_t lamp_mode, uint32_t resolution);

// One calibration result to keep: the resolution and lamp mode its references were
// read at (they choose the file), its exposure set and its white and dark lines.
struct ShadingRecord {
  uint32_t resolution = 0;
  uint8_t lamp_mode = kLampFlatbed;
  const transport::ExposureSet& exposure;
  const ChannelLines& white;
  const ChannelLines& dark;
};

// Writes the shading file and a counter of 0 (the context's scan count is reset).
// A file is replaced only once its new content is complete.
bool save_shading(transport::ScannerContext& context, const ShadingRecord& record);

// The scan a stored shading is loaded for: its resolution across and lamp mode
// (they choose the file), its bits per pixel, and whether it counts as one more
// scan since the last calibration.
struct ShadingScan {
  uint32_t resolution = 0;
  uint8_t lamp_mode = kLampFlatbed;
  uint32_t bits_per_pixel = 0;
  bool count = false;
};

// Loads the shading file of a scan into the context's shading arrays (white into
// the gain lines, dark into the offset lines, a copy of the white into the white
// copy), reads the counter (adding 1 when scan.count is set) and computes the
// shading for the scan's bits per pixel and the context's port type. QRX_OK,
// QRX_E_NOMEM_BUFFER when the arrays are missing (or no room to read the file),
// QRX_E_CALIBRATION_DATA when a file is missing, not exactly of its layout's size,
// unreadable or refused, or the counter cannot be written back. Both files are
// checked whole first: on any failure the context and exposure are left unchanged.
uint16_t load_shading_for_scan(transport::ScannerContext& context,
                               const settings::ScannerSetting& setting, const ShadingScan& scan,
                               transport::ExposureSet& exposure);

// Whether the stored calibration can serve a scan: 0 usable, 1 due (the counter
// reached 1000; it is reset), 2 no usable shading (a file missing or damaged, or
// written for another port type). With the host's AG block in use a counter of
// 1000 or more is lowered by one instead.
uint8_t freshness_check(transport::ScannerContext& context, uint32_t resolution, uint8_t lamp_mode);

}  // namespace qrx::calibration
