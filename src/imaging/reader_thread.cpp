// The image reader thread (see reader_thread.h).
#include "imaging/reader_thread.h"

#include <algorithm>
#include <vector>

#include "imaging/image_ring.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "transport/registers.h"

namespace qrx::imaging {
namespace {

constexpr uint32_t kEmptyPollMs = 10;
constexpr uint32_t kStopPollMs = 100;

}  // namespace

uint32_t image_reader_thread(void* argument) {
  auto& context = *static_cast<transport::ScannerContext*>(argument);
  const std::shared_ptr<ImageRing> ring = context.image_ring;
  const uint32_t line_bytes = context.read_line_bytes;
  const uint32_t target = context.lines_to_read.load();
  if (!ring || line_bytes == 0) return kReaderFailed;

  std::vector<uint8_t> bounce;
  if (!platform::try_resize(bounce, kReaderPieceBytes)) return kReaderFailed;

  uint32_t counted = 0;
  uint32_t carry = 0;
  for (;;) {
    if (context.stop_reader.load() != 0 || counted >= target) return kReaderEndedNormally;
    uint32_t units = 0;
    if (!transport::read_register32(context.link, transport::reg::kBufferedData, units)) {
      return kReaderFailed;
    }
    // The counter counts 4-byte units; take what is there and what fits.
    const uint64_t buffered = static_cast<uint64_t>(units) * 4;
    const uint32_t avail =
        static_cast<uint32_t>(std::min<uint64_t>(buffered, ring->free_space()));
    if (avail == 0) {
      platform::clock().sleep_ms(kEmptyPollMs);
      continue;
    }
    // Piece by piece from the bounce buffer straight into the ring: the ring had
    // room for all of it, and only this thread adds to it.
    for (uint32_t done = 0; done < avail;) {
      const uint32_t piece = std::min(avail - done, kReaderPieceBytes);
      if (!transport::read_image_data(context.link, bounce.data(), piece)) return kReaderFailed;
      if (!ring->write(bounce.data(), piece)) return kReaderFailed;
      done += piece;
    }
    const uint64_t total = static_cast<uint64_t>(avail) + carry;
    counted += static_cast<uint32_t>(total / line_bytes);
    carry = static_cast<uint32_t>(total % line_bytes);
  }
}

void stop_image_reader(transport::ScannerContext& context) {
  if (!context.reader_thread) return;
  context.stop_reader.store(1);
  while (context.reader_thread->exit_code() == platform::Thread::kStillActive) {
    platform::clock().sleep_ms(kStopPollMs);
  }
  context.reader_thread.reset();
}

}  // namespace qrx::imaging
