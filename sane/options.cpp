// The option table and sane_control_option (see options.h).
#include "options.h"

#include <strings.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <sane/saneopts.h>

namespace qrx::sane {
namespace {

const SANE_String_Const kModes[] = {SANE_VALUE_SCAN_MODE_COLOR, SANE_VALUE_SCAN_MODE_GRAY, nullptr};
// The light sources of this scanner: its flatbed LEDs. A film adapter would add
// its lights here; this model reports none (GetOPUMode).
const SANE_String_Const kLamps[] = {"Flatbed", nullptr};

constexpr SANE_Int kStringSize = 16;

SANE_Option_Descriptor group(const char* title) {
  SANE_Option_Descriptor d{};
  d.name = "";
  d.title = title;
  d.desc = "";
  d.type = SANE_TYPE_GROUP;
  d.cap = 0;
  d.size = 0;
  d.constraint_type = SANE_CONSTRAINT_NONE;
  return d;
}

SANE_Option_Descriptor option(const char* name, const char* title, const char* desc,
                              SANE_Value_Type type, SANE_Unit unit, SANE_Int cap) {
  SANE_Option_Descriptor d{};
  d.name = name;
  d.title = title;
  d.desc = desc;
  d.type = type;
  d.unit = unit;
  d.size = type == SANE_TYPE_STRING   ? kStringSize
           : type == SANE_TYPE_BUTTON ? 0
                                      : sizeof(SANE_Word);
  d.cap = cap;
  d.constraint_type = SANE_CONSTRAINT_NONE;
  return d;
}

constexpr SANE_Int kSelectable = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
constexpr SANE_Int kSensor = SANE_CAP_SOFT_DETECT | SANE_CAP_HARD_SELECT | SANE_CAP_ADVANCED;

int button_of(SANE_Int option) {
  return option - kScanButton + 1;
}

// The value of a word option fitted to its constraint; inexact when changed.
SANE_Word constrained(const SANE_Option_Descriptor& d, SANE_Word value, bool& inexact) {
  SANE_Word fitted = value;
  if (d.constraint_type == SANE_CONSTRAINT_RANGE) {
    const SANE_Range& range = *d.constraint.range;
    fitted = std::clamp(value, range.min, range.max);
  } else if (d.constraint_type == SANE_CONSTRAINT_WORD_LIST) {
    const SANE_Word* list = d.constraint.word_list;
    fitted = list[1];
    for (SANE_Word i = 1; i <= list[0]; ++i) {
      if (std::llabs(int64_t{list[i]} - value) < std::llabs(int64_t{fitted} - value))
        fitted = list[i];
    }
  }
  inexact = fitted != value;
  return fitted;
}

}  // namespace

ScanOptions::ScanOptions(const std::vector<uint16_t>& resolutions, const Glass& glass)
    : glass_(glass) {
  resolution_list_.push_back(static_cast<SANE_Word>(resolutions.size()));
  for (uint16_t dpi : resolutions) resolution_list_.push_back(dpi);
  depth_list_ = {2, 8, 16};
  x_range_ = {0, SANE_FIX(glass.width * 25.4 / glass.unit), 0};
  y_range_ = {0, SANE_FIX(glass.length * 25.4 / glass.unit), 0};

  auto& d = descriptors_;
  d[kOptionCount] = option(SANE_NAME_NUM_OPTIONS, SANE_TITLE_NUM_OPTIONS, SANE_DESC_NUM_OPTIONS,
                           SANE_TYPE_INT, SANE_UNIT_NONE, SANE_CAP_SOFT_DETECT);
  d[kStandardGroup] = group(SANE_TITLE_STANDARD);
  d[kMode] = option(SANE_NAME_SCAN_MODE, SANE_TITLE_SCAN_MODE, SANE_DESC_SCAN_MODE,
                    SANE_TYPE_STRING, SANE_UNIT_NONE, kSelectable);
  d[kMode].constraint_type = SANE_CONSTRAINT_STRING_LIST;
  d[kMode].constraint.string_list = kModes;
  d[kDepth] = option(SANE_NAME_BIT_DEPTH, SANE_TITLE_BIT_DEPTH, SANE_DESC_BIT_DEPTH, SANE_TYPE_INT,
                     SANE_UNIT_BIT, kSelectable);
  d[kDepth].constraint_type = SANE_CONSTRAINT_WORD_LIST;
  d[kDepth].constraint.word_list = depth_list_.data();
  d[kResolution] = option(SANE_NAME_SCAN_RESOLUTION, SANE_TITLE_SCAN_RESOLUTION,
                          SANE_DESC_SCAN_RESOLUTION, SANE_TYPE_INT, SANE_UNIT_DPI, kSelectable);
  d[kResolution].constraint_type = SANE_CONSTRAINT_WORD_LIST;
  d[kResolution].constraint.word_list = resolution_list_.data();
  d[kPreview] = option(SANE_NAME_PREVIEW, SANE_TITLE_PREVIEW, SANE_DESC_PREVIEW, SANE_TYPE_BOOL,
                       SANE_UNIT_NONE, kSelectable);
  d[kLamp] = option("lamp", "Light source",
                    "The light the scan is lit with. Only the flatbed light applies to a "
                    "scanner without a film adapter.",
                    SANE_TYPE_STRING, SANE_UNIT_NONE, kSelectable | SANE_CAP_INACTIVE);
  d[kLamp].constraint_type = SANE_CONSTRAINT_STRING_LIST;
  d[kLamp].constraint.string_list = kLamps;

  d[kGeometryGroup] = group(SANE_TITLE_GEOMETRY);
  const struct {
    Option index;
    const char *name, *title, *desc;
    const SANE_Range* range;
  } corners[] = {
      {kTopLeftX, SANE_NAME_SCAN_TL_X, SANE_TITLE_SCAN_TL_X, SANE_DESC_SCAN_TL_X, &x_range_},
      {kTopLeftY, SANE_NAME_SCAN_TL_Y, SANE_TITLE_SCAN_TL_Y, SANE_DESC_SCAN_TL_Y, &y_range_},
      {kBottomRightX, SANE_NAME_SCAN_BR_X, SANE_TITLE_SCAN_BR_X, SANE_DESC_SCAN_BR_X, &x_range_},
      {kBottomRightY, SANE_NAME_SCAN_BR_Y, SANE_TITLE_SCAN_BR_Y, SANE_DESC_SCAN_BR_Y, &y_range_},
  };
  for (const auto& corner : corners) {
    d[corner.index] =
        option(corner.name, corner.title, corner.desc, SANE_TYPE_FIXED, SANE_UNIT_MM, kSelectable);
    d[corner.index].constraint_type = SANE_CONSTRAINT_RANGE;
    d[corner.index].constraint.range = corner.range;
  }

  d[kAdvancedGroup] = group(SANE_TITLE_ADVANCED);
  d[kCalibrate] = option("calibrate", "Calibrate",
                         "Calibrate the scanner now for the resolution chosen: exposure, dark "
                         "and white shading. The scanner also calibrates by itself when a scan "
                         "finds no calibration stored, and after every 1000 scans.",
                         SANE_TYPE_BUTTON, SANE_UNIT_NONE, kSelectable | SANE_CAP_ADVANCED);

  d[kSensorsGroup] = group(SANE_TITLE_SENSORS);
  d[kScanButton] = option(SANE_NAME_SCAN, SANE_TITLE_SCAN, "Front-panel button 1", SANE_TYPE_BOOL,
                          SANE_UNIT_NONE, kSensor);
  d[kCopyButton] = option(SANE_NAME_COPY, SANE_TITLE_COPY, "Front-panel button 2", SANE_TYPE_BOOL,
                          SANE_UNIT_NONE, kSensor);
  d[kEmailButton] = option(SANE_NAME_EMAIL, SANE_TITLE_EMAIL, "Front-panel button 3",
                           SANE_TYPE_BOOL, SANE_UNIT_NONE, kSensor);
  d[kFileButton] = option("file", "File button", "Front-panel button 4", SANE_TYPE_BOOL,
                          SANE_UNIT_NONE, kSensor);

  words_[kOptionCount] = kNumberOfOptions;
  words_[kDepth] = 8;
  words_[kResolution] = 300;
  if (std::find(resolutions.begin(), resolutions.end(), 300) == resolutions.end() &&
      !resolutions.empty()) {
    words_[kResolution] = resolutions.front();
  }
  words_[kPreview] = SANE_FALSE;
  words_[kTopLeftX] = words_[kTopLeftY] = 0;
  words_[kBottomRightX] = x_range_.max;
  words_[kBottomRightY] = y_range_.max;
}

const SANE_Option_Descriptor* ScanOptions::descriptor(SANE_Int option) const {
  if (option < 0 || option >= kNumberOfOptions) return nullptr;
  return &descriptors_[option];
}

SANE_Status ScanOptions::control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info,
                                 OptionHost& host, bool scanning) {
  if (info != nullptr) *info = 0;
  if (option < 0 || option >= kNumberOfOptions) return SANE_STATUS_INVAL;
  const SANE_Option_Descriptor& d = descriptors_[option];
  if (d.type == SANE_TYPE_GROUP || !SANE_OPTION_IS_ACTIVE(d.cap)) return SANE_STATUS_INVAL;
  switch (action) {
    case SANE_ACTION_GET_VALUE:
      if (d.type == SANE_TYPE_BUTTON || value == nullptr) return SANE_STATUS_INVAL;
      return get(option, value, host);
    case SANE_ACTION_SET_VALUE:
      if (!SANE_OPTION_IS_SETTABLE(d.cap)) return SANE_STATUS_INVAL;
      if (value == nullptr && d.type != SANE_TYPE_BUTTON) return SANE_STATUS_INVAL;
      if (scanning) return SANE_STATUS_DEVICE_BUSY;
      return set(option, value, info, host);
    default:  // no option is set automatically
      return SANE_STATUS_INVAL;
  }
}

