// Capability negotiation (see capabilities.h).
#include "capabilities.h"

#include <algorithm>
#include <cmath>

namespace qrx::twain {
namespace {

CapView one(TW_UINT16 type, double current, double fallback, bool settable) {
  CapView v;
  v.type = type;
  v.kind = CapView::kOne;
  v.current = current;
  v.fallback = fallback;
  v.settable = settable;
  return v;
}

CapView enumeration(TW_UINT16 type, std::vector<double> items, double current, double fallback) {
  CapView v;
  v.type = type;
  v.kind = CapView::kEnum;
  v.items = std::move(items);
  v.current = current;
  v.fallback = fallback;
  v.settable = true;
  return v;
}

CapView range(double min, double max, double current, double fallback) {
  CapView v;
  v.type = TWTY_FIX32;
  v.kind = CapView::kRange;
  v.min = min;
  v.max = max;
  v.step = 1;
  v.current = current;
  v.fallback = fallback;
  v.settable = true;
  return v;
}

bool contains(const std::vector<double>& items, double value) {
  return std::find(items.begin(), items.end(), value) != items.end();
}

// Near enough to count as the same fixed-point number.
bool same(double a, double b) { return std::fabs(a - b) < 1.0 / 65536 * 2; }

}  // namespace

bool page_size(TW_UINT16 size, double& width, double& height) {
  switch (size) {
    case TWSS_A4LETTER: width = 210 / 25.4; height = 297 / 25.4; return true;
    case TWSS_USLETTER: width = 8.5; height = 11; return true;
    case TWSS_A5: width = 148 / 25.4; height = 210 / 25.4; return true;
    default: return false;
  }
}

const std::vector<TW_UINT16>& Capabilities::supported() {
  static const std::vector<TW_UINT16> caps = {
      CAP_SUPPORTEDCAPS,    CAP_XFERCOUNT,       CAP_UICONTROLLABLE, CAP_INDICATORS,
      CAP_DEVICEONLINE,     CAP_FEEDERENABLED,   ICAP_XFERMECH,      ICAP_PIXELTYPE,
      ICAP_BITDEPTH,        ICAP_XRESOLUTION,    ICAP_YRESOLUTION,   ICAP_UNITS,
      ICAP_PHYSICALWIDTH,   ICAP_PHYSICALHEIGHT, ICAP_SUPPORTEDSIZES, ICAP_BRIGHTNESS,
      ICAP_CONTRAST,        ICAP_THRESHOLD,      ICAP_COMPRESSION,   ICAP_PLANARCHUNKY,
      ICAP_PIXELFLAVOR,     ICAP_BITORDER};
  return caps;
}

bool Capabilities::view(TW_UINT16 cap, CapView& v) const {
  const Settings d = Settings::defaults(abilities_);
  switch (cap) {
    case CAP_SUPPORTEDCAPS:
      v = CapView{};
      v.type = TWTY_UINT16;
      v.kind = CapView::kArray;
      for (TW_UINT16 c : supported()) v.items.push_back(c);
      return true;
    case CAP_XFERCOUNT: v = one(TWTY_INT16, s_.xfer_count, -1, true); return true;
    case CAP_UICONTROLLABLE: v = one(TWTY_BOOL, 1, 1, false); return true;
    case CAP_INDICATORS: v = one(TWTY_BOOL, s_.indicators, 1, true); return true;
    case CAP_DEVICEONLINE: v = one(TWTY_BOOL, 1, 1, false); return true;
    case CAP_FEEDERENABLED: v = enumeration(TWTY_BOOL, {0}, 0, 0); return true;
    case ICAP_XFERMECH:
      v = enumeration(TWTY_UINT16, {TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY}, s_.xfer_mech,
                      TWSX_NATIVE);
      return true;
    case ICAP_PIXELTYPE:
      v = enumeration(TWTY_UINT16, {TWPT_BW, TWPT_GRAY, TWPT_RGB}, s_.pixel_type, TWPT_RGB);
      return true;
    case ICAP_BITDEPTH:
      if (s_.pixel_type == TWPT_BW) {
        v = enumeration(TWTY_UINT16, {1}, s_.bit_depth, 1);
      } else {
        v = enumeration(TWTY_UINT16, {8, 16}, s_.bit_depth, 8);
      }
      return true;
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
      const double per_inch = s_.units == TWUN_CENTIMETERS ? 1 / 2.54 : 1.0;
      std::vector<double> items;
      for (uint16_t dpi : abilities_.resolutions) items.push_back(to_fix32_round(dpi * per_inch));
      v = enumeration(TWTY_FIX32, items, to_fix32_round(s_.resolution * per_inch),
                      to_fix32_round(d.resolution * per_inch));
      return true;
    }
    case ICAP_UNITS:
      v = enumeration(TWTY_UINT16, {TWUN_INCHES, TWUN_CENTIMETERS, TWUN_PIXELS}, s_.units,
                      TWUN_INCHES);
      return true;
    case ICAP_PHYSICALWIDTH:
      v = one(TWTY_FIX32, s_.to_units(abilities_.glass_width_in),
              s_.to_units(abilities_.glass_width_in), false);
      return true;
    case ICAP_PHYSICALHEIGHT:
      v = one(TWTY_FIX32, s_.to_units(abilities_.glass_length_in),
              s_.to_units(abilities_.glass_length_in), false);
      return true;
    case ICAP_SUPPORTEDSIZES: {
      std::vector<double> sizes = {TWSS_NONE};
      for (TW_UINT16 size : {TWSS_A4LETTER, TWSS_USLETTER, TWSS_A5}) {
        double w = 0, h = 0;
        page_size(size, w, h);
        if (w <= abilities_.glass_width_in + 1e-6 && h <= abilities_.glass_length_in + 1e-6) {
          sizes.push_back(size);
        }
      }
      v = enumeration(TWTY_UINT16, sizes, s_.supported_size, TWSS_NONE);
      return true;
    }
    case ICAP_BRIGHTNESS: v = range(-1000, 1000, s_.brightness, 0); return true;
    case ICAP_CONTRAST: v = range(-1000, 1000, s_.contrast, 0); return true;
    case ICAP_THRESHOLD: v = range(0, 255, s_.threshold, 128); return true;
    case ICAP_COMPRESSION: v = enumeration(TWTY_UINT16, {TWCP_NONE}, TWCP_NONE, TWCP_NONE); return true;
    case ICAP_PLANARCHUNKY:
      v = enumeration(TWTY_UINT16, {TWPC_CHUNKY}, TWPC_CHUNKY, TWPC_CHUNKY);
      return true;
    case ICAP_PIXELFLAVOR:
      v = enumeration(TWTY_UINT16, {TWPF_CHOCOLATE}, TWPF_CHOCOLATE, TWPF_CHOCOLATE);
      return true;
    case ICAP_BITORDER:
      v = enumeration(TWTY_UINT16, {TWBO_MSBFIRST}, TWBO_MSBFIRST, TWBO_MSBFIRST);
      return true;
    default:
      return false;
  }
}

