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

// Read pixels (or lines) per asked one in one direction: only for the low
// resolutions that are read higher.
uint32_t factor_of(uint32_t read, uint32_t asked) {
  if (read >= kReducedBelow || asked == 0 || read % asked != 0) return 1;
  const uint32_t f = read / asked;
  return f == 2 || f == 4 ? f : 1;
}

// Whether the lead-in is cut before the reduction: for every reduced line in pixel
// order, so that the pixels combined are those of the window and not half a
// delivered pixel to its left (the lead-in need not be a whole number of them).
// Lines in segments are only reduced down, sample by sample, and cropped after.
bool lead_cut_first(const transport::ScannerContext& context, Reduction f) {
  return (f.across > 1 || f.down > 1) && context.scan_x_res < kSegmentedResolution;
}

// The window's pixels at the resolution delivered across.
CropSpan window_span(const transport::ScannerContext& context, Reduction f) {
  const uint32_t resolution = context.scan_x_res / f.across;
  if (lead_cut_first(context, f)) {
    return CropSpan{0, crop_span(0, context.window.width, resolution, 0).count};
  }
  // At 1200 dpi and above the scanner sends the whole sensor width in segments;
  // below, it has already placed the window and only the lead-in is cut off.
  const uint32_t start = context.scan_x_res >= kSegmentedResolution ? context.window.x : 0;
  return crop_span(start, context.window.width, resolution, context.board_variant);
}

}  // namespace

Reduction reduction(const transport::ScannerContext& context) {
  return Reduction{factor_of(context.scan_x_res, context.output_x_res),
                   factor_of(context.scan_y_res, context.output_y_res)};
}

uint32_t output_line_bytes(const transport::ScannerContext& context, const ScanValues& values) {
  const CropSpan span = window_span(context, reduction(context));
  const uint32_t samples =
      context.gray_from_color != 0 ? 1u : std::min<uint32_t>(context.color_channels, 3);
  const uint64_t bytes = static_cast<uint64_t>(span.count) * samples *
                         sample_bytes_of(context.bit_depth) * (widens(context, values) ? 2 : 1);
  return bytes > UINT32_MAX ? 0 : static_cast<uint32_t>(bytes);
}

LineResult assemble_line(transport::ScannerContext& context, const ScanValues& values,
                         uint8_t* destination) {
  const Reduction f = reduction(context);
  const bool reduced = f.across > 1 || f.down > 1;
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
  const uint64_t take = static_cast<uint64_t>(raw_bytes) * f.down;
  if (take > UINT32_MAX || !ensure(context.read_wrap, take) ||
      (reduced && !ensure(context.read_reduced, raw_bytes / f.across))) {
    return LineResult::kFailed;
  }

  if (!wait_for_data(context, *ring, static_cast<uint32_t>(take))) return LineResult::kFailedCancel;
  // The raw lines are worked on where they lie in the ring (copied only when they
  // cross its end) and dropped once this line is made.
  const uint8_t* raw = ring->peek(static_cast<uint32_t>(take), context.read_wrap.data());
  if (raw == nullptr) return LineResult::kFailedCancel;
  RawLine line{raw, raw_bytes, channels, sample_bytes, 1};
  if (reduced) {
    const uint32_t skip =
        lead_cut_first(context, f) ? lead_in_pixels(context.scan_x_res, context.board_variant) : 0;
    line.size = box_reduce(line, f, skip, context.read_reduced.data());
    line.data = context.read_reduced.data();
  }
  if (context.scan_x_res >= kSegmentedResolution) {
    line.segments = context.scan_x_res / kSegmentedResolution * 2;
  }
  const CropSpan span = window_span(context, f);
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
  context.lines_to_read.store(raw_left > f.down ? raw_left - f.down : 0);
  return LineResult::kDone;
}

}  // namespace qrx::imaging
