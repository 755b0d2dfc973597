// The daemon's connections: accepts clients on the listening socket and serves
// each on its own thread, every one an open handle on the same scanner.
#pragma once

#include <atomic>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "emulator/wire_protocol.h"
#include "ordered_port.h"
#include "platform/local_socket.h"

namespace qrx::sim {

class ClientServer {
 public:
  // More clients than this at once are turned away (their hello fails), so that a
  // runaway client cannot exhaust the daemon's threads.
  static constexpr size_t kMaxClients = 64;

  // verbose: log every connection and request on the error output. panel: what
  // the clients' presses press; none: they are refused.
  ClientServer(std::unique_ptr<platform::LocalListener> listener, OrderedPort& port,
               bool verbose = false, emu::wire::FrontPanel* panel = nullptr);
  ~ClientServer();
  ClientServer(const ClientServer&) = delete;
  ClientServer& operator=(const ClientServer&) = delete;

  // Starts accepting clients; false when the accepting thread cannot start.
  bool start();
  // Refuses new clients, cuts the open connections, waits for every thread and
  // removes the socket file. Safe to call more than once.
  void stop();

 private:
  struct Client {
    unsigned id = 0;  // counts the connections since the start, from 1
    std::unique_ptr<platform::LocalStream> stream;
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  void accept_clients();
  void serve(Client& client);
  void join_finished();

  std::unique_ptr<platform::LocalListener> listener_;
  OrderedPort& port_;
  const bool verbose_;
  emu::wire::FrontPanel* const panel_;
  unsigned connections_ = 0;  // accepting thread only
  std::thread acceptor_;
  std::mutex mutex_;  // guards clients_ and stopping_
  std::list<std::unique_ptr<Client>> clients_;
  bool stopping_ = false;
};

}  // namespace qrx::sim