TW_UINT16 Capabilities::set(TW_UINT16 cap, double value, TW_UINT16& condition) {
  CapView v;
  if (!view(cap, v)) {
    condition = TWCC_CAPUNSUPPORTED;
    return TWRC_FAILURE;
  }
  if (!v.settable || v.kind == CapView::kArray) {
    condition = TWCC_CAPBADOPERATION;
    return TWRC_FAILURE;
  }
  auto refuse = [&] {
    condition = TWCC_BADVALUE;
    return TWRC_FAILURE;
  };
  switch (cap) {
    case CAP_XFERCOUNT:
      // A flatbed has one image to give: -1 ("all") and 1 are taken as they are,
      // a larger count is rounded down to the one there is.
      if (value == -1 || value == 1) {
        s_.xfer_count = static_cast<TW_INT16>(value);
        return TWRC_SUCCESS;
      }
      if (value > 1 && value <= 32767) {
        s_.xfer_count = 1;
        return TWRC_CHECKSTATUS;
      }
      return refuse();
    case CAP_INDICATORS:
      s_.indicators = value != 0;
      return TWRC_SUCCESS;
    case ICAP_BITDEPTH:
      if (contains(v.items, value)) {
        s_.bit_depth = static_cast<TW_UINT16>(value);
        return TWRC_SUCCESS;
      }
      // Colour depths given per pixel are taken per sample.
      if (s_.pixel_type == TWPT_RGB && (value == 24 || value == 48)) {
        s_.bit_depth = static_cast<TW_UINT16>(value / 3);
        return TWRC_CHECKSTATUS;
      }
      return refuse();
    case ICAP_PIXELTYPE:
      if (!contains(v.items, value)) return refuse();
      s_.pixel_type = static_cast<TW_UINT16>(value);
      if (s_.pixel_type == TWPT_BW) {
        s_.bit_depth = 1;
      } else if (s_.bit_depth == 1) {
        s_.bit_depth = 8;
      }
      return TWRC_SUCCESS;
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
      if (!(value > 0)) return refuse();
      const double per_inch = s_.units == TWUN_CENTIMETERS ? 1 / 2.54 : 1.0;
      const double dpi = value / per_inch;
      uint16_t best = abilities_.resolutions.front();
      for (uint16_t r : abilities_.resolutions) {
        if (std::fabs(r - dpi) < std::fabs(best - dpi)) best = r;
      }
      s_.resolution = best;
      return same(to_fix32_round(best * per_inch), value) ? TWRC_SUCCESS : TWRC_CHECKSTATUS;
    }
    case ICAP_SUPPORTEDSIZES: {
      if (!contains(v.items, value)) return refuse();
      s_.supported_size = static_cast<TW_UINT16>(value);
      double w = abilities_.glass_width_in, h = abilities_.glass_length_in;
      page_size(s_.supported_size, w, h);
      s_.left = s_.top = 0;
      s_.right = w;
      s_.bottom = h;
      return TWRC_SUCCESS;
    }
    case ICAP_BRIGHTNESS:
    case ICAP_CONTRAST:
    case ICAP_THRESHOLD: {
      if (value < v.min || value > v.max) return refuse();
      const double rounded = std::round(value);
      double& target = cap == ICAP_BRIGHTNESS ? s_.brightness
                       : cap == ICAP_CONTRAST ? s_.contrast
                                              : s_.threshold;
      target = rounded;
      return same(rounded, value) ? TWRC_SUCCESS : TWRC_CHECKSTATUS;
    }
    default:
      // Enumerations of fixed choices (mechanism, units, and those with one item).
      if (v.kind != CapView::kEnum || !contains(v.items, value)) return refuse();
      if (cap == ICAP_XFERMECH) s_.xfer_mech = static_cast<TW_UINT16>(value);
      if (cap == ICAP_UNITS) s_.units = static_cast<TW_UINT16>(value);
      return TWRC_SUCCESS;
  }
}

TW_UINT16 Capabilities::reset(TW_UINT16 cap, TW_UINT16& condition) {
  CapView v;
  if (!view(cap, v)) {
    condition = TWCC_CAPUNSUPPORTED;
    return TWRC_FAILURE;
  }
  if (!v.settable || v.kind == CapView::kArray) {
    condition = TWCC_CAPBADOPERATION;
    return TWRC_FAILURE;
  }
  const TW_UINT16 rc = set(cap, v.fallback, condition);
  return rc == TWRC_CHECKSTATUS ? TWRC_SUCCESS : rc;
}

}  // namespace qrx::twain
