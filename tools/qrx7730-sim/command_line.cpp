// Parsing and validation of the qrx7730-sim arguments.
#include "command_line.h"

#include <charconv>
#include <cmath>
#include <set>
#include <string_view>

namespace qrx::sim {
namespace {

template <typename Number>
bool parse_number(std::string_view text, Number& value) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// Stores one option's value; false with a message when the value is unusable.
bool apply(std::string_view name, std::string_view value, DaemonSettings& settings,
           std::string& error) {
  const auto bad = [&](std::string_view expected) {
    error = "--" + std::string(name) + " wants " + std::string(expected) + ", not '" +
            std::string(value) + "'";
    return false;
  };
  if (name == "socket") {
    if (value.empty()) return bad("a socket path");
    settings.socket_path = std::string(value);
  } else if (name == "seed") {
    uint64_t seed = 0;
    if (!parse_number(value, seed)) return bad("an unsigned decimal number");
    settings.options.seed = seed;
  } else if (name == "port-type") {
    if (value != "1" && value != "2") return bad("1 or 2");
    settings.options.port_type = static_cast<uint8_t>(value[0] - '0');
  } else if (name == "board-variant") {
    if (value != "0" && value != "1") return bad("0 or 1");
    settings.options.board_variant = static_cast<uint8_t>(value[0] - '0');
  } else if (name == "document") {
    if (value.empty()) return bad("an image file");
    settings.options.document = std::string(value);
  } else if (name == "speed") {
    double speed = 0;
    if (!parse_number(value, speed) || !std::isfinite(speed) || speed < kMinSpeed ||
        speed > kMaxSpeed) {
      return bad("a factor from 0.01 to 1000");
    }
    settings.speed = speed;
  } else {
    error = "unknown option --" + std::string(name);
    return false;
  }
  return true;
}

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv, DaemonSettings& settings,
                               std::string& error) {
  DaemonSettings parsed;
  std::set<std::string, std::less<>> seen;
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") return CommandLine::kHelp;
    if (argument.substr(0, 2) != "--" || argument.size() == 2) {
      error = "unexpected argument '" + std::string(argument) + "'";
      return CommandLine::kInvalid;
    }
    argument.remove_prefix(2);
    std::string_view name = argument;
    std::string_view value;
    if (const size_t equals = argument.find('='); equals != std::string_view::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      error = "--" + std::string(name) + " needs a value";
      return CommandLine::kInvalid;
    }
    if (!seen.insert(std::string(name)).second) {
      error = "--" + std::string(name) + " given twice";
      return CommandLine::kInvalid;
    }
    if (!apply(name, value, parsed, error)) return CommandLine::kInvalid;
  }
  if (parsed.socket_path.empty()) {
    error = "--socket is required";
    return CommandLine::kInvalid;
  }
  settings = std::move(parsed);
  return CommandLine::kRun;
}

std::string usage_text() {
  return "usage: qrx7730-sim --socket PATH [--seed N] [--port-type 1|2] [--board-variant 0|1]\n"
         "                   [--document FILE] [--speed FACTOR]\n"
         "Serves one emulated QRX7730 scanner on the Unix socket PATH until SIGINT or SIGTERM.\n"
         "  --seed N            sensor noise and non-uniformity seed (default 7730)\n"
         "  --port-type 1|2     port type the scanner reports (default 1)\n"
         "  --board-variant 0|1 controller board variant (default 0)\n"
         "  --document FILE     PNG or PNM image on the glass (default: the test chart)\n"
         "  --speed FACTOR      emulated time runs FACTOR times real time, 0.01 to 1000 "
         "(default 1)\n";
}

}  // namespace qrx::sim
