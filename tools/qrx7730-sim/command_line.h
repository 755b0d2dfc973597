// The daemon's command line: which socket to serve and which scanner to play.
#pragma once

#include <string>

#include "emulator/options.h"

namespace qrx::sim {

struct DaemonSettings {
  std::string socket_path;
  emu::Options options;
  double speed = 1.0;  // emulated time runs this many times faster than real time
};

inline constexpr double kMinSpeed = 0.01;
inline constexpr double kMaxSpeed = 1000.0;

enum class CommandLine { kRun, kHelp, kInvalid };

// Reads the arguments after the program name into settings. kInvalid with a
// message on an unknown option, a missing or repeated one, or a value out of range.
CommandLine parse_command_line(int argc, const char* const* argv, DaemonSettings& settings,
                               std::string& error);

std::string usage_text();

}  // namespace qrx::sim
