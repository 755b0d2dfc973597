// The mDNS announcement (see mdns.h), on avahi's threaded poll: every avahi call
// after the start runs on its thread or under its lock.
#include "mdns.h"

#include <arpa/inet.h>
#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>

namespace qrx::escl {

struct MdnsAnnouncer::State {
  Announcement announcement;
  std::string name;  // changed on a name collision
  AvahiIfIndex interface = AVAHI_IF_UNSPEC;
  AvahiProtocol protocol = AVAHI_PROTO_UNSPEC;
  AvahiThreadedPoll* poll = nullptr;
  AvahiClient* client = nullptr;
  AvahiEntryGroup* group = nullptr;

  void say(const char* format, const char* what) const {
    if (announcement.verbose) {
      std::fprintf(stderr, "qrx7730-escl: mDNS: ");
      std::fprintf(stderr, format, what);
      std::fprintf(stderr, "\n");
    }
  }
};

namespace {

void publish(MdnsAnnouncer::State& state, AvahiClient* client);

void on_group(AvahiEntryGroup* group, AvahiEntryGroupState group_state, void* data) {
  auto& state = *static_cast<MdnsAnnouncer::State*>(data);
  if (group_state == AVAHI_ENTRY_GROUP_ESTABLISHED) {
    state.say("announced as '%s'", state.name.c_str());
  } else if (group_state == AVAHI_ENTRY_GROUP_COLLISION) {
    // Another service on the network has the name: take the next one.
    char* other = avahi_alternative_service_name(state.name.c_str());
    state.name = other;
    avahi_free(other);
    state.say("the name is taken; announcing as '%s'", state.name.c_str());
    avahi_entry_group_reset(group);
    publish(state, avahi_entry_group_get_client(group));
  } else if (group_state == AVAHI_ENTRY_GROUP_FAILURE) {
    state.say("the announcement failed: %s",
              avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))));
  }
}

void publish(MdnsAnnouncer::State& state, AvahiClient* client) {
  if (state.group == nullptr) {
    state.group = avahi_entry_group_new(client, on_group, &state);
    if (state.group == nullptr) return;
  }
  if (!avahi_entry_group_is_empty(state.group)) return;
  const char* host = avahi_client_get_host_name_fqdn(client);
  if (host != nullptr && state.announcement.host_name_known)
    state.announcement.host_name_known(host);
  AvahiStringList* txt = nullptr;
  for (const auto& [key, value] : txt_record(state.announcement, host != nullptr ? host : "")) {
    txt = avahi_string_list_add_pair(txt, key.c_str(), value.c_str());
  }
  const char* type = state.announcement.tls ? "_uscans._tcp" : "_uscan._tcp";
  int error = avahi_entry_group_add_service_strlst(
      state.group, state.interface, state.protocol, static_cast<AvahiPublishFlags>(0),
      state.name.c_str(), type, nullptr, nullptr, state.announcement.port, txt);
  avahi_string_list_free(txt);
  if (error == AVAHI_ERR_COLLISION) {
    on_group(state.group, AVAHI_ENTRY_GROUP_COLLISION, &state);
    return;
  }
  if (error == 0) error = avahi_entry_group_commit(state.group);
  if (error != 0) state.say("cannot announce: %s", avahi_strerror(error));
}

void on_client(AvahiClient* client, AvahiClientState client_state, void* data) {
  auto& state = *static_cast<MdnsAnnouncer::State*>(data);
  switch (client_state) {
    case AVAHI_CLIENT_S_RUNNING:
      publish(state, client);
      break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
      // The host name changes: announce again once it is settled.
      if (state.group != nullptr) avahi_entry_group_reset(state.group);
      break;
    case AVAHI_CLIENT_FAILURE:
      state.say("the avahi daemon went away: %s", avahi_strerror(avahi_client_errno(client)));
      break;
    case AVAHI_CLIENT_CONNECTING:
      state.say("waiting for the avahi daemon%s", "");
      break;
  }
}

