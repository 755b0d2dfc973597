// The Host and Origin checks (see request_guard.h).
#include "request_guard.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace qrx::escl {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string without_trailing_dot(std::string name) {
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

bool valid_name(const std::string& name) {
  if (name.empty()) return false;
  return std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_';
  });
}

}  // namespace

HostNames::HostNames() {
  names_.push_back("localhost");
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') {
    const std::string full = lower(name);
    const std::string first = full.substr(0, full.find('.'));
    add(full);
    add(first);
    add(first + ".local");
  }
}

void HostNames::add(std::string_view name) {
  const std::string key = without_trailing_dot(lower(name));
  if (!valid_name(key)) return;
  std::lock_guard lock(mutex_);
  if (std::find(names_.begin(), names_.end(), key) == names_.end()) names_.push_back(key);
}

bool HostNames::allows(std::string_view host_header) const {
  const std::string host = host_of(host_header);
  if (host.empty()) return false;
  in_addr v4{};
  in6_addr v6{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1 || inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
    return is_local_address(host);
  }
  std::lock_guard lock(mutex_);
  return std::find(names_.begin(), names_.end(), host) != names_.end();
}

std::string host_of(std::string_view header) {
  std::string host;
  if (!header.empty() && header.front() == '[') {
    const size_t close = header.find(']');
    if (close == std::string_view::npos) return {};
    const std::string_view rest = header.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return {};
    host = lower(header.substr(1, close - 1));
    host = host.substr(0, host.find('%'));  // a zone: fe80::1%25eth0
    in6_addr v6{};
    return inet_pton(AF_INET6, host.c_str(), &v6) == 1 ? host : std::string();
  }
  const size_t colon = header.find(':');
  if (colon != std::string_view::npos && header.find(':', colon + 1) != std::string_view::npos) {
    return {};  // an IPv6 address without brackets is no Host
  }
  host = without_trailing_dot(lower(header.substr(0, colon)));
  return valid_name(host) ? host : std::string();
}

bool is_local_address(const std::string& address) {
  in_addr v4{};
  in6_addr v6{};
  const bool is_v4 = inet_pton(AF_INET, address.c_str(), &v4) == 1;
  if (!is_v4 && inet_pton(AF_INET6, address.c_str(), &v6) != 1) return false;
  if (is_v4 && (ntohl(v4.s_addr) >> 24) == 127) return true;  // all of 127/8 is this machine
  if (!is_v4 && IN6_IS_ADDR_LOOPBACK(&v6)) return true;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool found = false;
  for (ifaddrs* entry = list; entry != nullptr && !found; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr) continue;
    if (is_v4 && entry->ifa_addr->sa_family == AF_INET) {
      found = reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr == v4.s_addr;
    } else if (!is_v4 && entry->ifa_addr->sa_family == AF_INET6) {
      found = std::memcmp(&reinterpret_cast<sockaddr_in6*>(entry->ifa_addr)->sin6_addr, &v6,
                          sizeof v6) == 0;
    }
  }
  freeifaddrs(list);
  return found;
}

bool same_origin(std::string_view origin, std::string_view host_header, bool tls) {
  if (host_header.empty()) return false;
  return lower(origin) == std::string(tls ? "https://" : "http://") + lower(host_header);
}

bool changes_state(std::string_view method) {
  return method != "GET" && method != "HEAD" && method != "OPTIONS";
}

}  // namespace qrx::escl
