// Accepting and serving the daemon's clients, and taking them down at shutdown.
#include "client_server.h"

#include <iostream>
#include <new>
#include <system_error>
#include <vector>

#include "emulator/wire_protocol.h"
#include "logging_port.h"

namespace qrx::sim {

namespace {

// With --verbose: the presses of one connection, logged with what came of them.
class LoggingPanel final : public emu::wire::FrontPanel {
 public:
  LoggingPanel(emu::wire::FrontPanel* panel, unsigned client) : panel_(panel), client_(client) {}
  bool press(uint8_t button, uint32_t hold_ms, bool& seen) override {
    const bool ok = panel_ != nullptr && panel_->press(button, hold_ms, seen);
    log_line("client " + std::to_string(client_) + ": press of button " + std::to_string(button) +
             (!ok    ? " refused"
              : seen ? ", read by a host"
                     : ", read by no host"));
    return ok;
  }

 private:
  emu::wire::FrontPanel* panel_;
  unsigned client_;
};

}  // namespace

ClientServer::ClientServer(std::unique_ptr<platform::LocalListener> listener, OrderedPort& port,
                           bool verbose, emu::wire::FrontPanel* panel)
    : listener_(std::move(listener)), port_(port), verbose_(verbose), panel_(panel) {}

ClientServer::~ClientServer() {
  stop();
}

bool ClientServer::start() {
  try {
    acceptor_ = std::thread([this] { accept_clients(); });
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void ClientServer::accept_clients() {
  while (std::unique_ptr<platform::LocalStream> stream = listener_->accept()) {
    join_finished();
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    if (clients_.size() >= kMaxClients) {
      std::cerr << "qrx7730-sim: " << kMaxClients << " clients connected; turning one away\n";
      continue;  // the stream closes here
    }
    try {
      clients_.push_back(std::make_unique<Client>());
    } catch (const std::bad_alloc&) {
      std::cerr << "qrx7730-sim: out of memory; turning a client away\n";
      continue;
    }
    Client& served = *clients_.back();
    served.id = ++connections_;
    served.stream = std::move(stream);
    if (verbose_) log_line("client " + std::to_string(served.id) + " connected");
    try {
      served.thread = std::thread([this, &served] { serve(served); });
    } catch (const std::system_error&) {
      clients_.pop_back();
      std::cerr << "qrx7730-sim: cannot start a thread for a client; turning it away\n";
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!stopping_) std::cerr << "qrx7730-sim: the listening socket failed; no new clients\n";
}

void ClientServer::serve(Client& client) {
  emu::wire::ServeEnd end;
  OrderedPort::Connection connection(port_, client.id);
  if (verbose_) {
    LoggingPort logged(connection, client.id);
    LoggingPanel panel(panel_, client.id);
    end = emu::wire::serve_client(*client.stream, logged, &panel);
    log_line("client " + std::to_string(client.id) + " disconnected after " +
             std::to_string(logged.requests()) + " requests");
  } else {
    end = emu::wire::serve_client(*client.stream, connection, panel_);
  }
  if (end == emu::wire::ServeEnd::kMalformed) {
    std::cerr << "qrx7730-sim: a client sent a malformed message; its connection is closed\n";
  } else if (end == emu::wire::ServeEnd::kRefusedHello) {
    std::cerr << "qrx7730-sim: a client speaks another protocol version; refused\n";
  }
  // Let the client see the end of the connection now rather than at the next reap.
  client.stream->shut_down();
  client.finished.store(true, std::memory_order_release);
}

void ClientServer::join_finished() {
  std::vector<std::unique_ptr<Client>> done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = clients_.begin(); it != clients_.end();) {
      if ((*it)->finished.load(std::memory_order_acquire)) {
        done.push_back(std::move(*it));
        it = clients_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& client : done) client->thread.join();
}

void ClientServer::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  listener_->shut_down();
  if (acceptor_.joinable()) acceptor_.join();
  std::list<std::unique_ptr<Client>> remaining;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    remaining.swap(clients_);
  }
  for (auto& client : remaining) client->stream->shut_down();
  for (auto& client : remaining) client->thread.join();
}

}  // namespace qrx::sim
