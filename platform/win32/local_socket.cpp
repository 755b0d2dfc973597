// Local stream sockets on Windows: not provided. The emulator daemon and its
// socket backend are Unix-only; on Windows "sim:<path>" cannot be opened.
#include "platform/local_socket.h"

namespace qrx::platform {

std::unique_ptr<LocalStream> LocalStream::connect(const std::string&) {
  return nullptr;
}

std::unique_ptr<LocalListener> LocalListener::listen(const std::string& path, std::string& error,
                                                     int /*mode*/) {
  error = "local sockets are not available on Windows: " + path;
  return nullptr;
}

}  // namespace qrx::platform
