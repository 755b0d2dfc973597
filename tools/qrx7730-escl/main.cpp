// qrx7730-escl: the scanner on the network, as an eSCL (AirScan) scanner with a
// web page, announced with multicast DNS, until SIGINT or SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>

#include "http_server.h"
#include "mdns.h"
#include "scanner_service.h"
#include "server_options.h"

namespace {

bool read_file(const std::string& path, std::string& text, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  if (!file || !(content << file.rdbuf())) {
    error = "cannot read " + path;
    return false;
  }
  text = content.str();
  return true;
}

// What the scanner is called until its ability record has been read.
constexpr const char* kUnreadModel = "QRX7730 scanner";
constexpr auto kFirstReadingWait = std::chrono::seconds(2);

std::string host_name() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

}  // namespace

int main(int argc, char* argv[]) {
  using namespace qrx::escl;
  ServerOptions options;
  std::string error;
  if (!parse_server_options(argc, argv, options, error)) {
    std::cerr << "qrx7730-escl: " << error << "\nTry 'qrx7730-escl --help'.\n";
    return kExitUsage;
  }
  if (options.help) {
    std::cout << server_help();
    return 0;
  }
  if (options.version) {
    std::cout << "qrx7730-escl " QRX7730_VERSION_STRING "\n";
    return 0;
  }
  HttpOptions http;
  http.listen = options.listen;
  http.port = static_cast<uint16_t>(options.port);
  http.allow = options.allow;
  http.client_timeout_s = options.client_timeout_s;
  http.header_timeout_s = options.header_timeout_s;
  http.host_names = options.host_names;
  http.document_wait = std::chrono::seconds(options.document_wait_s);
  http.verbose = options.verbose;
  if (!options.cert_path.empty() && (!read_file(options.cert_path, http.cert_pem, error) ||
                                     !read_file(options.key_path, http.key_pem, error))) {
    std::cerr << "qrx7730-escl: " << error << "\n";
    return 1;
  }

  // SIGINT and SIGTERM are taken by the main thread alone (every thread started
  // later inherits the mask); a client that closes its end raises no SIGPIPE.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // The server listens at once; the scanner's model is read in the background
  // as soon as the scanner can be opened (another program may be scanning), and
  // the name and the announcement take it then.
  const std::string host = host_name();
  const auto name_for = [&](const std::string& make_and_model) {
    return options.name.empty() ? make_and_model + " on " + host : options.name;
  };
  // The announcement is started, updated and stopped under one lock: the model
  // may be read on any thread, at any time. (Declared before the service, whose
  // threads may use them until it ends.)
  std::mutex naming;
  std::string make_and_model = kUnreadModel;
  MdnsAnnouncer announcer;
  JobTiming timing;
  timing.client_gone = std::chrono::seconds(options.job_timeout_s);
  ScannerService service(options.device, timing);
  service.set_name(name_for(kUnreadModel));
  http.name = service.name();
  service.on_model([&](const ScannerModel& model) {
    std::lock_guard lock(naming);
    make_and_model = model.make + " " + model.model;
    service.set_name(name_for(make_and_model));
    announcer.update(service.name(), make_and_model);
  });

  // A scanner that can be read at once is read before the server listens; one
  // that cannot (another program scans, the carriage is on its way home) is
  // read when it can, and the server listens meanwhile.
  service.start_watch();
  service.wait_first_reading(kFirstReadingWait);

  HttpServer server(service, http);
  if (!server.start(error)) {
    std::cerr << "qrx7730-escl: " << error << "\n";
    return 1;
  }
  if (options.mdns) {
    std::lock_guard lock(naming);
    Announcement announcement;
    announcement.name = service.name();
    announcement.listen = options.listen;
    announcement.ipv4 = server.serves_ipv4();
    announcement.ipv6 = server.serves_ipv6();
    // Clients that found the scanner name it by the host name avahi announces.
    announcement.host_name_known = [&server](const std::string& name) {
      server.add_host_name(name);
    };
    announcement.port = server.port();
    announcement.tls = server.tls();
    announcement.make_and_model = make_and_model;
    announcement.uuid = service.uuid();
    announcement.verbose = options.verbose;
    if (!announcer.start(announcement, error)) {
      std::cerr << "qrx7730-escl: " << error << " (going on without the announcement)\n";
    }
  }
  std::cout << "qrx7730-escl: serving " << server.base_url() << "/ for " << options.device
            << std::endl;

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  // Jobs end first (a calibration under way stops), so that no request is left
  // waiting for a document when the connections are closed.
  service.shutdown();
  {
    std::lock_guard lock(naming);
    announcer.stop();
  }
  server.stop();
  return 0;
}
