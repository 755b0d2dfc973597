// What a client asks for in the ScanSettings document of POST /eSCL/ScanJobs,
// read with pugixml and checked against what the scanner offers. Elements are
// matched by their local names, so that any namespace prefix a client chooses is
// understood; document type declarations are refused outright, so no entity of
// the client's is ever expanded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qrx::escl {

enum class ColorMode { kRgb24, kGrayscale8, kRgb48, kGrayscale16 };
enum class DocumentFormat { kJpeg, kPng, kPdf };

const char* color_mode_name(ColorMode mode);   // "RGB24"
const char* mime_type(DocumentFormat format);  // "image/jpeg"
int channels_of(ColorMode mode);
int depth_of(ColorMode mode);  // bits per sample

// The scanner as eSCL describes it: lengths in 300ths of an inch.
struct ScannerModel {
  std::string make, model;
  std::vector<uint16_t> resolutions;  // dpi, ascending
  uint16_t optical_dpi = 0;
  uint32_t max_width = 0, max_height = 0;  // the glass
  uint32_t min_extent = 4;                 // the smallest window the scanner takes
  uint32_t area_unit = 9600;               // the library's window unit, per inch
};

// A region of the glass in 300ths of an inch.
struct Region {
  uint32_t x = 0, y = 0, width = 0, height = 0;
};

struct ScanSettings {
  uint16_t resolution = 0;
  ColorMode mode = ColorMode::kRgb24;
  DocumentFormat format = DocumentFormat::kJpeg;
  Region region;
  std::string intent;  // as given, "Document" when none
  // Percent, -100..100, 0 leaving the image as scanned. Clients give them from
  // 0 to kToneMax, kToneNormal the image as scanned.
  int brightness = 0, contrast = 0;
};

inline constexpr uint32_t kToneNormal = 100;
inline constexpr uint32_t kToneMax = 200;

struct SettingsVerdict {
  int http_status = 200;  // 200 taken; 400 not a ScanSettings document; 409 not possible
  std::string message;
};

// Reads and checks a ScanSettings document. A region reaching past the glass is
// cut at its edge (clients round millimetres up); one that starts off the glass
// is refused. Without a resolution the scan is made at 300 dpi, or the lowest the
// scanner offers for the Preview intent.
SettingsVerdict parse_scan_settings(std::string_view xml, const ScannerModel& model,
                                    ScanSettings& settings);

}  // namespace qrx::escl
