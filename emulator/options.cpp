// Parsing of the emulator options string (QRX7730_SIM and the daemon's command line).
#include "emulator/options.h"

#include <charconv>
#include <cmath>

#include "emulator/geometry.h"

namespace qrx::emu {
namespace {

bool parse_number(std::string_view text, uint64_t max, uint64_t& value) {
  if (text.empty()) return false;
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (ec != std::errc() || end != text.data() + text.size() || v > max) return false;
  value = v;
  return true;
}

bool parse_flag(std::string_view text, bool& value) {
  if (text == "1" || text == "on" || text == "yes" || text == "true") {
    value = true;
    return true;
  }
  if (text == "0" || text == "off" || text == "no" || text == "false") {
    value = false;
    return true;
  }
  return false;
}

// The light and sensor fault keys. False when key is none of them; otherwise ok
// tells whether the value was good.
bool parse_fault_option(std::string_view key, std::string_view value, Options& parsed, bool& ok) {
  uint64_t number = 0;
  if (key == "film-light") {
    if (value == "none") {
      parsed.film_light = Options::FilmLight::kNone;
    } else if (value == "warm") {
      parsed.film_light = Options::FilmLight::kWarm;
    } else if (value == "unsettled") {
      parsed.film_light = Options::FilmLight::kUnsettled;
    } else if (value == "weak") {
      parsed.film_light = Options::FilmLight::kWeak;
    } else {
      ok = false;
    }
  } else if (key == "falloff") {
    ok = parse_number(value, 100, number);
    if (ok) parsed.falloff_percent = static_cast<uint32_t>(number);
  } else if (key == "dark") {
    ok = parse_number(value, 65535, number);
    if (ok) parsed.dark_level = static_cast<uint32_t>(number);
  } else if (key == "stuck-bit") {
    // OFFSET:BIT, the byte offset into the RAM and the bit 0..7 of that byte.
    const size_t colon = value.find(':');
    uint64_t offset = 0, bit = 0;
    ok = colon != std::string_view::npos &&
         parse_number(value.substr(0, colon), kRamBytes - 1, offset) &&
         parse_number(value.substr(colon + 1), 7, bit);
    if (ok) parsed.ram_stuck_bit = static_cast<int64_t>(offset * 8 + bit);
  } else {
    return false;
  }
  return true;
}

}  // namespace

bool parse_options(std::string_view text, Options& options, std::string& error) {
  Options parsed = options;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      error = "option without a value: " + std::string(item);
      return false;
    }
    const std::string_view key = item.substr(0, eq), value = item.substr(eq + 1);
    uint64_t number = 0;
    bool ok = true;
    if (parse_fault_option(key, value, parsed, ok)) {
      // handled above
    } else if (key == "seed") {
      ok = parse_number(value, UINT64_MAX, number);
      if (ok) parsed.seed = number;
    } else if (key == "port-type") {
      ok = parse_number(value, 2, number) && number >= 1;
      if (ok) parsed.port_type = static_cast<uint8_t>(number);
    } else if (key == "board-variant") {
      ok = parse_number(value, 1, number);
      if (ok) parsed.board_variant = static_cast<uint8_t>(number);
    } else if (key == "document") {
      parsed.document = std::string(value);
    } else if (key == "film") {
      parsed.film_document = std::string(value);
    } else if (key == "noise") {
      ok = parse_flag(value, parsed.sensor_noise);
    } else if (key == "nonuniformity") {
      ok = parse_flag(value, parsed.sensor_nonuniformity);
    } else if (key == "lamp") {
      ok = parse_number(value, 400, number);
      if (ok) parsed.lamp_percent = static_cast<uint32_t>(number);
    } else if (key == "mark") {
      if (value == "standard") {
        parsed.mark = Options::Mark::kStandard;
      } else if (value == "none") {
        parsed.mark = Options::Mark::kNone;
      } else if (value == "wide") {
        parsed.mark = Options::Mark::kWide;
      } else {
        ok = false;
      }
    } else if (key == "speed") {
      double speed = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), speed);
      ok = !value.empty() && ec == std::errc() && end == value.data() + value.size() &&
           std::isfinite(speed) && speed >= kMinSpeed && speed <= kMaxSpeed;
      if (ok) parsed.speed = speed;
    } else if (key == "mark-level") {
      ok = parse_number(value, 100, number);
      if (ok) parsed.mark_percent = static_cast<uint32_t>(number);
    } else if (key == "mark-step") {
      ok = parse_number(value, 2 * kMarkHeightUnits, number);
      if (ok) parsed.mark_step_units = static_cast<uint32_t>(number);
    } else if (key == "buffer") {
      ok = parse_number(value, 1u << 30, number) && number >= 4096;
      if (ok) parsed.buffer_bytes = static_cast<uint32_t>(number);
    } else {
      error = "unknown option: " + std::string(key);
      return false;
    }
    if (!ok) {
      error = "bad value for " + std::string(key) + ": " + std::string(value);
      return false;
    }
  }
  options = parsed;
  return true;
}

}  // namespace qrx::emu
