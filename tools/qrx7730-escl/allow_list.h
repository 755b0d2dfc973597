// Which client addresses the server answers: a list of networks in CIDR form
// ("192.168.1.0/24", "2001:db8::/32", a bare address for one host). Clients
// outside it get 403. IPv4 clients that reach an IPv6 socket (::ffff:a.b.c.d)
// are matched as the IPv4 addresses they are.
#pragma once

#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qrx::escl {

class AllowList {
 public:
  // Adds one network; false with a message when the text is no network.
  bool add(const std::string& cidr, std::string& error);
  // Loopback, the private ranges and link-local addresses: the house network,
  // used when no --allow is given.
  void add_local_networks();
  bool allows(const sockaddr* address) const;
  bool empty() const { return networks_.empty(); }

 private:
  struct Network {
    std::array<uint8_t, 16> address{};  // IPv4 as ::ffff:a.b.c.d
    int prefix = 0;                     // bits of the 128 that must match
  };
  std::vector<Network> networks_;
};

}  // namespace qrx::escl
