// The daemon's front panel, pressed from outside (qrx7730-sim press): a press
// puts a button down on the emulated scanner and keeps it down as a finger would,
// for at least the hold time and until a host has read the button lines while it
// was down, so that a host polling the buttons sees every press once however its
// polls fall; unseen, it comes up after 20 seconds (within the 30 seconds a
// client of the daemon waits for an answer).
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "emulator/wire_protocol.h"
#include "ordered_port.h"

namespace qrx::sim {

// The register the button lines are read from, and how a host asks for a
// register: request 0x8E with index register * 256 + 0x22.
inline constexpr uint8_t kButtonRegister = 0x6D;
inline constexpr bool is_button_read(uint8_t request, uint16_t index) {
  return request == 0x8E && index == ((kButtonRegister << 8) | 0x22);
}

class FrontPanel final : public emu::wire::FrontPanel {
 public:
  static constexpr std::chrono::seconds kGiveUp{20};

  // Watches the port's reads of the button lines from now on. verbose: log each
  // button as it goes down.
  explicit FrontPanel(OrderedPort& port, bool verbose = false,
                      std::chrono::steady_clock::duration give_up = kGiveUp);

  bool press(uint8_t button, uint32_t hold_ms, bool& seen) override;
  // Lets every press waiting for a host come up at once (the daemon stops).
  void shut_down();

 private:
  void lines_read();

  OrderedPort& port_;
  const bool verbose_;
  const std::chrono::steady_clock::duration give_up_;
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t reads_ = 0;
  std::array<unsigned, 5> held_{};  // presses holding each button down
  bool stopping_ = false;
};

}  // namespace qrx::sim
