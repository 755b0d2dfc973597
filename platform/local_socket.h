// Local stream sockets (Unix domain), used to reach the emulator daemon. Not
// available on Windows: connect() and listen() fail there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qrx::platform {

class LocalStream {
 public:
  virtual ~LocalStream() = default;
  // Connects to a listening socket; nullptr on failure.
  static std::unique_ptr<LocalStream> connect(const std::string& path);
  // Sends or receives exactly size bytes; false on error or end of stream.
  virtual bool send_all(const void* data, size_t size) = 0;
  virtual bool receive_all(void* data, size_t size) = 0;
  // Makes blocked and later calls fail (used to stop a serving thread).
  virtual void shut_down() = 0;
};

class LocalListener {
 public:
  virtual ~LocalListener() = default;
  // Binds and listens at path. Fails (with a message) when the path is taken: any
  // file that is not a socket, or a socket some process still listens on. A socket
  // file nobody listens on any more (left by a killed server) is replaced. A mode
  // of 0 or more sets the socket file's permission bits before any client can
  // connect; -1 leaves what the umask gives.
  static std::unique_ptr<LocalListener> listen(const std::string& path, std::string& error,
                                               int mode = -1);
  // Waits for the next client; nullptr when the listener was shut down or failed.
  virtual std::unique_ptr<LocalStream> accept() = 0;
  // Wakes accept() and refuses further clients; removes the socket file.
  virtual void shut_down() = 0;
};

}  // namespace qrx::platform
