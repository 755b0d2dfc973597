// sane_control_option and the relations between the options (see options.h).
#include "options.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <sane/saneopts.h>

namespace qrx::sane {
namespace {

constexpr SANE_Int kReload = SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;

int button_of(SANE_Int option) {
  return option - kScanButton + 1;
}

bool is_table(SANE_Int option) {
  return option >= kGammaTable && option <= kBlueGammaTable;
}

// The value of a word fitted to its constraint; inexact when changed.
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

const SANE_Option_Descriptor* ScanOptions::descriptor(SANE_Int option) const {
  if (option < 0 || option >= kNumberOfOptions) return nullptr;
  return &descriptors_[option];
}

void ScanOptions::set_active(SANE_Int option, bool active) {
  SANE_Int& cap = descriptors_[option].cap;
  cap = active ? (cap & ~SANE_CAP_INACTIVE) : (cap | SANE_CAP_INACTIVE);
}

void ScanOptions::update_activity() {
  const bool custom = words_[kCustomGamma] == SANE_TRUE;
  const bool colour = mode_ == SANE_VALUE_SCAN_MODE_COLOR;
  set_active(kBrightness, !custom);
  set_active(kContrast, !custom);
  set_active(kThreshold, mode_ == SANE_VALUE_SCAN_MODE_LINEART);
  set_active(kGammaTable, custom && !colour);
  for (SANE_Int table : {kRedGammaTable, kGreenGammaTable, kBlueGammaTable}) {
    set_active(table, custom && colour);
  }
}

SANE_Int ScanOptions::choose_source(size_t index) {
  source_index_ = index;
  const Source& chosen = source();
  descriptors_[kResolution].constraint.word_list = chosen.resolutions.data();
  if (words_[kResolution] != 0 && !chosen.offers(words_[kResolution])) {
    bool inexact = false;
    words_[kResolution] = constrained(descriptors_[kResolution], words_[kResolution], inexact);
  }
  if (resolution_before_preview_ && !chosen.offers(*resolution_before_preview_)) {
    bool inexact = false;
    resolution_before_preview_ =
        constrained(descriptors_[kResolution], *resolution_before_preview_, inexact);
  }
  if (words_[kPreview] == SANE_TRUE) words_[kResolution] = chosen.lowest_dpi();
  const Glass& area = chosen.area;
  x_range_ = {0, SANE_FIX(area.width * 25.4 / area.unit), 0};
  y_range_ = {0, SANE_FIX(area.length * 25.4 / area.unit), 0};
  // The whole area of the new source.
  words_[kTopLeftX] = words_[kTopLeftY] = 0;
  words_[kBottomRightX] = x_range_.max;
  words_[kBottomRightY] = y_range_.max;
  return kReload;
}

SANE_Int ScanOptions::choose_mode(const std::string& mode) {
  if (mode == mode_) return 0;
  const bool was_lineart = mode_ == SANE_VALUE_SCAN_MODE_LINEART;
  mode_ = mode;
  depth_before_preview_.reset();  // the depth goes with the mode now
  if (mode_ == SANE_VALUE_SCAN_MODE_LINEART) {
    words_[kDepth] = 1;
  } else if (was_lineart) {
    words_[kDepth] = 8;
  }
  update_activity();
  return kReload;
}

SANE_Int ScanOptions::choose_preview(bool on) {
  if (on == (words_[kPreview] == SANE_TRUE)) return 0;
  words_[kPreview] = on ? SANE_TRUE : SANE_FALSE;
  if (on) {
    resolution_before_preview_ = words_[kResolution];
    words_[kResolution] = source().lowest_dpi();
    if (words_[kDepth] == 16) {
      depth_before_preview_ = words_[kDepth];
      words_[kDepth] = 8;
    }
  } else {
    if (resolution_before_preview_) words_[kResolution] = *resolution_before_preview_;
    if (depth_before_preview_) words_[kDepth] = *depth_before_preview_;
    resolution_before_preview_.reset();
    depth_before_preview_.reset();
  }
  return kReload;
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
    case kSource:
      std::strcpy(static_cast<char*>(value), source().name);
      return SANE_STATUS_GOOD;
    case kMode:
      std::strcpy(static_cast<char*>(value), mode_.c_str());
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
      if (is_table(option)) {
        const std::vector<SANE_Word>& table = tables_[option - kGammaTable];
        std::memcpy(value, table.data(), table.size() * sizeof(SANE_Word));
      } else {
        *static_cast<SANE_Word*>(value) = words_[option];
      }
      return SANE_STATUS_GOOD;
  }
}

SANE_Status ScanOptions::set_string(SANE_Int option, void* value, SANE_Int& effects) {
  const SANE_Option_Descriptor& d = descriptors_[option];
  const char* given = static_cast<const char*>(value);
  const SANE_String_Const* choice = d.constraint.string_list;
  while (*choice != nullptr && strcasecmp(*choice, given) != 0) ++choice;
  if (*choice == nullptr) return SANE_STATUS_INVAL;
  if (std::strcmp(*choice, given) != 0) {
    // The choice as spelled in the list, written back for the caller.
    std::strcpy(static_cast<char*>(value), *choice);
    effects |= SANE_INFO_INEXACT;
  }
  if (option == kMode) {
    effects |= choose_mode(*choice);
  } else {
    const size_t index = static_cast<size_t>(choice - d.constraint.string_list);
    if (index != source_index_) effects |= choose_source(index);
  }
  return SANE_STATUS_GOOD;
}

SANE_Status ScanOptions::set_table(SANE_Int option, void* value, SANE_Int& effects) {
  const auto* given = static_cast<SANE_Word*>(value);
  std::vector<SANE_Word>& table = tables_[option - kGammaTable];
  for (SANE_Int i = 0; i < kGammaTableEntries; ++i) {
    bool inexact = false;
    const SANE_Word fitted = constrained(descriptors_[option], given[i], inexact);
    if (inexact) {
      static_cast<SANE_Word*>(value)[i] = fitted;
      effects |= SANE_INFO_INEXACT;
    }
    table[i] = fitted;
  }
  return SANE_STATUS_GOOD;
}

SANE_Status ScanOptions::set(SANE_Int option, void* value, SANE_Int* info, OptionHost& host) {
  const SANE_Option_Descriptor& d = descriptors_[option];
  SANE_Int effects = 0;
  if (d.type == SANE_TYPE_BUTTON) return host.calibrate();
  SANE_Status status = SANE_STATUS_GOOD;
  if (d.type == SANE_TYPE_STRING) {
    status = set_string(option, value, effects);
  } else if (is_table(option)) {
    status = set_table(option, value, effects);
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
    if (option == kPreview) {
      effects |= choose_preview(word == SANE_TRUE);
    } else {
      if (words_[option] != word) effects |= SANE_INFO_RELOAD_PARAMS;
      words_[option] = word;
      // A value set while preview is on is the caller's own: it stays.
      if (option == kResolution) resolution_before_preview_.reset();
      if (option == kDepth) depth_before_preview_.reset();
    }
    if (option == kDepth) {
      // One bit a sample is the Lineart mode, and more bits leave it.
      if (word == 1 && mode_ != SANE_VALUE_SCAN_MODE_LINEART) {
        effects |= choose_mode(SANE_VALUE_SCAN_MODE_LINEART);
      } else if (word != 1 && mode_ == SANE_VALUE_SCAN_MODE_LINEART) {
        mode_ = SANE_VALUE_SCAN_MODE_GRAY;
        update_activity();
        effects |= kReload;
      }
    }
    if (option == kCustomGamma) {
      update_activity();
      effects |= SANE_INFO_RELOAD_OPTIONS;
    }
  }
  if (info != nullptr) *info = effects;
  return status;
}

ScanSettings ScanOptions::settings() const {
  ScanSettings settings;
  settings.colour = mode_ == SANE_VALUE_SCAN_MODE_COLOR;
  settings.lineart = words_[kDepth] == 1;
  settings.depth = settings.lineart ? 8 : words_[kDepth];
  settings.dpi = static_cast<uint16_t>(words_[kResolution]);
  settings.film = source().film;
  settings.light = source().light;
  settings.tl_x = words_[kTopLeftX];
  settings.tl_y = words_[kTopLeftY];
  settings.br_x = words_[kBottomRightX];
  settings.br_y = words_[kBottomRightY];
  return settings;
}

ToneRequest ScanOptions::tone() const {
  ToneRequest request;
  request.brightness = words_[kBrightness];
  request.contrast = words_[kContrast];
  request.custom = words_[kCustomGamma] == SANE_TRUE;
  request.colour = mode_ == SANE_VALUE_SCAN_MODE_COLOR;
  for (size_t i = 0; i < tables_.size(); ++i) request.tables[i] = tables_[i].data();
  return request;
}

double ScanOptions::threshold_level() const {
  return SANE_UNFIX(words_[kThreshold]) * 255.0 / 100.0;
}

}  // namespace qrx::sane
