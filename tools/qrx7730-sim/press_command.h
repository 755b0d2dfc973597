// qrx7730-sim press SOCKET BUTTON [--hold MS]: presses a front-panel button of
// the scanner a running daemon serves, as a finger would, and says whether a host
// read it.
#pragma once

#include <cstdint>
#include <string>

namespace qrx::sim {

struct PressRequest {
  std::string socket_path;
  uint8_t button = 0;      // 1 to 4
  uint32_t hold_ms = 200;  // the least time the button stays down
};

// Reads the arguments after "press" (argv[1]). False with a message naming the
// argument that is wrong.
bool parse_press(int argc, char** argv, PressRequest& request, std::string& error);

// The button a name or number stands for: 1 to 4, or scan, copy, email, file (the
// names SANE front ends show); 0 for anything else.
uint8_t button_from_name(const std::string& name);

// The whole sub-command: its exit status (0 pressed and read by a host, 1 not
// read or no daemon, 2 a mistake in the arguments).
int press_command(int argc, char** argv);

std::string press_usage();

}  // namespace qrx::sim
