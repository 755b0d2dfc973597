// Which requests come from a page the scanner's user meant to use. A web page
// elsewhere can make a browser send requests here: under a name of its own that
// it points at this machine's address (DNS rebinding), or as a form or fetch
// from its own site. So a request must name this server in its Host (one of the
// machine's addresses, its host names, localhost, or a name the admin gave), and
// a request that changes anything must not come from another site's Origin.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qrx::escl {

class HostNames {
 public:
  // localhost and the machine's host name (short, as given, and with .local).
  HostNames();
  // A further name the server answers to (case does not matter).
  void add(std::string_view name);
  // Whether a Host header names this server: an address of this machine or a
  // known name, with or without a port.
  bool allows(std::string_view host_header) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> names_;
};

// The host of a Host header: lower case, without the port, the brackets of an
// IPv6 address, its zone or a trailing dot. Empty when it is no host.
std::string host_of(std::string_view host_header);
// Whether an IPv4 or IPv6 address (text) is one of this machine's.
bool is_local_address(const std::string& address);
// Whether a browser's Origin is the same site as the Host the request names
// (the scheme, host and port as the browser wrote them).
bool same_origin(std::string_view origin, std::string_view host_header, bool tls);
// Whether a method changes state (anything but GET, HEAD and OPTIONS).
bool changes_state(std::string_view method);

}  // namespace qrx::escl
