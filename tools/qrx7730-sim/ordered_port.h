// A UsbPort in front of the daemon's scanner that lets the requests of all
// connections reach it one at a time, in the order they arrived.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "emulator/usb_port.h"

namespace qrx::sim {

class OrderedPort final : public emu::UsbPort {
 public:
  explicit OrderedPort(emu::UsbPort& device) : device_(device) {}

  bool control_in(uint8_t request, uint16_t index, uint8_t* data, uint32_t length) override {
    return in_turn([&] { return device_.control_in(request, index, data, length); });
  }
  bool control_out(uint8_t request, uint16_t index, const uint8_t* data, uint32_t length) override {
    return in_turn([&] { return device_.control_out(request, index, data, length); });
  }
  bool descriptor(uint16_t& vendor_id, uint16_t& product_id, uint16_t& release) override {
    return in_turn([&] { return device_.descriptor(vendor_id, product_id, release); });
  }
  bool bulk_in(uint8_t* data, uint32_t length, uint32_t& transferred) override {
    return in_turn([&] { return device_.bulk_in(data, length, transferred); });
  }
  bool bulk_out(const uint8_t* data, uint32_t length, uint32_t& transferred) override {
    return in_turn([&] { return device_.bulk_out(data, length, transferred); });
  }

 private:
  // A ticket queue: a plain mutex lets a busy connection overtake the others.
  template <typename Call>
  bool in_turn(Call call) {
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
    return call();
  }

  emu::UsbPort& device_;
  std::mutex mutex_;
  std::condition_variable turn_;
  uint64_t next_ticket_ = 0;
  uint64_t serving_ = 0;
};

}  // namespace qrx::sim
