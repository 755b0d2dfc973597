// CalibrationLines (see acquisition.h).
#include "calibration/acquisition.h"

#include <algorithm>
#include <cstring>

#include "pass/carriage.h"
#include "pass/motor_plan.h"
#include "pass/scan_program.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "qrx7730.h"
#include "transport/registers.h"

namespace qrx::calibration {
namespace {

constexpr uint32_t kChunkBytes = 61424;
constexpr uint32_t kPollMs = 10;
constexpr uint8_t kLine10 = 10;

pass::ScanSetup setup_of(const transport::ScannerContext& context, const AcquisitionRequest& r) {
  pass::ScanSetup s;
  s.x_resolution = s.y_resolution = r.resolution;
  s.bit_depth = r.bits_per_pixel;
  s.light_source = r.light_source;
  s.feed_steps = r.feed_steps;
  s.window_x = r.start_pixel;
  s.window_width = r.width;
  s.lines = r.line_count;
  s.channels = r.channels;
  s.port_type = static_cast<uint8_t>(r.port_type);
  s.exposure = r.exposure;
  s.shading_on = 0;  // calibration reads never use the shading memory
  s.no_motor = r.no_motor;
  s.oversampling = context.low_res_oversample;
  s.gamma_on = (r.shading_pass || r.bits_per_pixel == 48) ? 0 : 1;
  s.fast_feed = 1;
  s.lamp_on = r.led_on;
  s.shading_pass = r.shading_pass ? 1 : 0;
  return s;
}

bool stop_asked(const transport::ScannerContext& context) {
  return context.calibration_stop.load() != 0;
}

// Ends a pass that was stopped half-way: scan enable cleared (the pass ends where
// it stands), the motor let stop, line 10 back on. What the controller still
// buffers is cleared by the next motor start.
void end_stopped_pass(transport::ScannerContext& context) {
  transport::write_bit_field(context.link, transport::reg::kScanControl, 0, 0, 0);
  pass::wait_for_stop(context);
  transport::set_line(context.link, kLine10, 1);
}

// Pulls total bytes from the controller as it buffers them.
uint16_t pull_lines(transport::ScannerContext& context, uint8_t* raw, uint32_t total) {
  platform::Clock& clock = platform::clock();
  uint32_t remaining = total;
  uint32_t last_progress = clock.ticks_ms();
  while (remaining > 0) {
    if (stop_asked(context)) return QRX_E_NO_SCAN;
    uint32_t units = 0;
    if (!transport::read_register32(context.link, transport::reg::kBufferedData, units)) {
      return QRX_E_ACQUIRE_COUNT;
    }
    const uint64_t buffered = static_cast<uint64_t>(units) * 2;
    const uint32_t chunk =
        static_cast<uint32_t>(std::min<uint64_t>({buffered, remaining, kChunkBytes}));
    if (chunk == 0) {
      if (clock.ticks_ms() - last_progress > kDataSilenceLimitMs) return QRX_E_ACQUIRE_DATA;
      clock.sleep_ms(kPollMs);
      continue;
    }
    if (!transport::read_image_data(context.link, raw, chunk)) return QRX_E_ACQUIRE_DATA;
    raw += chunk;
    remaining -= chunk;
    last_progress = clock.ticks_ms();
  }
  return QRX_OK;
}

}  // namespace

uint16_t calibration_lines(transport::ScannerContext& context,
                           const settings::ScannerSetting& setting,
                           const AcquisitionRequest& request, std::vector<uint8_t>& lines) {
  if (stop_asked(context)) return QRX_E_NO_SCAN;
  uint16_t status = pass::wait_for_stop(context);
  if (status != QRX_OK) return status;

  const pass::ScanSetup image = setup_of(context, request);
  pass::ScanSetup read = image;
  status = pass::program_scan(context, setting, image, read);
  if (status != QRX_OK) return status;

  if (!transport::set_line(context.link, kLine10, 0)) return QRX_E_ACQUIRE_LINE10;
  status = pass::start_motor(context);
  if (status != QRX_OK) return status;

  const uint32_t raw_line = context.read_line_bytes;
  const uint32_t delivered_line = context.image_line_bytes;
  const uint64_t total = static_cast<uint64_t>(raw_line) * request.line_count;
  std::vector<uint8_t> raw;
  if (total > UINT32_MAX || !platform::try_resize(raw, total)) return QRX_E_NOMEM_BUFFER;
  status = pull_lines(context, raw.data(), static_cast<uint32_t>(total));
  if (status == QRX_E_NO_SCAN) end_stopped_pass(context);
  if (status != QRX_OK) return status;

  std::vector<uint8_t> delivered;
  if (!platform::try_resize(delivered, static_cast<size_t>(delivered_line) * request.line_count)) {
    return QRX_E_NOMEM_LINES;
  }
  // Each channel block of a raw line may end in fill bytes: keep the first
  // delivered/channels bytes of every block.
  const uint32_t channels = std::max<uint32_t>(request.channels, 1);
  const uint32_t raw_block = raw_line / channels;
  const uint32_t kept_block = std::min(delivered_line / channels, raw_block);
  for (uint32_t l = 0; l < request.line_count; ++l) {
    for (uint32_t k = 0; k < channels; ++k) {
      const uint64_t block = k + static_cast<uint64_t>(l) * channels;
      std::memcpy(delivered.data() + (delivered_line / channels) * block,
                  raw.data() + raw_block * block, kept_block);
    }
  }
  raw = std::vector<uint8_t>();

  if (!transport::set_line(context.link, kLine10, 1)) return QRX_E_ACQUIRE_LINE10;
  if (request.return_home) {
    status = pass::return_home(context, setting, true, false);
    if (status != QRX_OK) return status;
  }
  status = pass::wait_for_stop(context);
  if (status != QRX_OK) return status;
  lines = std::move(delivered);
  return QRX_OK;
}

}  // namespace qrx::calibration
