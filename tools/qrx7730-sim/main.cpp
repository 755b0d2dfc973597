// qrx7730-sim: one emulated QRX7730 scanner served on a Unix socket to every
// process that opens "sim:<socket path>", until SIGINT or SIGTERM.
#include <iostream>
#include <memory>
#include <string>

#include "client_server.h"
#include "command_line.h"
#include "emulator/scanner.h"
#include "front_panel.h"
#include "ordered_port.h"
#include "platform/clock.h"
#include "platform/local_socket.h"
#include "press_command.h"
#include "stop_signal.h"
#include "trace_file.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

int serve(const qrx::sim::DaemonSettings& settings) {
  // The scanner's carriage and sensor run on the process clock, so it is scaled
  // before the scanner exists.
  qrx::platform::ScaledClock clock(settings.speed);
  qrx::platform::ScopedClock installed(clock);

  std::string error;
  std::unique_ptr<qrx::emu::Scanner> scanner =
      qrx::emu::Scanner::create(settings.options, error, &clock);
  if (scanner == nullptr) {
    std::cerr << "qrx7730-sim: " << error << "\n";
    return kExitFailure;
  }
  qrx::sim::TraceFile trace;
  if (!settings.trace_path.empty()) {
    if (!trace.open(settings.trace_path, error)) {
      std::cerr << "qrx7730-sim: " << error << "\n";
      return kExitFailure;
    }
    scanner->set_trace_sink([&trace](const qrx::emu::TraceEntry& entry) { trace.write(entry); });
  }
  qrx::sim::OrderedPort port(*scanner);
  qrx::sim::FrontPanel panel(port, settings.verbose);

  auto listener =
      qrx::platform::LocalListener::listen(settings.socket_path, error, settings.socket_mode);
  if (listener == nullptr) {
    std::cerr << "qrx7730-sim: " << error << "\n";
    return kExitFailure;
  }
  qrx::sim::ClientServer server(std::move(listener), port, settings.verbose, &panel);
  if (!server.start()) {
    std::cerr << "qrx7730-sim: cannot start the accepting thread\n";
    return kExitFailure;
  }
  std::cout << "qrx7730-sim: serving on " << settings.socket_path << std::endl;
  qrx::sim::wait_for_stop_signal();
  panel.shut_down();
  server.stop();
  scanner->set_trace_sink(nullptr);
  if (!trace.close()) {
    std::cerr << "qrx7730-sim: the trace file is incomplete\n";
    return kExitFailure;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "press") return qrx::sim::press_command(argc, argv);
  qrx::sim::DaemonSettings settings;
  std::string error;
  switch (qrx::sim::parse_command_line(argc, argv, settings, error)) {
    case qrx::sim::CommandLine::kHelp:
      std::cout << qrx::sim::help_text();
      return 0;
    case qrx::sim::CommandLine::kVersion:
      std::cout << "qrx7730-sim " << QRX7730_VERSION_STRING << "\n";
      return 0;
    case qrx::sim::CommandLine::kInvalid:
      std::cerr << "qrx7730-sim: " << error << "\n"
                << qrx::sim::usage_line() << "Try 'qrx7730-sim --help' for more information.\n";
      return kExitUsage;
    case qrx::sim::CommandLine::kRun:
      break;
  }
  qrx::sim::catch_stop_signals();
  try {
    return serve(settings);
  } catch (const std::exception& e) {
    std::cerr << "qrx7730-sim: " << e.what() << "\n";
    return kExitFailure;
  }
}
