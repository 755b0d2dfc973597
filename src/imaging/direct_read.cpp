// The direct read (see direct_read.h).
#include "imaging/direct_read.h"

#include <vector>

#include "imaging/line_assembly.h"
#include "imaging/line_transforms.h"
#include "platform/memory.h"
#include "qrx7730.h"

namespace qrx::imaging {
namespace {

// Under light 8: up to size 16-bit samples from the file; output byte i is the high
// byte of sample size - 1 - i (the line reversed and cut to 8 bits). Samples the
// file no longer had count as 0.
ReadOutcome read_playback(transport::ScannerContext& context, uint8_t* destination, uint32_t size) {
  if (!context.playback_file) return {QRX_E_CALIBRATION_DATA};
  std::vector<uint8_t> samples;
  if (!platform::try_assign(samples, static_cast<size_t>(size) * 2, uint8_t{0})) {
    return {QRX_E_NOMEM_BUFFER};
  }
  if (size == 0 || std::fread(samples.data(), 2, size, context.playback_file.get()) == 0) {
    return {QRX_E_CALIBRATION_DATA};
  }
  for (uint32_t i = 0; i < size; ++i) destination[i] = samples[2 * (size - 1 - i) + 1];
  return {};
}

// The widening's depth: 16-bit samples when they were asked for 8- or 24-bit
// scans, else the depth as asked.
uint32_t half_resolution_depth(const ScanValues& values) {
  const uint32_t bits = values.stored.BitsPerPixel;
  if (values.wide_samples != 0) return bits == 24 || bits == 48 ? 48 : 16;
  return bits;
}

}  // namespace

ReadOutcome read_lines(transport::ScannerContext& context, const ScanValues& values,
                       uint8_t* destination, uint32_t size) {
  if (context.lamp_select == kPlaybackLight) return read_playback(context, destination, size);
  const uint32_t line = output_line_bytes(context, values);
  // Lines of another size than the caller was told would not fit its buffer: the
  // scan in the ring is not the one the scan values describe.
  if (line == 0 || line != values.line_bytes) return {QRX_E_LINE_ASSEMBLY};
  for (uint32_t i = 0; i < size / line; ++i) {
    const LineResult result = assemble_line(context, values, destination + size_t{i} * line);
    if (result != LineResult::kDone) {
      return {QRX_E_LINE_ASSEMBLY, result == LineResult::kFailedCancel};
    }
  }
  return {};
}

ReadOutcome direct_read(transport::ScannerContext& context, ScanValues& values, uint8_t* buffer,
                        uint32_t size) {
  const bool playback = context.lamp_select == kPlaybackLight;
  if (values.line_bytes == 0 || (!playback && !context.image_ring)) return {QRX_E_NO_SCAN};
  const bool half = values.half_x_res == 1;
  const uint32_t n = half ? size / 2 : size;
  if (n % values.line_bytes != 0) return {QRX_E_READ_SIZE};
  const uint32_t lines = n / values.line_bytes;
  if (!playback &&
      static_cast<uint64_t>(lines) * reduction(context).down > context.lines_to_read.load()) {
    return {QRX_E_READ_PAST_END};
  }

  if (half) {
    // One line at a time through the line buffer, each widened into its place.
    if (lines > 0 && context.read_half_line.size() < values.line_bytes &&
        !platform::try_resize(context.read_half_line, values.line_bytes)) {
      return {QRX_E_NOMEM_BUFFER};
    }
    const uint32_t depth = half_resolution_depth(values);
    for (uint32_t i = 0; i < lines; ++i) {
      const ReadOutcome outcome =
          read_lines(context, values, context.read_half_line.data(), values.line_bytes);
      if (outcome.status != QRX_OK) return outcome;
      if (!widen_half_resolution(context.read_half_line.data(), values.line_bytes, depth,
                                 buffer + size_t{i} * 2 * values.line_bytes)) {
        return {QRX_E_SCAN_MODE};
      }
    }
  } else {
    const ReadOutcome outcome = read_lines(context, values, buffer, n);
    if (outcome.status != QRX_OK) return outcome;
  }
  values.line_count = values.line_count > lines ? values.line_count - lines : 0;
  return {};
}

}  // namespace qrx::imaging
