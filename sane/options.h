// The options a SANE front end sees, with the well-known names and units:
//
//   source       Flatbed, and Transparency where the ability record has a film
//                area: the light the scan is lit with and the area it lies in
//   mode         Color | Gray | Lineart (grey thresholded to one bit a pixel)
//   depth        1 | 8 | 16 bits per sample; 1 is Lineart and Lineart is 1
//   resolution   the source's resolutions from the ability record's list
//   preview      on: the resolution becomes the source's lowest and 16 bits
//                become 8 (both as the options then read), restored when off
//   tl-x tl-y br-x br-y   the scan area in millimetres within the source's area
//   brightness contrast   -100..100 %, a tone curve (tone_curve.h)
//   threshold    Lineart: levels below it (0..100 % of white) are black
//   custom-gamma with gamma-table (grey) or red-, green-, blue-gamma-table
//                (colour): 256 entries 0..255, the tone curve instead of
//                brightness and contrast
//   calibrate    a button: calibrate for the resolution chosen
//   scan copy email file  the front-panel buttons 1 to 4, read as sensors
//
// Options that depend on another change with it, and the caller is told to
// reload the options. The values live here; what needs the scanner (pressing
// calibrate, reading the buttons) goes to the handle through OptionHost.
#pragma once

#include <sane/sane.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "scan_geometry.h"
#include "sources.h"
#include "tone_curve.h"

namespace qrx::sane {

enum Option : SANE_Int {
  kOptionCount = 0,
  kStandardGroup,
  kSource,
  kMode,
  kDepth,
  kResolution,
  kPreview,
  kGeometryGroup,
  kTopLeftX,
  kTopLeftY,
  kBottomRightX,
  kBottomRightY,
  kEnhancementGroup,
  kBrightness,
  kContrast,
  kThreshold,
  kCustomGamma,
  kGammaTable,
  kRedGammaTable,
  kGreenGammaTable,
  kBlueGammaTable,
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
  // sources: what sources_of() made of the ability record (at least the flatbed).
  explicit ScanOptions(std::vector<Source> sources);
  // The descriptors point into the object.
  ScanOptions(const ScanOptions&) = delete;
  ScanOptions& operator=(const ScanOptions&) = delete;

  const SANE_Option_Descriptor* descriptor(SANE_Int option) const;

  // sane_control_option. While a scan runs, only reading is allowed.
  SANE_Status control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info,
                      OptionHost& host, bool scanning);

  // The scan the options describe.
  ScanSettings settings() const;
  // The area of the source chosen.
  const Glass& glass() const { return source().area; }
  // The tone curves asked for; identity curves when none.
  ToneRequest tone() const;
  // Lineart's threshold as a level from 0 to 255: lower levels are black.
  double threshold_level() const;

 private:
  void build_descriptors();
  const Source& source() const { return sources_[source_index_]; }
  SANE_Status get(SANE_Int option, void* value, OptionHost& host);
  SANE_Status set(SANE_Int option, void* value, SANE_Int* info, OptionHost& host);
  SANE_Status set_string(SANE_Int option, void* value, SANE_Int& effects);
  SANE_Status set_table(SANE_Int option, void* value, SANE_Int& effects);
  // What a change of one option brings about in the others; the effects on the caller.
  SANE_Int choose_source(size_t index);
  SANE_Int choose_mode(const std::string& mode);
  SANE_Int choose_preview(bool on);
  // Which options apply, from the mode and custom-gamma.
  void update_activity();
  void set_active(SANE_Int option, bool active);

  std::vector<Source> sources_;
  size_t source_index_ = 0;
  std::vector<SANE_String_Const> source_names_;  // null-ended
  std::array<SANE_Option_Descriptor, kNumberOfOptions> descriptors_{};
  std::array<SANE_Word, kNumberOfOptions> words_{};  // values of the word options
  std::array<std::vector<SANE_Word>, 4> tables_;     // grey, red, green, blue
  std::string mode_ = "Color";
  // What preview changed, to restore when it is turned off; a value the caller
  // sets meanwhile is kept instead.
  std::optional<SANE_Word> resolution_before_preview_;
  std::optional<SANE_Word> depth_before_preview_;
  std::vector<SANE_Word> depth_list_;
  SANE_Range x_range_{}, y_range_{};
  SANE_Range percent_range_{}, threshold_range_{}, table_range_{};
};

}  // namespace qrx::sane
