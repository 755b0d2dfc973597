// The daemon's command line: which socket to serve and which scanner to play.
#pragma once

#include <string>

#include "emulator/options.h"

namespace qrx::sim {

struct DaemonSettings {
  std::string socket_path;
  emu::Options options;
  double speed = 1.0;    // emulated time runs this many times faster than real time
  bool verbose = false;  // log connections and requests on the error output
  int socket_mode = -1;  // permissions of the socket file; -1: as the umask leaves them
  std::string trace_path;  // every served request written there; empty: none
};

inline constexpr double kMinSpeed = 0.01;
inline constexpr double kMaxSpeed = 1000.0;

enum class CommandLine { kRun, kHelp, kVersion, kInvalid };

// Reads the arguments after the program name into settings. kInvalid with a
// message naming the argument on an unknown option, a missing or repeated one, a
// value out of range or a stray operand.
CommandLine parse_command_line(int argc, char** argv, DaemonSettings& settings, std::string& error);

// The one-line usage, and the whole help.
std::string usage_line();
std::string help_text();

}  // namespace qrx::sim
