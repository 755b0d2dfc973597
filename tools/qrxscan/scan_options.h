// What the qrxscan command line asks for: the action, the device, the scan
// (resolution, mode, depth, area in millimetres), the output file and format.
// Everything here is checked before the scanner is touched; what only the scanner
// can tell (whether it offers the resolution, whether the area fits its glass) is
// checked by window_on_glass once it is open.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "abilities.h"
#include "image_writer.h"

namespace qrx::qrxscan {

enum class Action { kScan, kListDevices, kSelfTest, kInfo, kCalibrate, kHelp, kVersion };
enum class ColourMode { kColor, kGray };
enum class ProgressChoice { kAuto, kOn, kOff };

struct ScanRequest {
  Action action = Action::kScan;
  std::string device = "sim:";
  std::vector<std::string> devices;  // every -d, in order (-L lists them all)
  uint16_t resolution = 300;
  ColourMode mode = ColourMode::kColor;
  int depth = 8;
  // The window on the glass in millimetres from the scan origin; an unset width
  // or height reaches to the far edge of the glass.
  double left_mm = 0;
  double top_mm = 0;
  std::optional<double> width_mm;
  std::optional<double> height_mm;
  ImageFormat format = ImageFormat::kPnm;
  std::string output;  // empty: standard output
  ProgressChoice progress = ProgressChoice::kAuto;
  bool calibrate_first = false;
  bool wait_for_button = false;
  uint16_t calibrate_dpi = 600;  // the calibrate command's resolution
};

// Reads the arguments after the program name. False with a message naming the
// offending argument; request is then unchanged.
bool parse_scan_request(int argc, char** argv, ScanRequest& request, std::string& error);

std::string usage_line();
std::string help_text();

// The scan window in the ability record's area unit (1/9600 inch), rounded to the
// nearest unit. False with a message naming the option when the resolution is
// not offered or the window leaves the glass or is too small to scan.
struct Window {
  uint32_t x = 0, y = 0, width = 0, length = 0;
};
bool window_on_glass(const ScanRequest& request, const Abilities& abilities, Window& window,
                     std::string& error);

}  // namespace qrx::qrxscan
