// Announces the server on the local network with multicast DNS through the
// avahi daemon (avahi-client): _uscan._tcp for HTTP, _uscans._tcp for HTTPS,
// with the TXT keys eSCL clients read. A server that listens on a loopback
// address is announced on the loopback interface only, one that listens on one
// address on that address's interface, one that listens on all on all; and only
// over the address families it serves. When no avahi daemon runs the
// announcement waits for one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qrx::escl {

struct Announcement {
  std::string name;               // the service's name as clients list it
  std::string listen;             // the address the server listens on
  bool ipv4 = true, ipv6 = true;  // the families it serves
  uint16_t port = 0;
  bool tls = false;
  std::string make_and_model;
  std::string uuid;
  bool verbose = false;
  // Told the host name (name.local) the announcement names, from avahi's thread.
  std::function<void(const std::string&)> host_name_known;
};

// The TXT record of the announcement (key, value), with the host name the admin
// URL names.
std::vector<std::pair<std::string, std::string>> txt_record(const Announcement& announcement,
                                                            const std::string& host);

class MdnsAnnouncer {
 public:
  MdnsAnnouncer();
  ~MdnsAnnouncer();
  MdnsAnnouncer(const MdnsAnnouncer&) = delete;
  MdnsAnnouncer& operator=(const MdnsAnnouncer&) = delete;

  bool start(const Announcement& announcement, std::string& error);
  // Announces the service again under a new name and model (once the scanner's
  // model has been read). Nothing when the announcement is not running.
  void update(const std::string& name, const std::string& make_and_model);
  void stop();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace qrx::escl
