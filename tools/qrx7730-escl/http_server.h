// The HTTP side of the server, on libmicrohttpd: one thread per connection, so
// that a NextDocument request can wait for the scanner and stream the image
// while the scan thread encodes it. A client outside the allow-list is refused
// when its connection is accepted; a request must name this server in its Host
// and come from no other site; bodies, headers and idle connections are bounded.
// On the any address it serves IPv4 and IPv6 both.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "allow_list.h"
#include "header_deadline.h"
#include "request_guard.h"
#include "scanner_service.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace qrx::escl {

struct HttpOptions {
  std::string listen = "127.0.0.1";  // an IPv4 or IPv6 address; 0.0.0.0 and :: serve both
  uint16_t port = 0;                 // 0: any free port
  AllowList allow;
  std::string cert_pem, key_pem;  // both set: HTTPS only
  size_t max_body = 64 * 1024;
  unsigned client_timeout_s = 30;       // an idle connection is closed after this
  unsigned header_timeout_s = 15;       // a request's whole header must arrive within this
  std::vector<std::string> host_names;  // names the server answers to besides its own
  // How long NextDocument waits for the first image data before it answers 503
  // with Retry-After (the client asks again).
  std::chrono::milliseconds document_wait{20000};
  unsigned connection_limit = 64;
  unsigned per_ip_limit = 16;
  bool verbose = false;
  std::string name;  // shown on the web page
};

class HttpServer {
 public:
  HttpServer(ScannerService& service, HttpOptions options);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  bool start(std::string& error);
  void stop();
  uint16_t port() const { return port_; }
  bool tls() const { return !options_.cert_pem.empty(); }
  // The address families served (both on the any address where IPv6 is to be had).
  bool serves_ipv4() const { return serves_ipv4_; }
  bool serves_ipv6() const { return serves_ipv6_; }
  // A further name requests may give as their Host (the name the announcement got).
  void add_host_name(const std::string& name) { host_names_.add(name); }
  // "http://127.0.0.1:8080" for the address the server listens on.
  std::string base_url() const;

  // The access handler's work, per request (public for the C callbacks).
  struct Request;
  int handle(MHD_Connection* connection, const char* url, const char* method,
             const char* upload_data, size_t* upload_data_size, void** state);
  static void completed(void* cls, MHD_Connection* connection, void** state, int how);
  void connection_event(MHD_Connection* connection, int what);
  bool accepts(const sockaddr* address) const { return options_.allow.allows(address); }

 private:
  bool start_on(const std::string& address, bool dual_stack, std::string& error);
  // Answers a request whose Host or Origin is not this server's with 403 (true,
  // with the library's result).
  bool refuse_foreign(MHD_Connection* connection, const char* method, int& result);
  int answer(MHD_Connection* connection, Request& request);
  int next_document(MHD_Connection* connection, Request& request);
  std::string url_for(MHD_Connection* connection, const std::string& path) const;

  ScannerService& service_;
  HttpOptions options_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
  bool serves_ipv4_ = false, serves_ipv6_ = false;
  HostNames host_names_;
  HeaderDeadline header_deadline_;
  const std::string icon_;
};

}  // namespace qrx::escl
