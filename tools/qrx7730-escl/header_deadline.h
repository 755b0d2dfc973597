// A deadline for each request's header. The HTTP library closes a connection
// only when it is idle, so a client that sends one byte now and then would hold
// its connection (and one of the server's few connection slots) for ever. This
// watch gives every request its whole header within a deadline, counted from the
// connection's start or the end of the previous request on it, and shuts the
// connection down when the deadline passes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace qrx::escl {

class HeaderDeadline {
 public:
  explicit HeaderDeadline(std::chrono::milliseconds deadline) : deadline_(deadline) {}
  ~HeaderDeadline() { stop(); }
  HeaderDeadline(const HeaderDeadline&) = delete;
  HeaderDeadline& operator=(const HeaderDeadline&) = delete;

  void start();
  void stop();

  // The connection (any key) on the socket began; its header is awaited. The
  // watch keeps a descriptor of the socket of its own until closed().
  void opened(const void* connection, int socket);
  // Its request's header has arrived: no deadline while the request is served.
  void header_read(const void* connection);
  // Its request was answered: the next request's header is awaited.
  void request_done(const void* connection);
  // It was closed: it is forgotten.
  void closed(const void* connection);

 private:
  struct Watched {
    int socket = -1;      // the watch's own descriptor
    bool waiting = true;  // for a header
    std::chrono::steady_clock::time_point since;
  };
  void watch();

  const std::chrono::milliseconds deadline_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<const void*, Watched> connections_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace qrx::escl
