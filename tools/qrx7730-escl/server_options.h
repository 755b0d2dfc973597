// The command line of qrx7730-escl:
//   qrx7730-escl [-d DEVICE] [--listen ADDR] [--port N] [--allow CIDR]...
//                [--cert PEM --key PEM] [--name NAME] [--no-mdns]
//                [--job-timeout SECONDS] [--client-timeout SECONDS]
//                [--header-timeout SECONDS] [--host-name NAME]...
//                [--document-wait SECONDS] [--verbose]
#pragma once

#include <string>
#include <vector>

#include "allow_list.h"

namespace qrx::escl {

struct ServerOptions {
  std::string device = "usb:";
  std::string listen = "127.0.0.1";
  unsigned port = 8280;
  AllowList allow;  // the house network when none is given
  std::string cert_path, key_path;
  std::string name;  // empty: the scanner's make and model and the host's name
  bool mdns = true;
  unsigned job_timeout_s = 60;
  unsigned client_timeout_s = 30;
  unsigned header_timeout_s = 15;
  std::vector<std::string> host_names;  // further names clients reach the server under
  unsigned document_wait_s = 20;
  bool verbose = false;
  bool help = false, version = false;
};

inline constexpr int kExitUsage = 2;

// False with a message naming the argument at fault.
bool parse_server_options(int argc, char* argv[], ServerOptions& options, std::string& error);
std::string server_help();

}  // namespace qrx::escl
