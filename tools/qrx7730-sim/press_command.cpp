// The press sub-command (see press_command.h): one connection to the daemon, its
// hello, the press, and the answer that comes once the button is up again.
#include "press_command.h"

#include <iostream>
#include <vector>

#include "common/command_line.h"
#include "emulator/wire_protocol.h"
#include "platform/local_socket.h"

namespace qrx::sim {
namespace {

namespace wire = emu::wire;

constexpr int kExitDone = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr uint32_t kLongestHoldMs = 20000;

const char* const kButtonNames[] = {nullptr, "scan", "copy", "email", "file"};

const std::vector<cli::Option>& options() {
  static const std::vector<cli::Option> table = {
      {"hold", 0, "MS", "keep the button down at least MS milliseconds (default 200)"},
      {"help", 'h', nullptr, "show this help and exit"},
  };
  return table;
}

// One request and its answer; false when the daemon does not answer it.
bool round_trip(platform::LocalStream& stream, const wire::Request& request, wire::Reply& reply) {
  if (!wire::send_frame(stream, wire::encode_request(request))) return false;
  std::vector<uint8_t> body;
  return wire::receive_frame(stream, body) == wire::Received::kFrame &&
         wire::decode_reply(body, request, reply);
}

}  // namespace

uint8_t button_from_name(const std::string& name) {
  for (uint8_t button = 1; button <= 4; ++button) {
    if (name == kButtonNames[button] || name == std::to_string(button)) return button;
  }
  return 0;
}

bool parse_press(int argc, char** argv, PressRequest& request, std::string& error) {
  cli::Arguments arguments;
  if (!cli::parse(argc, argv, options(), arguments, error)) return false;
  PressRequest parsed;
  for (const cli::Given& given : arguments.options) {
    if (given.option->name == std::string_view("hold")) {
      uint64_t hold = 0;
      if (!cli::parse_unsigned(given.value, kLongestHoldMs, hold)) {
        error = cli::bad_value(given, "milliseconds from 0 to 20000");
        return false;
      }
      parsed.hold_ms = static_cast<uint32_t>(hold);
    }
  }
  // The operands after the sub-command's own name.
  std::vector<std::string> operands(arguments.operands.begin() + 1, arguments.operands.end());
  if (operands.size() != 2) {
    error = operands.size() < 2 ? "press wants the daemon's socket and a button"
                                : "unexpected argument '" + operands[2] + "'";
    return false;
  }
  parsed.socket_path = operands[0];
  parsed.button = button_from_name(operands[1]);
  if (parsed.button == 0) {
    error = "the button is 1 to 4, scan, copy, email or file, not '" + operands[1] + "'";
    return false;
  }
  request = parsed;
  return true;
}

std::string press_usage() {
  return "usage: qrx7730-sim press SOCKET BUTTON [--hold MS]\n";
}

int press_command(int argc, char** argv) {
  for (int i = 2; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      std::cout << press_usage()
                << "Presses front-panel button BUTTON (1 to 4, or scan, copy, email, file) of the\n"
                   "scanner the qrx7730-sim daemon on SOCKET serves. The button stays down at\n"
                   "least MS milliseconds and until a host has read the buttons (at most\n"
                   "20 s); the exit status is 0 when a host read it down, 1 when none did.\n\n"
                << cli::option_help(options());
      return kExitDone;
    }
  }
  PressRequest request;
  std::string error;
  if (!parse_press(argc, argv, request, error)) {
    std::cerr << "qrx7730-sim: " << error << "\n"
              << press_usage() << "Try 'qrx7730-sim press --help' for more information.\n";
    return kExitUsage;
  }
  const std::string name =
      std::to_string(request.button) + " (" + kButtonNames[request.button] + ")";
  std::unique_ptr<platform::LocalStream> stream =
      platform::LocalStream::connect(request.socket_path);
  if (stream == nullptr) {
    std::cerr << "qrx7730-sim: no emulator daemon listens on " << request.socket_path << "\n";
    return kExitFailure;
  }
  wire::Request hello;
  hello.call = wire::Call::kHello;
  hello.length = wire::kVersion;
  wire::Reply reply;
  if (!round_trip(*stream, hello, reply) || !reply.ok) {
    std::cerr << "qrx7730-sim: " << request.socket_path
              << " does not answer as a qrx7730-sim daemon of this version\n";
    return kExitFailure;
  }
  wire::Request press;
  press.call = wire::Call::kPress;
  press.request = request.button;
  press.length = request.hold_ms;
  if (!round_trip(*stream, press, reply)) {
    std::cerr << "qrx7730-sim: the daemon on " << request.socket_path
              << " ended the connection: it takes no presses (an older qrx7730-sim?)\n";
    return kExitFailure;
  }
  if (!reply.ok) {
    std::cerr << "qrx7730-sim: the daemon on " << request.socket_path << " refused button " << name
              << "\n";
    return kExitFailure;
  }
  if (reply.value == 0) {
    std::cerr << "qrx7730-sim: button " << name
              << " came up again without a host reading the buttons\n";
    return kExitFailure;
  }
  std::cout << "qrx7730-sim: button " << name << " pressed and read by a host\n";
  return kExitDone;
}

}  // namespace qrx::sim
