// Line assembly (see line_assembly.h).
#include "imaging/line_assembly.h"

#include <algorithm>
#include <vector>

#include "imaging/image_ring.h"
#include "imaging/line_transforms.h"
#include "imaging/reader_thread.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "qrx7730.h"

namespace qrx::imaging {
namespace {

// Raw lines are in pixel order below this resolution and split into segments from it up.
constexpr uint32_t kSegmentedResolution = 1200;
constexpr uint32_t kReducedBelow = 600;

// Grows a work buffer to at least n bytes; an allocation only when it is too small.
bool ensure(std::vector<uint8_t>& buffer, size_t n) {
  return buffer.size() >= n || platform::try_resize(buffer, n);
}

bool tables_ready(const std::array<std::vector<uint16_t>, 3>& tables, size_t entries) {
  return std::all_of(tables.begin(), tables.end(),
                     [entries](const std::vector<uint16_t>& t) { return t.size() == entries; });
}

ChannelTables table_pointers(const std::array<std::vector<uint16_t>, 3>& tables) {
  return {tables[0].data(), tables[1].data(), tables[2].data()};
}

bool widens(const transport::ScannerContext& context, const ScanValues& values) {
  return values.wide_samples != 0 && (context.bit_depth == 8 || context.bit_depth == 24);
}

// Waits until the ring holds `take` bytes. False when they will not come: the reader
// has ended (with failure, or normally without them: it writes nothing more once
// ended), or the ring has not grown for kDataSilenceMs.
bool wait_for_data(const transport::ScannerContext& context, const ImageRing& ring, uint32_t take) {
  if (take > ring.capacity()) return false;
  platform::Clock& clock = platform::clock();
  uint32_t held = ring.used();
  uint32_t quiet_since = clock.ticks_ms();
  while (held < take) {
    const uint32_t code =
        context.reader_thread ? context.reader_thread->exit_code() : kReaderFailed;
    if (code != platform::Thread::kStillActive) {
      // Whatever it wrote before it ended is in the ring now.
      return code == kReaderEndedNormally && ring.used() >= take;
    }
    if (clock.ticks_ms() - quiet_since >= kDataSilenceMs) return false;
    clock.sleep_ms(kDataPollMs);
    const uint32_t now_held = ring.used();
    if (now_held > held) quiet_since = clock.ticks_ms();
    held = now_held;
  }
  return true;
}

}  // namespace

uint32_t reduction_factor(const transport::ScannerContext& context) {
  if (context.scan_x_res >= kReducedBelow) return 1;
  const bool oversampled = context.low_res_oversample != 0;
  if (!oversampled && context.output_x_res == 75 && context.scan_x_res == 150) return 2;
  if (oversampled && context.output_x_res == 150 && context.scan_x_res == 300) return 2;
  if (oversampled && context.output_x_res == 75 && context.scan_x_res == 300) return 4;
  return 1;
}

uint32_t output_line_bytes(const transport::ScannerContext& context, const ScanValues& values) {
  const uint32_t f = reduction_factor(context);
  const CropSpan span =
      crop_span(0, context.window.width, context.scan_x_res / f, context.board_variant);
  const uint32_t samples =
      context.gray_from_color != 0 ? 1u : std::min<uint32_t>(context.color_channels, 3);
  const uint64_t bytes = static_cast<uint64_t>(span.count) * samples *
                         sample_bytes_of(context.bit_depth) * (widens(context, values) ? 2 : 1);
  return bytes > UINT32_MAX ? 0 : static_cast<uint32_t>(bytes);
}

LineResult assemble_line(transport::ScannerContext& context, const ScanValues& values,
                         uint8_t* destination) {
  const uint32_t f = reduction_factor(context);
  const uint32_t raw_bytes = context.read_line_bytes;
  const uint32_t channels = context.color_channels;
  const uint32_t sample_bytes = sample_bytes_of(context.bit_depth);
  const std::shared_ptr<ImageRing> ring = context.image_ring;
  if (!ring || raw_bytes == 0 || channels == 0) return LineResult::kFailed;
  const bool gamma = context.bit_depth == 48;
  const bool expand = widens(context, values);
  if ((gamma && !tables_ready(context.gamma_table, transport::kGammaEntries)) ||
      (expand && !tables_ready(context.expand_table, transport::kExpandEntries))) {
    return LineResult::kFailed;
  }
  const uint64_t take = static_cast<uint64_t>(raw_bytes) * f;
  if (take > UINT32_MAX || !ensure(context.read_wrap, take) ||
      (f > 1 && !ensure(context.read_reduced, raw_bytes / f))) {
    return LineResult::kFailed;
  }

  if (!wait_for_data(context, *ring, static_cast<uint32_t>(take))) return LineResult::kFailedCancel;
  // The raw lines are worked on where they lie in the ring (copied only when they
  // cross its end) and dropped once this line is made.
  const uint8_t* raw = ring->peek(static_cast<uint32_t>(take), context.read_wrap.data());
  if (raw == nullptr) return LineResult::kFailedCancel;
  RawLine line{raw, raw_bytes, channels, sample_bytes, 1};
  if (f > 1) {
    line.data = context.read_reduced.data();
    line.size = box_reduce(raw, raw_bytes, f, channels, sample_bytes, context.read_reduced.data());
  }
  // At 1200 dpi and above the scanner sends the whole sensor width in segments;
  // below, it has already placed the window and only the lead-in is cut off.
  uint32_t start = 0;
  if (context.scan_x_res >= kSegmentedResolution) {
    line.segments = context.scan_x_res / kSegmentedResolution * 2;
    start = context.window.x;
  }
  const CropSpan span =
      crop_span(start, context.window.width, context.scan_x_res / f, context.board_variant);
  const ChannelTables gamma_tables = table_pointers(context.gamma_table);
  const ChannelTables expand_tables = table_pointers(context.expand_table);
  Delivery delivery;
  delivery.green_only = context.gray_from_color != 0;
  delivery.level = SampleLevel{context.lamp_select != QRX_LAMP_FLATBED, context.film_type};
  delivery.gamma = gamma ? &gamma_tables : nullptr;
  delivery.expand = expand ? &expand_tables : nullptr;
  const bool delivered = span.count != 0 && deliver_window(line, span, delivery, destination);
  ring->discard(static_cast<uint32_t>(take));
  if (!delivered) return LineResult::kFailedCancel;
  const uint32_t raw_left = context.lines_to_read.load();
  context.lines_to_read.store(raw_left > f ? raw_left - f : 0);
  return LineResult::kDone;
}

}  // namespace qrx::imaging
