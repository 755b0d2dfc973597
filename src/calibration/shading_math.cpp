// Trimmed means of single columns, the offset and gain computation of shading, and
// the derived white references of the lowest resolutions.
#include "calibration/shading_math.h"

#include <algorithm>
#include <cmath>

#include "qrx7730.h"
#include "settings/tuning_index.h"

namespace qrx::calibration {

void limit_cuts(uint32_t n, uint32_t& high, uint32_t& low) {
  if (n == 0) {
    high = low = 0;
    return;
  }
  // At least one value must stay to be averaged; the low cut keeps its share first.
  low = std::min(low, n - 1);
  high = std::min(high, n - 1 - low);
}

uint16_t trimmed_mean(uint16_t* values, uint32_t n, uint32_t high, uint32_t low) {
  if (values == nullptr || n == 0) return 0;
  if (n == 1) return values[0];
  limit_cuts(n, high, low);
  // Partial selection only: the low smallest to the front, then the high largest of
  // the rest to the back; the order inside each part does not matter.
  if (low > 0) std::nth_element(values, values + low, values + n);
  if (high > 0) std::nth_element(values + low, values + (n - high), values + n);
  uint64_t sum = 0;
  for (uint32_t i = low; i < n - high; ++i) sum += values[i];
  return static_cast<uint16_t>(sum / (n - low - high));
}

namespace {

struct ChannelConstants {
  uint32_t target = 0;
  double trim = 0.0;         // offset trim, 8-bit units
  double coefficient = 0.0;  // level the dark reference is mapped to
};

// A gain in 3.13 fixed point that takes a white-minus-dark difference d >= 1 to the
// target, at most 65535.
uint16_t gain_for(uint32_t target, int32_t d) {
  const uint64_t gain = (uint64_t{target} * 8192) / static_cast<uint32_t>(d);
  return static_cast<uint16_t>(std::min<uint64_t>(gain, 65535));
}

// The offset that leaves the dark reference at `coefficient` once the gain is
// applied: D - k d / T - trim * 256, truncated toward zero, never below 0.
uint16_t offset_for(const ChannelConstants& c, uint16_t dark, int32_t d) {
  if (c.target == 0) return 0;  // no white level to aim at: nothing to keep below it
  const double level = c.coefficient * d / c.target - c.trim * 256.0;
  if (!(dark > level)) return 0;
  const double offset = std::trunc(dark - level);
  if (offset >= 65535.0) return 65535;
  return static_cast<uint16_t>(offset);
}

}  // namespace

void compute_shading(const settings::ScannerSetting& setting, const ShadingFormat& format,
                     ChannelLines& gain, ChannelLines& offset) {
  const int group = settings::port_group(format.port_type);
  const int depth = settings::depth_class(format.bits_per_pixel);
  const int res = settings::resolution_index(format.resolution);
  const bool flatbed = is_flatbed(format.lamp_mode);

  std::array<ChannelConstants, 3> colour;
  colour[0].target = flatbed ? setting.BOOK_SHADING_R_TARGET() : setting.FAU_SHADING_R_TARGET();
  colour[1].target = flatbed ? setting.BOOK_SHADING_G_TARGET() : setting.FAU_SHADING_G_TARGET();
  colour[2].target = flatbed ? setting.BOOK_SHADING_B_TARGET() : setting.FAU_SHADING_B_TARGET();
  // The flatbed trims apply in both lamp modes.
  colour[0].trim = setting.BOOK_SHADING_R_OFFSET();
  colour[1].trim = setting.BOOK_SHADING_G_OFFSET();
  colour[2].trim = setting.BOOK_SHADING_B_OFFSET();
  colour[0].coefficient = setting.BOOK_SHADING_R_COEFFICIENT(group, depth, res);
  colour[1].coefficient = setting.BOOK_SHADING_G_COEFFICIENT(group, depth, res);
  colour[2].coefficient = setting.BOOK_SHADING_B_COEFFICIENT(group, depth, res);
  const uint32_t ir_target = flatbed ? 0 : setting.FAU_SHADING_IR_TARGET();

  // Never beyond the arrays the caller has.
  auto pixels_of = [&](size_t c) {
    return static_cast<uint32_t>(
        std::min<size_t>({format.pixel_count, gain[c].size(), offset[c].size()}));
  };

  for (size_t c = 0; c < 3; ++c) {
    uint16_t* g = gain[c].data();
    uint16_t* o = offset[c].data();
    const uint32_t count = pixels_of(c);
    for (uint32_t x = 0; x < count; ++x) {
      const int32_t d = int32_t{g[x]} - int32_t{o[x]};
      if (d < 1) {
        g[x] = 8192;  // white not above dark: unity gain, the dark level stays the offset
        continue;
      }
      o[x] = offset_for(colour[c], o[x], d);
      g[x] = gain_for(colour[c].target, d);
    }
  }
  {
    // Infrared: the gain only; its offset line keeps the dark reference.
    uint16_t* g = gain[3].data();
    const uint16_t* o = offset[3].data();
    const uint32_t count = pixels_of(3);
    for (uint32_t x = 0; x < count; ++x) {
      const int32_t d = int32_t{g[x]} - int32_t{o[x]};
      g[x] = d < 1 ? 8192 : gain_for(ir_target, d);
    }
  }

  const uint16_t special = setting.SPECIALMODE();
  for (size_t c = 0; c < 4; ++c) {
    const uint32_t count = pixels_of(c);
    if ((special & 0x0400) != 0) std::fill_n(gain[c].begin(), count, uint16_t{8192});
    if ((special & 0x0800) != 0) std::fill_n(offset[c].begin(), count, uint16_t{0});
  }
}

uint16_t low_resolution_white(uint8_t lamp_mode, uint32_t source_resolution,
                              const ChannelLines& source, uint32_t target_resolution,
                              ChannelLines& target) {
  if (target_resolution == 0 || source_resolution < target_resolution || source_resolution > 300) {
    return QRX_E_PARAMETER;
  }
  const uint32_t n = shading_pixels(lamp_mode, source_resolution);
  const uint32_t factor = source_resolution / target_resolution;
  for (size_t c = 0; c < 4; ++c) {
    const std::vector<uint16_t>& from = source[c];
    std::vector<uint16_t>& to = target[c];
    // Only samples of the source line are averaged: a last group that runs past the
    // line's end is the mean of the samples it has.
    const size_t available = std::min<size_t>(n, from.size());
    for (size_t j = 0, start = 0; start < available && j < to.size(); ++j, start += factor) {
      const size_t end = std::min<size_t>(start + factor, available);
      uint64_t sum = 0;
      for (size_t i = start; i < end; ++i) sum += from[i];
      to[j] = static_cast<uint16_t>(sum / (end - start));
    }
  }
  return QRX_OK;
}

}  // namespace qrx::calibration
