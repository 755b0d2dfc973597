// Pressing the emulated scanner's buttons from outside (see front_panel.h).
#include "front_panel.h"

#include <algorithm>
#include <string>

#include "logging_port.h"

namespace qrx::sim {

FrontPanel::FrontPanel(OrderedPort& port, bool verbose, std::chrono::steady_clock::duration give_up)
    : port_(port), verbose_(verbose), give_up_(give_up) {
  port_.watch(is_button_read, [this] { lines_read(); });
}

bool FrontPanel::press(uint8_t button, uint32_t hold_ms, bool& seen) {
  seen = false;
  if (button < 1 || button > 4) return false;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point pressed = Clock::now();
  const Clock::time_point held_enough = pressed + std::chrono::milliseconds(hold_ms);
  const Clock::time_point given_up =
      pressed + std::max<Clock::duration>(give_up_, std::chrono::milliseconds(hold_ms));
  // Down in a turn of its own, so that every read served after it sees it down
  // and every read counted after it came after it.
  uint64_t reads_before = 0;
  port_.exclusive([&](emu::Scanner& scanner) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (held_[button]++ == 0) scanner.press_button(button);
    reads_before = reads_;
    return true;
  });
  if (verbose_) log_line("button " + std::to_string(button) + " down");
  {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      seen = reads_ > reads_before;
      const Clock::time_point now = Clock::now();
      if (stopping_ || now >= given_up || (seen && now >= held_enough)) break;
      changed_.wait_until(lock, seen ? held_enough : given_up);
    }
  }
  port_.exclusive([&](emu::Scanner& scanner) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--held_[button] == 0) scanner.release_button(button);
    return true;
  });
  return true;
}

void FrontPanel::lines_read() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++reads_;
  }
  changed_.notify_all();
}

void FrontPanel::shut_down() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
}

}  // namespace qrx::sim
