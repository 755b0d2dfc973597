// Unix domain stream sockets for the emulator link, and the wait for SIGINT/SIGTERM
// with which the emulator daemon ends.
#include "platform/local_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace qrx::platform {
namespace {

// A client stream gives up on a peer that neither answers nor takes data for this
// long, so that a wedged daemon fails requests instead of hanging the library.
constexpr int kClientTimeoutSeconds = 30;

void close_quietly(int fd) {
  if (fd >= 0) ::close(fd);  // close is not retried on EINTR: the descriptor is gone either way
}

// Fills address for path; false when the path is empty, holds a NUL byte (it
// would name the abstract namespace) or does not fit with its terminator.
bool make_address(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path ||
      path.find('\0') != std::string::npos) {
    return false;
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

int connect_to(const sockaddr_un& address) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int saved = errno;
    close_quietly(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

class PosixStream final : public LocalStream {
 public:
  explicit PosixStream(int fd) : fd_(fd) {}
  ~PosixStream() override { close_quietly(fd_); }
  PosixStream(const PosixStream&) = delete;
  PosixStream& operator=(const PosixStream&) = delete;

  bool send_all(const void* data, size_t size) override {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
      // MSG_NOSIGNAL: a peer that has gone makes this fail with EPIPE rather than
      // killing the process with SIGPIPE.
      const ssize_t sent = ::send(fd_, bytes, size, MSG_NOSIGNAL);
      if (sent < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      bytes += sent;
      size -= static_cast<size_t>(sent);
    }
    return true;
  }

  bool receive_all(void* data, size_t size) override {
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
      const ssize_t got = ::recv(fd_, bytes, size, 0);
      if (got < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (got == 0) return false;  // end of stream
      bytes += got;
      size -= static_cast<size_t>(got);
    }
    return true;
  }

  // shutdown() wakes a thread blocked in send or recv on this descriptor; the
  // descriptor itself stays open until destruction so it cannot be reused under
  // that thread.
  void shut_down() override { ::shutdown(fd_, SHUT_RDWR); }

 private:
  int fd_;
};

class PosixListener final : public LocalListener {
 public:
  PosixListener(int fd, int wake_read, int wake_write, std::string path, dev_t device, ino_t inode)
      : fd_(fd),
        wake_read_(wake_read),
        wake_write_(wake_write),
        path_(std::move(path)),
        device_(device),
        inode_(inode) {}
  ~PosixListener() override {
    shut_down();
    close_quietly(fd_);
    close_quietly(wake_read_);
    close_quietly(wake_write_);
  }
  PosixListener(const PosixListener&) = delete;
  PosixListener& operator=(const PosixListener&) = delete;

  std::unique_ptr<LocalStream> accept() override {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_read_, POLLIN, 0}};
    while (!stopped_.load(std::memory_order_acquire)) {
      const int ready = ::poll(fds, 2, -1);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return nullptr;
      }
      if (fds[1].revents != 0 || stopped_.load(std::memory_order_acquire)) break;
      if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0) return nullptr;
      if ((fds[0].revents & POLLIN) == 0) continue;
      const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client >= 0) return std::make_unique<PosixStream>(client);
      switch (errno) {
        case EINTR:
        case EAGAIN:
        case ECONNABORTED:
        case EPROTO:
          continue;  // that client gave up before we took it
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
          // Out of descriptors or memory for now: wait a little (or for shut_down)
          // instead of spinning, and keep serving once others have closed.
          ::poll(&fds[1], 1, 100);
          continue;
        default:
          return nullptr;
      }
    }
    return nullptr;
  }

  void shut_down() override {
    if (stopped_.exchange(true, std::memory_order_acq_rel)) return;
    const char byte = 1;
    while (::write(wake_write_, &byte, 1) < 0 && errno == EINTR) {
    }
    // Remove the socket file only while it is still the one this listener bound:
    // a later server may have replaced it.
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_dev == device_ &&
        st.st_ino == inode_) {
      ::unlink(path_.c_str());
    }
  }

 private:
  int fd_;
  int wake_read_;
  int wake_write_;
  std::string path_;
  dev_t device_;
  ino_t inode_;
  std::atomic<bool> stopped_{false};
};

std::string describe_errno(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Makes way for a new socket at path. True when the path is free (nothing there, or
// a socket file nobody listens on, which is removed); false with a message when
// something else holds it.
bool clear_stale_socket(const std::string& path, const sockaddr_un& address, std::string& error) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    error = describe_errno("cannot examine", path);
    return false;
  }
  if (!S_ISSOCK(st.st_mode)) {
    error = path + " is taken: it exists and is not a socket";
    return false;
  }
  const int probe = connect_to(address);
  if (probe >= 0) {
    close_quietly(probe);
    error = path + " is taken: another server is listening on it";
    return false;
  }
  if (errno != ECONNREFUSED) {
    error = describe_errno("cannot probe socket", path);
    return false;
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    error = describe_errno("cannot remove stale socket", path);
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<LocalStream> LocalStream::connect(const std::string& path) {
  sockaddr_un address{};
  if (!make_address(path, address)) return nullptr;
  const int fd = connect_to(address);
  if (fd < 0) return nullptr;
  const timeval timeout{kClientTimeoutSeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  return std::make_unique<PosixStream>(fd);
}

std::unique_ptr<LocalListener> LocalListener::listen(const std::string& path, std::string& error,
                                                     int mode) {
  sockaddr_un address{};
  if (!make_address(path, address)) {
    error = "socket path is empty or longer than " + std::to_string(sizeof address.sun_path - 1) +
            " bytes: " + path;
    return nullptr;
  }
  if (!clear_stale_socket(path, address, error)) return nullptr;

  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = describe_errno("cannot create socket for", path);
    return nullptr;
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = errno == EADDRINUSE ? path + " is taken: another server has just bound it"
                                : describe_errno("cannot bind", path);
    close_quietly(fd);
    return nullptr;
  }
  // Clients cannot connect before listen(): the mode is in place when they can.
  if (mode >= 0 && ::chmod(path.c_str(), static_cast<mode_t>(mode)) != 0) {
    error = describe_errno("cannot set the permissions of", path);
    ::unlink(path.c_str());
    close_quietly(fd);
    return nullptr;
  }
  struct stat st {};
  int wake[2] = {-1, -1};
  if (::lstat(path.c_str(), &st) != 0 || ::listen(fd, 16) != 0 || ::pipe2(wake, O_CLOEXEC) != 0) {
    error = describe_errno("cannot listen on", path);
    if (st.st_ino != 0) ::unlink(path.c_str());
    close_quietly(fd);
    return nullptr;
  }
  return std::make_unique<PosixListener>(fd, wake[0], wake[1], path, st.st_dev, st.st_ino);
}

}  // namespace qrx::platform