SANE_Status ScanOptions::get(SANE_Int option, void* value, OptionHost& host) {
  switch (option) {
    case kMode:
      std::strcpy(static_cast<char*>(value), mode_.c_str());
      return SANE_STATUS_GOOD;
    case kLamp:
      std::strcpy(static_cast<char*>(value), lamp_.c_str());
      return SANE_STATUS_GOOD;
    case kScanButton:
    case kCopyButton:
    case kEmailButton:
    case kFileButton: {
      bool pressed = false;
      const SANE_Status status = host.button_pressed(button_of(option), pressed);
      if (status != SANE_STATUS_GOOD) return status;
      *static_cast<SANE_Word*>(value) = pressed ? SANE_TRUE : SANE_FALSE;
      return SANE_STATUS_GOOD;
    }
    default:
      *static_cast<SANE_Word*>(value) = words_[option];
      return SANE_STATUS_GOOD;
  }
}

SANE_Status ScanOptions::set(SANE_Int option, void* value, SANE_Int* info, OptionHost& host) {
  const SANE_Option_Descriptor& d = descriptors_[option];
  SANE_Int effects = 0;
  if (d.type == SANE_TYPE_BUTTON) {
    return host.calibrate();
  } else if (d.type == SANE_TYPE_STRING) {
    const char* given = static_cast<const char*>(value);
    const SANE_String_Const* choice = d.constraint.string_list;
    while (*choice != nullptr && strcasecmp(*choice, given) != 0) ++choice;
    if (*choice == nullptr) return SANE_STATUS_INVAL;
    if (std::strcmp(*choice, given) != 0) {
      // The choice as spelled in the list, written back for the caller.
      std::strcpy(static_cast<char*>(value), *choice);
      effects |= SANE_INFO_INEXACT;
    }
    std::string& held = option == kMode ? mode_ : lamp_;
    if (held != *choice) effects |= SANE_INFO_RELOAD_PARAMS;
    held = *choice;
  } else {
    SANE_Word word = *static_cast<SANE_Word*>(value);
    if (d.type == SANE_TYPE_BOOL && word != SANE_FALSE && word != SANE_TRUE) {
      return SANE_STATUS_INVAL;
    }
    bool inexact = false;
    word = constrained(d, word, inexact);
    if (inexact) {
      *static_cast<SANE_Word*>(value) = word;
      effects |= SANE_INFO_INEXACT;
    }
    if (words_[option] != word) effects |= SANE_INFO_RELOAD_PARAMS;
    words_[option] = word;
  }
  if (info != nullptr) *info = effects;
  return SANE_STATUS_GOOD;
}

ScanSettings ScanOptions::settings() const {
  ScanSettings settings;
  settings.colour = mode_ == SANE_VALUE_SCAN_MODE_COLOR;
  settings.depth = words_[kDepth];
  settings.dpi = static_cast<uint16_t>(words_[kResolution]);
  if (words_[kPreview] == SANE_TRUE) {
    settings.dpi = static_cast<uint16_t>(
        *std::min_element(resolution_list_.begin() + 1, resolution_list_.end()));
    settings.depth = 8;
  }
  settings.tl_x = words_[kTopLeftX];
  settings.tl_y = words_[kTopLeftY];
  settings.br_x = words_[kBottomRightX];
  settings.br_y = words_[kBottomRightY];
  return settings;
}

}  // namespace qrx::sane
