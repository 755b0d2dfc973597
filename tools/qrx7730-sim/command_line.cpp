// Parsing and validation of the qrx7730-sim arguments, through the parser the
// command-line programs share.
#include "command_line.h"

#include <cmath>
#include <set>
#include <string_view>
#include <vector>

#include "common/command_line.h"

namespace qrx::sim {
namespace {

const std::vector<cli::Option>& options() {
  static const std::vector<cli::Option> table = {
      {"socket", 0, "PATH", "serve on the Unix socket PATH (required)"},
      {"seed", 0, "N", "sensor noise and non-uniformity seed (default 7730)"},
      {"port-type", 0, "1|2", "port type the scanner reports (default 1)"},
      {"board-variant", 0, "0|1", "controller board variant (default 0)"},
      {"document", 0, "FILE", "PNG or PNM image on the glass (default: the test chart)"},
      {"speed", 0, "FACTOR", "emulated time runs FACTOR times real time, 0.01 to 1000 (default 1)"},
      {"mode", 0, "OCTAL", "permissions of the socket, e.g. 660 to share it with a group"},
      {"verbose", 'v', nullptr, "log connections and requests on the error output"},
      {"trace", 0, "FILE", "write every served request, with its connection, to FILE"},
      {"help", 'h', nullptr, "show this help and exit"},
      {"version", 'V', nullptr, "show the version and exit"},
  };
  return table;
}

// Stores one option's value; false with a message when the value is unusable.
bool apply(const cli::Given& given, DaemonSettings& settings, std::string& error) {
  const std::string_view name = given.option->name;
  const std::string& value = given.value;
  const auto bad = [&](std::string_view expected) {
    error = cli::bad_value(given, expected);
    return false;
  };
  if (name == "socket") {
    if (value.empty()) return bad("a socket path");
    settings.socket_path = value;
  } else if (name == "seed") {
    uint64_t seed = 0;
    if (!cli::parse_unsigned(value, UINT64_MAX, seed)) return bad("an unsigned decimal number");
    settings.options.seed = seed;
  } else if (name == "port-type") {
    if (value != "1" && value != "2") return bad("1 or 2");
    settings.options.port_type = static_cast<uint8_t>(value[0] - '0');
  } else if (name == "board-variant") {
    if (value != "0" && value != "1") return bad("0 or 1");
    settings.options.board_variant = static_cast<uint8_t>(value[0] - '0');
  } else if (name == "document") {
    if (value.empty()) return bad("an image file");
    settings.options.document = value;
  } else if (name == "speed") {
    double speed = 0;
    if (!cli::parse_decimal(value, speed) || speed < kMinSpeed || speed > kMaxSpeed) {
      return bad("a factor from 0.01 to 1000");
    }
    settings.speed = speed;
  } else if (name == "mode") {
    // Octal permission bits of the socket file, at most 777 (no set-id or sticky bits).
    if (value.empty() || value.size() > 4 ||
        value.find_first_not_of("01234567") != std::string::npos) {
      return bad("octal permission bits such as 600 or 660");
    }
    const int mode = std::stoi(value, nullptr, 8);
    if (mode > 0777) return bad("octal permission bits such as 600 or 660");
    if ((mode & 0600) != 0600) return bad("a mode that leaves the owner read and write access");
    settings.socket_mode = mode;
  } else if (name == "trace") {
    if (value.empty()) return bad("a file name");
    settings.trace_path = value;
  } else if (name == "verbose") {
    settings.verbose = true;
  }
  return true;
}

}  // namespace

CommandLine parse_command_line(int argc, char** argv, DaemonSettings& settings,
                               std::string& error) {
  cli::Arguments arguments;
  if (!cli::parse(argc, argv, options(), arguments, error)) return CommandLine::kInvalid;
  for (const cli::Given& given : arguments.options) {
    if (given.option->name == std::string_view("help")) return CommandLine::kHelp;
    if (given.option->name == std::string_view("version")) return CommandLine::kVersion;
  }
  if (!arguments.operands.empty()) {
    error = "unexpected argument '" + arguments.operands.front() + "'";
    return CommandLine::kInvalid;
  }
  DaemonSettings parsed;
  std::set<std::string_view> seen;
  for (const cli::Given& given : arguments.options) {
    if (!seen.insert(given.option->name).second) {
      error = "--" + std::string(given.option->name) + " given twice";
      return CommandLine::kInvalid;
    }
    if (!apply(given, parsed, error)) return CommandLine::kInvalid;
  }
  if (parsed.socket_path.empty()) {
    error = "--socket is required";
    return CommandLine::kInvalid;
  }
  settings = std::move(parsed);
  return CommandLine::kRun;
}

std::string usage_line() {
  return "usage: qrx7730-sim --socket PATH [--seed N] [--port-type 1|2] [--board-variant 0|1]\n"
         "                   [--document FILE] [--speed FACTOR] [--mode OCTAL] [--verbose]\n"
         "                   [--trace FILE]\n"
         "       qrx7730-sim press SOCKET BUTTON [--hold MS]\n";
}

std::string help_text() {
  return usage_line() +
         "Serves one emulated QRX7730 scanner on the Unix socket PATH until SIGINT or SIGTERM;\n"
         "hosts of the library open it as the device \"sim:PATH\". The press command presses\n"
         "a front-panel button of a running daemon's scanner (qrx7730-sim press --help).\n\n" +
         cli::option_help(options());
}

}  // namespace qrx::sim
