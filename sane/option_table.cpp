// The option descriptors and their starting values (see options.h).
#include <sane/saneopts.h>

#include <algorithm>

#include "options.h"

namespace qrx::sane {
namespace {

const SANE_String_Const kModes[] = {SANE_VALUE_SCAN_MODE_COLOR, SANE_VALUE_SCAN_MODE_GRAY,
                                    SANE_VALUE_SCAN_MODE_LINEART, nullptr};

constexpr SANE_Int kStringSize = 16;
constexpr SANE_Int kSelectable = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
constexpr SANE_Int kSensor = SANE_CAP_SOFT_DETECT | SANE_CAP_HARD_SELECT | SANE_CAP_ADVANCED;

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

SANE_Option_Descriptor ranged(SANE_Option_Descriptor d, const SANE_Range* range) {
  d.constraint_type = SANE_CONSTRAINT_RANGE;
  d.constraint.range = range;
  return d;
}

}  // namespace

ScanOptions::ScanOptions(std::vector<Source> sources) : sources_(std::move(sources)) {
  for (const Source& s : sources_) source_names_.push_back(s.name);
  source_names_.push_back(nullptr);
  depth_list_ = {3, 1, 8, 16};
  percent_range_ = {-100, 100, 1};
  threshold_range_ = {0, SANE_FIX(100), 0};
  table_range_ = {0, kGammaTableMax, 1};
  build_descriptors();

  words_[kOptionCount] = kNumberOfOptions;
  words_[kDepth] = 8;
  words_[kPreview] = SANE_FALSE;
  words_[kBrightness] = words_[kContrast] = 0;
  words_[kThreshold] = SANE_FIX(50);
  words_[kCustomGamma] = SANE_FALSE;
  for (auto& table : tables_) {
    table.resize(kGammaTableEntries);
    for (SANE_Int i = 0; i < kGammaTableEntries; ++i) table[i] = i;
  }
  choose_source(0);
  words_[kResolution] = source().offers(300) ? 300 : source().lowest_dpi();
  update_activity();
}

void ScanOptions::build_descriptors() {
  auto& d = descriptors_;
  d[kOptionCount] = option(SANE_NAME_NUM_OPTIONS, SANE_TITLE_NUM_OPTIONS, SANE_DESC_NUM_OPTIONS,
                           SANE_TYPE_INT, SANE_UNIT_NONE, SANE_CAP_SOFT_DETECT);
  d[kStandardGroup] = group(SANE_TITLE_STANDARD);
  d[kSource] = option(SANE_NAME_SCAN_SOURCE, SANE_TITLE_SCAN_SOURCE,
                      "The light the scan is lit with and the area it lies in: Flatbed, a "
                      "document on the glass; Transparency, film in the film adapter, lit "
                      "from above (from 300 dpi up).",
                      SANE_TYPE_STRING, SANE_UNIT_NONE, kSelectable);
  d[kSource].constraint_type = SANE_CONSTRAINT_STRING_LIST;
  d[kSource].constraint.string_list = source_names_.data();
  d[kMode] = option(SANE_NAME_SCAN_MODE, SANE_TITLE_SCAN_MODE,
                    "Color, Gray, or Lineart: grey made black and white at the threshold, "
                    "one bit a pixel (no halftone).",
                    SANE_TYPE_STRING, SANE_UNIT_NONE, kSelectable);
  d[kMode].constraint_type = SANE_CONSTRAINT_STRING_LIST;
  d[kMode].constraint.string_list = kModes;
  d[kDepth] = option(SANE_NAME_BIT_DEPTH, SANE_TITLE_BIT_DEPTH,
                     "Bits per sample: 8 or 16 for Color and Gray; 1 is the Lineart mode.",
                     SANE_TYPE_INT, SANE_UNIT_BIT, kSelectable);
  d[kDepth].constraint_type = SANE_CONSTRAINT_WORD_LIST;
  d[kDepth].constraint.word_list = depth_list_.data();
  d[kResolution] = option(SANE_NAME_SCAN_RESOLUTION, SANE_TITLE_SCAN_RESOLUTION,
                          SANE_DESC_SCAN_RESOLUTION, SANE_TYPE_INT, SANE_UNIT_DPI, kSelectable);
  d[kResolution].constraint_type = SANE_CONSTRAINT_WORD_LIST;
  d[kPreview] = option(SANE_NAME_PREVIEW, SANE_TITLE_PREVIEW,
                       "A quick scan: turned on, it sets the resolution to the lowest and 16 "
                       "bits to 8, and turned off it sets back what it changed.",
                       SANE_TYPE_BOOL, SANE_UNIT_NONE, kSelectable);

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
    d[corner.index] = ranged(
        option(corner.name, corner.title, corner.desc, SANE_TYPE_FIXED, SANE_UNIT_MM, kSelectable),
        corner.range);
  }

  d[kEnhancementGroup] = group(SANE_TITLE_ENHANCEMENT);
  d[kBrightness] = ranged(option(SANE_NAME_BRIGHTNESS, SANE_TITLE_BRIGHTNESS,
                                 "Moves every level by this share of white.", SANE_TYPE_INT,
                                 SANE_UNIT_PERCENT, kSelectable),
                          &percent_range_);
  d[kContrast] = ranged(option(SANE_NAME_CONTRAST, SANE_TITLE_CONTRAST,
                               "Spreads the levels away from mid-grey (more than 0) or draws "
                               "them towards it (less than 0).",
                               SANE_TYPE_INT, SANE_UNIT_PERCENT, kSelectable),
                        &percent_range_);
  d[kThreshold] = ranged(option(SANE_NAME_THRESHOLD, SANE_TITLE_THRESHOLD,
                                "Lineart: levels darker than this share of white are black.",
                                SANE_TYPE_FIXED, SANE_UNIT_PERCENT, kSelectable),
                         &threshold_range_);
  d[kCustomGamma] = option(SANE_NAME_CUSTOM_GAMMA, SANE_TITLE_CUSTOM_GAMMA,
                           "Use the gamma tables as the tone curve, in place of brightness and "
                           "contrast.",
                           SANE_TYPE_BOOL, SANE_UNIT_NONE, kSelectable | SANE_CAP_ADVANCED);
  const struct {
    Option index;
    const char *name, *title, *desc;
  } tables[] = {
      {kGammaTable, SANE_NAME_GAMMA_VECTOR, SANE_TITLE_GAMMA_VECTOR, SANE_DESC_GAMMA_VECTOR},
      {kRedGammaTable, SANE_NAME_GAMMA_VECTOR_R, SANE_TITLE_GAMMA_VECTOR_R,
       SANE_DESC_GAMMA_VECTOR_R},
      {kGreenGammaTable, SANE_NAME_GAMMA_VECTOR_G, SANE_TITLE_GAMMA_VECTOR_G,
       SANE_DESC_GAMMA_VECTOR_G},
      {kBlueGammaTable, SANE_NAME_GAMMA_VECTOR_B, SANE_TITLE_GAMMA_VECTOR_B,
       SANE_DESC_GAMMA_VECTOR_B},
  };
  for (const auto& table : tables) {
    d[table.index] = ranged(option(table.name, table.title, table.desc, SANE_TYPE_INT,
                                   SANE_UNIT_NONE, kSelectable | SANE_CAP_ADVANCED),
                            &table_range_);
    d[table.index].size = kGammaTableEntries * sizeof(SANE_Word);
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
}

}  // namespace qrx::sane
