// The header deadline (see header_deadline.h).
#include "header_deadline.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qrx::escl {
namespace {

constexpr auto kWatchPeriod = std::chrono::milliseconds(250);

}  // namespace

void HeaderDeadline::start() {
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { watch(); });
}

void HeaderDeadline::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  for (const auto& [connection, watched] : connections_) close(watched.socket);
  connections_.clear();
}

void HeaderDeadline::opened(const void* connection, int socket) {
  // A descriptor of our own for the socket: the library's may be closed and its
  // number reused at any time, this one stays the connection's until closed().
  const int own = fcntl(socket, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return;
  std::lock_guard lock(mutex_);
  const auto [at, added] =
      connections_.try_emplace(connection, Watched{own, true, std::chrono::steady_clock::now()});
  if (!added) close(own);
}

void HeaderDeadline::header_read(const void* connection) {
  std::lock_guard lock(mutex_);
  const auto found = connections_.find(connection);
  if (found != connections_.end()) found->second.waiting = false;
}

void HeaderDeadline::request_done(const void* connection) {
  std::lock_guard lock(mutex_);
  const auto found = connections_.find(connection);
  if (found != connections_.end()) {
    found->second.waiting = true;
    found->second.since = std::chrono::steady_clock::now();
  }
}

void HeaderDeadline::closed(const void* connection) {
  std::lock_guard lock(mutex_);
  const auto found = connections_.find(connection);
  if (found == connections_.end()) return;
  close(found->second.socket);
  connections_.erase(found);
}

void HeaderDeadline::watch() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    changed_.wait_for(lock, kWatchPeriod);
    const auto now = std::chrono::steady_clock::now();
    for (auto& [connection, watched] : connections_) {
      if (!watched.waiting || now - watched.since < deadline_) continue;
      // Shutting the socket down wakes the connection's thread, which then
      // closes the connection.
      shutdown(watched.socket, SHUT_RDWR);
      watched.waiting = false;
    }
  }
}

}  // namespace qrx::escl
