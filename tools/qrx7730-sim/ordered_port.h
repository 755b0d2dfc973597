// The daemon's scanner as its connections reach it: the requests of all
// connections reach the scanner one at a time, in the order they arrived, each
// recorded in the scanner's trace under the connection that sent it. The front
// panel's presses take their turn among them, and it is told of every read of the
// button lines.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "emulator/scanner.h"
#include "emulator/usb_port.h"

namespace qrx::sim {

class OrderedPort {
 public:
  explicit OrderedPort(emu::Scanner& scanner) : scanner_(scanner) {}

  // The port of one connection (id from 1).
  class Connection final : public emu::UsbPort {
   public:
    Connection(OrderedPort& ordered, uint32_t id) : ordered_(ordered), id_(id) {}

    bool control_in(uint8_t request, uint16_t index, uint8_t* data, uint32_t length) override {
      return ordered_.in_turn(id_, [&](emu::Scanner& s) {
        const bool ok = s.control_in(request, index, data, length);
        if (ok && ordered_.watch_ && ordered_.watched_(request, index)) ordered_.watch_();
        return ok;
      });
    }
    bool control_out(uint8_t request, uint16_t index, const uint8_t* data,
                     uint32_t length) override {
      return ordered_.in_turn(
          id_, [&](emu::Scanner& s) { return s.control_out(request, index, data, length); });
    }
    bool descriptor(uint16_t& vendor_id, uint16_t& product_id, uint16_t& release) override {
      return ordered_.in_turn(
          id_, [&](emu::Scanner& s) { return s.descriptor(vendor_id, product_id, release); });
    }
    bool bulk_in(uint8_t* data, uint32_t length, uint32_t& transferred) override {
      return ordered_.in_turn(
          id_, [&](emu::Scanner& s) { return s.bulk_in(data, length, transferred); });
    }
    bool bulk_out(const uint8_t* data, uint32_t length, uint32_t& transferred) override {
      return ordered_.in_turn(
          id_, [&](emu::Scanner& s) { return s.bulk_out(data, length, transferred); });
    }

   private:
    OrderedPort& ordered_;
    const uint32_t id_;
  };

  // Calls on_read, in the turn of the request, after every successful control-in
  // request that watched(request, index) picks. Set before any client connects.
  void watch(std::function<bool(uint8_t, uint16_t)> watched, std::function<void()> on_read) {
    watched_ = std::move(watched);
    watch_ = std::move(on_read);
  }
  // Runs call(scanner) in a turn of its own between the connections' requests.
  template <typename Call>
  bool exclusive(Call call) {
    return in_turn(0, call);
  }

 private:
  // A ticket queue: a plain mutex lets a busy connection overtake the others.
  template <typename Call>
  bool in_turn(uint32_t connection, Call call) {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t ticket = next_ticket_++;
    turn_.wait(lock, [&] { return serving_ == ticket; });
    lock.unlock();
    struct PassOn {
      OrderedPort& port;
      ~PassOn() {
        std::lock_guard<std::mutex> guard(port.mutex_);
        ++port.serving_;
        port.turn_.notify_all();
      }
    } pass_on{*this};
    scanner_.set_connection(connection);
    return call(scanner_);
  }

  emu::Scanner& scanner_;
  std::function<bool(uint8_t, uint16_t)> watched_;
  std::function<void()> watch_;
  std::mutex mutex_;
  std::condition_variable turn_;
  uint64_t next_ticket_ = 0;
  uint64_t serving_ = 0;
};

}  // namespace qrx::sim
