// The call frame (see call_frame.h).
#include "api/call_frame.h"

#include "platform/clock.h"

namespace qrx::api {

// How often a waiting caller looks at the busy flag again.
constexpr uint32_t kBusyPollMs = 10;

CallFrame::CallFrame(Library& library) : library_(library) {
  // Waits without a time limit while another caller works. A holder that died
  // with the flag taken is recognised by the status block and does not keep
  // everybody else waiting.
  while (!library_.status_block.try_take_busy()) {
    platform::clock().sleep_ms(kBusyPollMs);
  }
}

CallFrame::~CallFrame() { release(); }

void CallFrame::release() {
  if (held_) {
    library_.status_block.release_busy();
    held_ = false;
  }
}

}  // namespace qrx::api
