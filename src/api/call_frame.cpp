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
  while ((ticket_ = library_.status_block.try_take_busy()) == 0) {
    platform::clock().sleep_ms(kBusyPollMs);
  }
}

CallFrame::~CallFrame() { release(); }

void CallFrame::release() {
  library_.status_block.release_busy(ticket_);
  ticket_ = 0;
}

}  // namespace qrx::api
