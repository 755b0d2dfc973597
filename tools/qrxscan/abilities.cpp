// The ability stream (see abilities.h).
#include "abilities.h"

#include <algorithm>
#include <cstring>

#include "qrx7730.h"

namespace qrx::qrxscan {
namespace {

// Tags of the items used here.
constexpr uint16_t kVendor = 1, kModel = 2, kFirmware = 3, kSensor = 4, kPortType = 5;
constexpr uint16_t kResolutionList = 13, kOptical = 14, kAreaUnit = 16, kFlatbed = 17;
constexpr uint16_t kFilmColour = 18;

uint16_t u16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t u32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// A name field: up to its terminator, within its length.
std::string text(const uint8_t* p, size_t length) {
  const auto* chars = reinterpret_cast<const char*>(p);
  return std::string(chars, strnlen(chars, length));
}

}  // namespace

bool Abilities::offers(uint16_t dpi) const {
  return std::find(resolutions.begin(), resolutions.end(), dpi) != resolutions.end();
}

double Abilities::glass_width_mm() const {
  return area_unit != 0 ? glass_width * 25.4 / area_unit : 0;
}

double Abilities::glass_length_mm() const {
  return area_unit != 0 ? glass_length * 25.4 / area_unit : 0;
}

bool parse_abilities(const uint8_t* stream, size_t size, Abilities& abilities, std::string& error) {
  Abilities found;
  size_t at = 0;
  bool ended = false;
  while (!ended) {
    if (size - at < sizeof(AbilityItem)) {
      error = "the ability record ends without its end item";
      return false;
    }
    const uint16_t tag = u16(stream + at);
    const uint16_t kind = u16(stream + at + 2);
    const uint16_t length = u16(stream + at + 4);
    const uint16_t value = u16(stream + at + 6);
    at += sizeof(AbilityItem);
    const uint8_t* payload = stream + at;
    if (kind == QRX_ABILITY_KIND_BYTES || kind == QRX_ABILITY_KIND_BLOCK) {
      if (size - at < length) {
        error = "item " + std::to_string(tag) + " of the ability record runs past its end";
        return false;
      }
      at += length;
    }
    switch (kind == QRX_ABILITY_KIND_END ? QRX_ABILITY_TAG_END : tag) {
      case QRX_ABILITY_TAG_END:
        ended = true;
        break;
      case kVendor:
        found.vendor = text(payload, length);
        break;
      case kModel:
        found.model = text(payload, length);
        break;
      case kFirmware:
        found.firmware = text(payload, length);
        break;
      case kSensor:
        found.sensor = text(payload, length);
        break;
      case kPortType:
        found.port_type = value;
        break;
      case kResolutionList:
        for (size_t i = 0; i + 4 <= length; i += 4) found.resolutions.push_back(u16(payload + i));
        break;
      case kOptical:
        found.optical_dpi = value;
        break;
      case kAreaUnit:
        found.area_unit = value;
        break;
      case kFlatbed:
        if (length >= 16) {
          found.glass_width = u32(payload + 8);
          found.glass_length = u32(payload + 12);
        }
        break;
      case kFilmColour:  // an empty item: no film adapter
        if (kind == QRX_ABILITY_KIND_BLOCK && length >= 16) {
          found.film_x = u32(payload);
          found.film_y = u32(payload + 4);
          found.film_width = u32(payload + 8);
          found.film_length = u32(payload + 12);
        }
        break;
      default:
        break;
    }
  }
  if (found.resolutions.empty() || found.area_unit == 0 || found.glass_width == 0 ||
      found.glass_length == 0) {
    error = "the ability record lacks the resolutions or the flatbed area";
    return false;
  }
  abilities = std::move(found);
  return true;
}

bool query_abilities(Abilities& abilities, std::string& error) {
  uint16_t size = 0;
  if (!GetScannerAbilitySize(nullptr, &size) || size == 0) {
    error = "GetScannerAbilitySize reported no ability record";
    return false;
  }
  std::vector<uint8_t> stream(size);
  if (!GetScannerAbilityXp(nullptr, stream.data())) {
    error = "GetScannerAbilityXp failed";
    return false;
  }
  return parse_abilities(stream.data(), stream.size(), abilities, error);
}

}  // namespace qrx::qrxscan
