// The allow-list (see allow_list.h).
#include "allow_list.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <charconv>
#include <cstring>

namespace qrx::escl {
namespace {

constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

bool matches(const std::array<uint8_t, 16>& a, const std::array<uint8_t, 16>& b, int prefix) {
  const int bytes = prefix / 8, bits = prefix % 8;
  if (std::memcmp(a.data(), b.data(), bytes) != 0) return false;
  if (bits == 0) return true;
  const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - bits));
  return (a[bytes] & mask) == (b[bytes] & mask);
}

}  // namespace

bool AllowList::add(const std::string& cidr, std::string& error) {
  const size_t slash = cidr.find('/');
  const std::string host = cidr.substr(0, slash);
  Network network;
  int width = 0;
  in_addr v4{};
  in6_addr v6{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) {
    std::memcpy(network.address.data(), kMappedPrefix, 12);
    std::memcpy(network.address.data() + 12, &v4, 4);
    width = 32;
  } else if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
    std::memcpy(network.address.data(), &v6, 16);
    width = 128;
  } else {
    error = "--allow wants a network such as 192.168.1.0/24 or fd00::/8, not '" + cidr + "'";
    return false;
  }
  int prefix = width;
  if (slash != std::string::npos) {
    const char* first = cidr.data() + slash + 1;
    const char* last = cidr.data() + cidr.size();
    const auto [end, failed] = std::from_chars(first, last, prefix);
    if (first == last || failed != std::errc() || end != last || prefix < 0 || prefix > width) {
      error = "--allow: the prefix length of '" + cidr + "' is not 0 to " + std::to_string(width);
      return false;
    }
  }
  network.prefix = prefix + (128 - width);
  networks_.push_back(network);
  return true;
}

void AllowList::add_local_networks() {
  std::string ignored;
  for (const char* cidr : {"127.0.0.0/8", "10.0.0.0/8", "172.16.0.0/12", "192.168.0.0/16",
                           "169.254.0.0/16", "::1/128", "fc00::/7", "fe80::/10"}) {
    add(cidr, ignored);
  }
}

bool AllowList::allows(const sockaddr* address) const {
  if (address == nullptr) return false;
  std::array<uint8_t, 16> client{};
  if (address->sa_family == AF_INET) {
    std::memcpy(client.data(), kMappedPrefix, 12);
    std::memcpy(client.data() + 12, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
  } else if (address->sa_family == AF_INET6) {
    std::memcpy(client.data(), &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, 16);
  } else {
    return false;
  }
  for (const Network& network : networks_) {
    if (matches(client, network.address, network.prefix)) return true;
  }
  return false;
}

}  // namespace qrx::escl
