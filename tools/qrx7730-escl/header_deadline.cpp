// The header deadline (see header_deadline.h).
#include "header_deadline.h"

#include <sys/socket.h>

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
}

void HeaderDeadline::opened(const void* connection, int socket) {
  std::lock_guard lock(mutex_);
  connections_[connection] = Watched{socket, true, std::chrono::steady_clock::now()};
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
  connections_.erase(connection);
}

void HeaderDeadline::watch() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    changed_.wait_for(lock, kWatchPeriod);
    const auto now = std::chrono::steady_clock::now();
    for (auto& [connection, watched] : connections_) {
      if (!watched.waiting || now - watched.since < deadline_) continue;
      // The socket is still open: the library closes it only after it has told
      // closed(), which waits for this lock. Shutting it down wakes the
      // connection's thread, which then closes the connection.
      shutdown(watched.socket, SHUT_RDWR);
      watched.waiting = false;
    }
  }
}

}  // namespace qrx::escl
