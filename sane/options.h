// The options a SANE front end sees, with the well-known names and units:
//
//   mode         Color | Gray
//   depth        8 | 16 bits per sample
//   resolution   the ability record's list, 75 to 4800 dpi
//   preview      a quick scan at the lowest resolution, 8 bits
//   lamp         the light source; only the choices the scanner has apply (the
//                flatbed light on a scanner without film adapter: then inactive)
//   tl-x tl-y br-x br-y   the scan area in millimetres, within the ability
//                record's flatbed area
//   calibrate    a button: calibrate for the resolution chosen
//   scan copy email file  the front-panel buttons 1 to 4, read as sensors
//
// The values live here; what needs the scanner (pressing calibrate, reading the
// buttons) goes to the handle through OptionHost.
#pragma once

#include <sane/sane.h>

#include <array>
#include <string>
#include <vector>

#include "scan_geometry.h"

namespace qrx::sane {

enum Option : SANE_Int {
  kOptionCount = 0,
  kStandardGroup,
  kMode,
  kDepth,
  kResolution,
  kPreview,
  kLamp,
  kGeometryGroup,
  kTopLeftX,
  kTopLeftY,
  kBottomRightX,
  kBottomRightY,
  kAdvancedGroup,
  kCalibrate,
  kSensorsGroup,
  kScanButton,
  kCopyButton,
  kEmailButton,
  kFileButton,
  kNumberOfOptions
};

// The scanner's side of the options.
class OptionHost {
 public:
  virtual ~OptionHost() = default;
  // The calibrate button.
  virtual SANE_Status calibrate() = 0;
  // Whether front-panel button 1 to 4 was pressed since it was last asked.
  virtual SANE_Status button_pressed(int button, bool& pressed) = 0;
};

class ScanOptions {
 public:
  // resolutions: the ability record's list; glass: its flatbed area.
  ScanOptions(const std::vector<uint16_t>& resolutions, const Glass& glass);
  // The descriptors point into the object.
  ScanOptions(const ScanOptions&) = delete;
  ScanOptions& operator=(const ScanOptions&) = delete;

  const SANE_Option_Descriptor* descriptor(SANE_Int option) const;

  // sane_control_option. While a scan runs, only reading is allowed.
  SANE_Status control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info,
                      OptionHost& host, bool scanning);

  // The scan the options describe (preview: the lowest resolution, 8 bits).
  ScanSettings settings() const;
  const Glass& glass() const { return glass_; }

 private:
  SANE_Status get(SANE_Int option, void* value, OptionHost& host);
  SANE_Status set(SANE_Int option, void* value, SANE_Int* info, OptionHost& host);

  Glass glass_;
  std::array<SANE_Option_Descriptor, kNumberOfOptions> descriptors_{};
  std::array<SANE_Word, kNumberOfOptions> words_{};  // values of the word options
  std::string mode_ = "Color";
  std::string lamp_ = "Flatbed";
  std::vector<SANE_Word> resolution_list_;  // count first, as SANE wants it
  std::vector<SANE_Word> depth_list_;
  SANE_Range x_range_{}, y_range_{};
};

}  // namespace qrx::sane
