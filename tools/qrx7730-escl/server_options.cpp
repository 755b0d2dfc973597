// The command line (see server_options.h), on the parser the programs share.
#include "server_options.h"

#include "common/command_line.h"

namespace qrx::escl {
namespace {

const std::vector<cli::Option>& options_table() {
  static const std::vector<cli::Option> table = {
      {"device", 'd', "DEVICE", "the scanner's device path (default usb:, the first on USB)"},
      {"listen", 0, "ADDR",
       "the address to listen on (default 127.0.0.1; 0.0.0.0 or :: for all, IPv4 and IPv6)"},
      {"port", 0, "N", "the TCP port (default 8280; 0 picks a free one)"},
      {"allow", 0, "CIDR",
       "answer clients in this network only (repeatable; default: loopback, private and "
       "link-local addresses)"},
      {"cert", 0, "PEM", "serve HTTPS with this certificate (with --key)"},
      {"key", 0, "PEM", "the certificate's private key"},
      {"name", 0, "NAME", "the name clients list the scanner under"},
      {"no-mdns", 0, nullptr, "do not announce the scanner with multicast DNS"},
      {"job-timeout", 0, "SECONDS",
       "cancel a job whose client has not asked for its image for this long (default 60)"},
      {"client-timeout", 0, "SECONDS", "close a connection idle for this long (default 30)"},
      {"header-timeout", 0, "SECONDS",
       "close a connection whose request header has not all come in this long (default 15)"},
      {"host-name", 0, "NAME",
       "answer requests that name the server NAME too (repeatable; its addresses, host name, "
       "NAME.local and localhost always)"},
      {"document-wait", 0, "SECONDS",
       "hold a request for the image this long while the scanner gets ready, then answer "
       "503 with Retry-After (default 20)"},
      {"verbose", 'v', nullptr, "say what happens on the error output"},
      {"help", 'h', nullptr, "show this help and exit"},
      {"version", 'V', nullptr, "show the version and exit"},
  };
  return table;
}

bool seconds(const cli::Given& given, unsigned& out, std::string& error) {
  uint64_t value = 0;
  if (!cli::parse_unsigned(given.value, 86400, value) || value == 0) {
    error = cli::bad_value(given, "a number of seconds from 1 to 86400");
    return false;
  }
  out = static_cast<unsigned>(value);
  return true;
}

}  // namespace

bool parse_server_options(int argc, char* argv[], ServerOptions& options, std::string& error) {
  cli::Arguments arguments;
  if (!cli::parse(argc, argv, options_table(), arguments, error)) return false;
  if (!arguments.operands.empty()) {
    error = "unexpected argument '" + arguments.operands.front() + "'";
    return false;
  }
  bool allowed_any = false;
  for (const cli::Given& given : arguments.options) {
    const std::string name = given.option->name;
    if (name == "device") {
      if (given.value.empty()) {
        error = cli::bad_value(given, "a device path such as usb: or sim:/run/qrx.sock");
        return false;
      }
      options.device = given.value;
    } else if (name == "listen") {
      options.listen = given.value;
    } else if (name == "port") {
      uint64_t port = 0;
      if (!cli::parse_unsigned(given.value, 65535, port)) {
        error = cli::bad_value(given, "a TCP port from 0 to 65535");
        return false;
      }
      options.port = static_cast<unsigned>(port);
    } else if (name == "allow") {
      if (!options.allow.add(given.value, error)) return false;
      allowed_any = true;
    } else if (name == "cert") {
      options.cert_path = given.value;
    } else if (name == "key") {
      options.key_path = given.value;
    } else if (name == "name") {
      options.name = given.value;
    } else if (name == "no-mdns") {
      options.mdns = false;
    } else if (name == "job-timeout") {
      if (!seconds(given, options.job_timeout_s, error)) return false;
    } else if (name == "client-timeout") {
      if (!seconds(given, options.client_timeout_s, error)) return false;
    } else if (name == "header-timeout") {
      if (!seconds(given, options.header_timeout_s, error)) return false;
    } else if (name == "host-name") {
      if (given.value.empty()) {
        error = cli::bad_value(given, "a host name such as scanner.example.lan");
        return false;
      }
      options.host_names.push_back(given.value);
    } else if (name == "document-wait") {
      if (!seconds(given, options.document_wait_s, error)) return false;
    } else if (name == "verbose") {
      options.verbose = true;
    } else if (name == "help") {
      options.help = true;
    } else if (name == "version") {
      options.version = true;
    }
  }
  if (options.cert_path.empty() != options.key_path.empty()) {
    error = "--cert and --key go together";
    return false;
  }
  if (!allowed_any) options.allow.add_local_networks();
  return true;
}

std::string server_help() {
  return "Usage: qrx7730-escl [OPTION]...\n"
         "Serves the scanner to phones, Macs, Windows and Linux computers on the network as an\n"
         "eSCL (AirScan) scanner, with a web page at / for any browser.\n\n" +
         cli::option_help(options_table()) +
         "\nThe scanner is opened for each job and free for other programs in between.\n";
}

}  // namespace qrx::escl
