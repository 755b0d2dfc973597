// LED exposure adjustment (see exposure.h).
#include "calibration/exposure.h"

#include <algorithm>
#include <array>
#include <vector>

#include "calibration/acquisition.h"
#include "pass/motor_plan.h"
#include "qrx7730.h"
#include "settings/tuning_index.h"
#include "transport/registers.h"

namespace qrx::calibration {
namespace {

// Slot 0 is infrared, slots 1 to 3 red, green and blue.
constexpr int kSlots = 4;
constexpr uint32_t kLongestExposure = 58982;   // used when the line period does not fit
constexpr uint16_t kDarkSpecialMode = 0x1000;  // dark reads use the special exposure times
constexpr uint8_t kPassingPeak = 101;          // a colour peak judged good enough after 21 tries
constexpr uint8_t kPassingInfraredPeak = 76;

struct Slot {
  uint16_t low = 0;
  uint16_t high = 0;
  uint16_t exposure = 0;
  bool done = false;
  uint8_t peak = 0;
};

struct SearchState {
  std::array<Slot, kSlots> slots{};
  uint32_t start_pixel = 0;
  uint32_t width = 0;
  uint32_t line_period = 0;
};

uint16_t clamp16(uint32_t v) { return static_cast<uint16_t>(std::min<uint32_t>(v, 65535)); }

// Writes the slots' exposures to the exposure set: R, G, B from slots 1 to 3, IR
// from slot 0.
void store(const SearchState& state, transport::ExposureSet& exposure) {
  for (int c = 0; c < 3; ++c) exposure.exposure[c] = state.slots[c + 1].exposure;
  exposure.exposure[3] = state.slots[0].exposure;
}

// The set-up both searches share: window, line period, a flat shading from the
// dark references, and the bounds of every slot.
void set_up(transport::ScannerContext& context, const settings::ScannerSetting& setting,
            const ExposurePass& pass, transport::ExposureSet& exposure, SearchState& state) {
  const ExposureEnvironment& environment = pass.environment;
  const uint32_t resolution = pass.resolution;
  const uint8_t lamp_mode = pass.lamp_mode;
  const ChannelLines& dark = *pass.dark;
  exposure.channel = {255, 255, 255, 255};
  const bool flatbed = is_flatbed(lamp_mode);
  pass::ScanSetup reference;
  reference.light_source = lamp_mode;
  reference.port_type = static_cast<uint8_t>(context.link.port_type());
  reference.bit_depth = 48;
  state.line_period = pass::timing_lookup(setting, reference, resolution).line_period;
  if (flatbed) {
    state.start_pixel = 0;
    state.width = 20416;
  } else {
    state.start_pixel = environment.fau_scan_position == 2 ? 4809 : 9968;
    state.width = kFilmExposureWidth;
  }
  context.shading_pixel_count = state.width * resolution / 2400;
  const int channels = flatbed ? 3 : 4;
  const uint16_t base = flatbed ? 512 : 0;
  for (int c = 0; c < channels; ++c) {
    auto& gain = context.shading_gain[c];
    auto& offset = context.shading_offset[c];
    const uint32_t n = std::min<uint32_t>(
        context.shading_pixel_count,
        static_cast<uint32_t>(std::min({gain.size(), offset.size(), dark[c].size()})));
    for (uint32_t x = 0; x < n; ++x) {
      gain[x] = 8192;
      offset[x] = static_cast<uint16_t>(base - dark[c][x]);
    }
  }
  // The upper bound keeps 50 + 255 of the line period free. A line period of
  // 65536 or more, too long for the exposure times, counts as 58982, of which
  // 255 are kept free.
  const uint32_t p = state.line_period;
  const uint32_t longest = p >= 65536 ? kLongestExposure : p;
  uint32_t upper = 0;
  if (p >= 65536) {
    upper = kLongestExposure - 255;
  } else if (p > 305) {
    upper = p - 50 - 255;
  }
  const std::array<uint16_t, kSlots> film_low = {550, 400, 200, 170};
  for (int s = 0; s < kSlots; ++s) {
    state.slots[s] = Slot{};
    state.slots[s].low = flatbed ? 140 : film_low[s];
    state.slots[s].high = static_cast<uint16_t>(upper);
  }
  if (flatbed) {
    Slot& infrared = state.slots[0];
    infrared.done = true;
    infrared.high = infrared.exposure = static_cast<uint16_t>(longest > 255 ? longest - 255 : 0);
  }
}

// Reads two lines and takes each channel's peak in the second, in 8-bit terms.
uint16_t measure(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                 const ExposurePass& pass, const transport::ExposureSet& exposure,
                 SearchState& state) {
  const uint32_t resolution = pass.resolution;
  const uint8_t lamp_mode = pass.lamp_mode;
  const bool flatbed = is_flatbed(lamp_mode);
  AcquisitionRequest request;
  request.port_type = context.link.port_type();
  request.resolution = static_cast<uint16_t>(resolution);
  request.bits_per_pixel = 48;
  request.line_count = 2;
  request.start_pixel = state.start_pixel;
  request.width = state.width;
  request.light_source = lamp_mode;
  request.channels = flatbed ? 3 : 4;
  request.exposure = exposure;
  request.no_motor = 1;
  request.led_on = 1;
  std::vector<uint8_t> lines;
  const uint16_t status = calibration_lines(context, setting, request, lines);
  if (status != QRX_OK) return status;

  const uint32_t line_bytes = static_cast<uint32_t>(lines.size() / request.line_count);
  const uint32_t samples = line_bytes / 2 / request.channels;
  const uint8_t* second = lines.data() + line_bytes;
  std::array<uint8_t, 4> peaks{};
  for (uint32_t c = 0; c < request.channels; ++c) {
    uint16_t highest = 0;
    const uint8_t* block = second + 2 * samples * c;
    for (uint32_t i = 0; i < samples; ++i) {
      highest = std::max<uint16_t>(highest, static_cast<uint16_t>(block[2 * i] | block[2 * i + 1] << 8));
    }
    peaks[c] = static_cast<uint8_t>(highest >> 8);
  }
  if (flatbed) {
    for (int c = 0; c < 3; ++c) state.slots[c + 1].peak = peaks[c];
  } else {
    // Film reads R, G, B, IR: infrared moves to slot 0.
    state.slots[0].peak = peaks[3];
    for (int c = 0; c < 3; ++c) state.slots[c + 1].peak = peaks[c];
  }
  return QRX_OK;
}

void bracket(Slot& slot, uint8_t target, uint8_t range, bool first_try) {
  const int m = slot.peak;
  if (m > target + range) {
    if (slot.low >= slot.exposure) {
      slot.low = static_cast<uint16_t>(slot.low * 8 / 10);
    } else {
      slot.high = slot.exposure;
    }
    slot.exposure = static_cast<uint16_t>((slot.low + slot.exposure) / 2);
  } else {
    if (slot.exposure < slot.high) {
      slot.low = slot.exposure;
    } else if (!first_try) {
      // Saturates rather than wrapping round to a short exposure.
      slot.high = clamp16(slot.exposure * 12u / 10u);
    }
    slot.exposure = static_cast<uint16_t>((slot.high + slot.exposure) / 2);
  }
}

// Keeps an exposure within the slot's bounds (the upper one wins should the
// bounds cross).
uint16_t within_bounds(const Slot& slot, uint32_t exposure) {
  return static_cast<uint16_t>(
      std::min<uint32_t>(std::max<uint32_t>(exposure, slot.low), slot.high));
}

void scale(Slot& slot, uint8_t target) {
  // No light at all has no proportion to scale by: take the longest exposure.
  if (slot.peak == 0) {
    slot.exposure = slot.high;
    return;
  }
  // A weak light would ask for times past the line period: the search keeps to
  // the bracketing search's bounds.
  slot.exposure = within_bounds(slot, static_cast<uint32_t>(slot.exposure) * target / slot.peak);
}

}  // namespace

uint16_t dark_exposure(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                       transport::ExposureSet& exposure) {
  uint8_t shortest = 0;
  if (!transport::read_register(context.link, transport::reg::kShortestExposure, shortest)) {
    return QRX_E_EXPOSURE_REGISTER;
  }
  exposure.channel = {255, 255, 255, 255};
  const uint16_t base = static_cast<uint16_t>(shortest + 1);
  exposure.exposure = {base, base, base, base};
  if ((setting.SPECIALMODE() & kDarkSpecialMode) != 0) {
    exposure.exposure = {static_cast<uint16_t>(setting.SPECIAL_DARK_SHADING_R_EXPOSURE_TIME() + shortest),
                         static_cast<uint16_t>(setting.SPECIAL_DARK_SHADING_G_EXPOSURE_TIME() + shortest),
                         static_cast<uint16_t>(setting.SPECIAL_DARK_SHADING_B_EXPOSURE_TIME() + shortest),
                         static_cast<uint16_t>(setting.SPECIAL_DARK_SHADING_IR_EXPOSURE_TIME() + shortest)};
  }
  return QRX_OK;
}

uint16_t search_exposure(transport::ScannerContext& context,
                         const settings::ScannerSetting& setting, const ExposurePass& pass,
                         Search search, transport::ExposureSet& exposure) {
  const uint32_t resolution = pass.resolution;
  SearchState state;
  const transport::ExposureSet seed = exposure;
  set_up(context, setting, pass, exposure, state);
  const bool flatbed = is_flatbed(pass.lamp_mode);
  const uint16_t half = static_cast<uint16_t>(
      state.line_period / 2 >= 65536 ? kLongestExposure : state.line_period / 2);
  if (search == Search::kProportional && flatbed) {
    const double k = resolution == 600 ? 0.5 : (resolution == 1200 ? 0.87 : 0.95);
    for (int c = 0; c < 3; ++c) {
      Slot& slot = state.slots[c + 1];
      slot.exposure = within_bounds(slot, static_cast<uint32_t>(seed.exposure[c] * 2 * k));
    }
  } else {
    for (Slot& slot : state.slots) {
      if (!slot.done) slot.exposure = half;
    }
  }
  store(state, exposure);

  const uint8_t target = setting.LAMP_EXPOSURE_TIME_TARGET();
  const uint8_t range = setting.LAMP_EXPOSURE_TIME_RANGE();
  for (int attempt = 1; attempt <= kExposureTries; ++attempt) {
    const uint16_t status = measure(context, setting, pass, exposure, state);
    if (status != QRX_OK) return status;
    bool all_done = true;
    for (Slot& slot : state.slots) {
      if (slot.done) continue;
      if (slot.peak + range >= target && slot.peak <= target + range) {
        slot.done = true;
        continue;
      }
      all_done = false;
      if (search == Search::kProportional) {
        scale(slot, target);
      } else {
        bracket(slot, target, range, attempt == 1);
      }
    }
    store(state, exposure);
    if (all_done) return QRX_OK;
  }
  // Out of tries: the last peaks decide whether the light is good enough.
  bool good = true;
  for (int s = 1; s < kSlots; ++s) good = good && state.slots[s].peak >= kPassingPeak;
  if (flatbed) return good ? QRX_OK : QRX_E_EXPOSURE_FLATBED;
  good = good && state.slots[0].peak >= kPassingInfraredPeak;
  return good ? QRX_OK : QRX_E_EXPOSURE_FILM;
}

uint16_t adjust_exposure(transport::ScannerContext& context,
                         const settings::ScannerSetting& setting, const ExposurePass& pass,
                         transport::ExposureSet& exposure) {
  const uint32_t resolution = pass.resolution;
  const uint8_t lamp_mode = pass.lamp_mode;
  const int index = settings::resolution_index(resolution);
  Search search = Search::kBracketing;
  if (resolution > 300 && context.exposure_cache_enabled != 0 && index >= 3 && index <= 7 &&
      context.exposure_cache[index - 3][0] != 0 && lamp_mode == kLampFlatbed) {
    for (int c = 0; c < 4; ++c) exposure.exposure[c] = context.exposure_cache[index - 3][c];
    search = Search::kProportional;
  }
  const uint16_t status = search_exposure(context, setting, pass, search, exposure);
  if (status == QRX_OK && resolution >= 300 && index >= 2 && index <= 6) {
    for (int c = 0; c < 4; ++c) context.exposure_cache[index - 2][c] = exposure.exposure[c];
  }
  return status;
}

}  // namespace qrx::calibration