// The interface to announce on: loopback for a loopback address, the address's
// own interface for another address, every interface for the any address.
AvahiIfIndex interface_for(const std::string& listen) {
  in_addr v4{};
  in6_addr v6{};
  const bool is_v4 = inet_pton(AF_INET, listen.c_str(), &v4) == 1;
  const bool is_v6 = !is_v4 && inet_pton(AF_INET6, listen.c_str(), &v6) == 1;
  if ((is_v4 && v4.s_addr == htonl(INADDR_ANY)) || (is_v6 && IN6_IS_ADDR_UNSPECIFIED(&v6))) {
    return AVAHI_IF_UNSPEC;
  }
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return AVAHI_IF_UNSPEC;
  AvahiIfIndex found = AVAHI_IF_UNSPEC;
  for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr) continue;
    const bool same =
        (is_v4 && entry->ifa_addr->sa_family == AF_INET &&
         reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr == v4.s_addr) ||
        (is_v6 && entry->ifa_addr->sa_family == AF_INET6 &&
         std::memcmp(&reinterpret_cast<sockaddr_in6*>(entry->ifa_addr)->sin6_addr, &v6,
                     sizeof v6) == 0);
    const bool loopback =
        (is_v4 && (ntohl(v4.s_addr) >> 24) == 127) || (is_v6 && IN6_IS_ADDR_LOOPBACK(&v6));
    if (same || (loopback && (entry->ifa_flags & IFF_LOOPBACK))) {
      found = static_cast<AvahiIfIndex>(if_nametoindex(entry->ifa_name));
      break;
    }
  }
  freeifaddrs(list);
  return found;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> txt_record(const Announcement& announcement,
                                                            const std::string& host) {
  std::string admin = std::string(announcement.tls ? "https" : "http") + "://" +
                      (host.empty() ? announcement.listen : host) + ":" +
                      std::to_string(announcement.port) + "/";
  return {
      {"txtvers", "1"},
      {"vers", "2.63"},
      {"rs", "eSCL"},
      {"ty", announcement.make_and_model},
      {"pdl", "image/jpeg,image/png,application/pdf"},
      {"cs", "color,grayscale"},
      {"is", "platen"},
      {"duplex", "F"},
      {"uuid", announcement.uuid},
      {"representation", admin + "icon.png"},
      {"adminurl", admin},
      {"note", announcement.name},
  };
}

MdnsAnnouncer::MdnsAnnouncer() = default;

MdnsAnnouncer::~MdnsAnnouncer() {
  stop();
}

bool MdnsAnnouncer::start(const Announcement& announcement, std::string& error) {
  auto state = std::make_unique<State>();
  state->announcement = announcement;
  state->name = announcement.name;
  state->interface = interface_for(announcement.listen);
  if (announcement.ipv4 != announcement.ipv6) {
    state->protocol = announcement.ipv4 ? AVAHI_PROTO_INET : AVAHI_PROTO_INET6;
  }
  state->poll = avahi_threaded_poll_new();
  if (state->poll == nullptr) {
    error = "mDNS: no memory for the avahi poll";
    return false;
  }
  int code = 0;
  // Without a daemon the client waits for one rather than failing.
  state->client = avahi_client_new(avahi_threaded_poll_get(state->poll), AVAHI_CLIENT_NO_FAIL,
                                   on_client, state.get(), &code);
  if (state->client == nullptr) {
    error = std::string("mDNS: ") + avahi_strerror(code);
    avahi_threaded_poll_free(state->poll);
    return false;
  }
  if (avahi_threaded_poll_start(state->poll) != 0) {
    error = "mDNS: cannot start the avahi thread";
    avahi_client_free(state->client);
    avahi_threaded_poll_free(state->poll);
    return false;
  }
  state_ = std::move(state);
  return true;
}

void MdnsAnnouncer::update(const std::string& name, const std::string& make_and_model) {
  if (state_ == nullptr) return;
  avahi_threaded_poll_lock(state_->poll);
  State& state = *state_;
  state.announcement.name = name;
  state.announcement.make_and_model = make_and_model;
  state.name = name;
  if (state.group != nullptr) avahi_entry_group_reset(state.group);
  if (avahi_client_get_state(state.client) == AVAHI_CLIENT_S_RUNNING) publish(state, state.client);
  avahi_threaded_poll_unlock(state_->poll);
}

void MdnsAnnouncer::stop() {
  if (state_ == nullptr) return;
  avahi_threaded_poll_stop(state_->poll);
  // Freeing the client withdraws the announcement.
  avahi_client_free(state_->client);
  avahi_threaded_poll_free(state_->poll);
  state_.reset();
}

}  // namespace qrx::escl
