// Fuzz target: ReadScan sizes against a running scan of the in-process scanner on
// a virtual clock (a scan costs no wall time beyond the work itself).
//
// Input: a mode byte (resolution 75/150/300/600, 8/16/24/48 bits, 16-bit samples,
// low-resolution oversampling; bit 6: a resolution pair off the ability list,
// which the library takes too: 100 dpi, whose shading file is "Unknown.shd", and
// vertical resolutions apart from the horizontal), a window byte (width in 1/32 inch, length in
// 1/64 inch), an offset byte, a flags byte (bit 0: GetDataStatus, which may arm the line filter, is
// called before the start as well as after it), then one or two bytes per ReadScan: a count of
// lines, and when its bit 3 is set a signed number of bytes more or less. The scan is stopped when
// the input ends, whatever lines are left. Each ReadScan gets a buffer of exactly the size it is
// given (the address sanitizer sees any write past it). A size that is not a whole number of lines
// is refused (so is more than one line while the line filter is armed), no more lines are delivered
// than the scan announced, and after StopScanEx the scanner is free and no thread is left.
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "api/library.h"
#include "fuzz_host.h"
#include "platform/thread.h"
#include "support/gated_clock.h"

namespace {

using namespace qrx;

test::GatedClock& gate() {
  static test::GatedClock clock;
  return clock;
}

void set_up() {
  static platform::ScopedClock installed(gate());
  gate().pace_while([] {
    const auto& reader = api::library().context.reader_thread;
    return reader && reader->exit_code() == platform::Thread::kStillActive;
  });
  fuzz::open_scanner(true);
  if (!SetLamp(nullptr, QRX_LAMP_FLATBED)) std::abort();
  // Calibrated once, so that no scan waits for a background calibration (which
  // never calibrates 100 dpi, a resolution off the ability list).
  for (uint16_t resolution : {100, 150, 300, 600}) {
    if (!DoCalibration(nullptr, 0, 0, resolution)) {
      std::fprintf(stderr, "calibration at %u dpi failed: 0x%04X\n", resolution,
                   fuzz::last_error());
      std::abort();
    }
  }
}

bool start_scan() {
  if (!StartScanEx(nullptr, nullptr)) return false;
  uint8_t status = 2;
  const auto since = std::chrono::steady_clock::now();
  while (status == 2) {
    if (!GetCalibrationStatus(nullptr, &status)) return false;
    if (std::chrono::steady_clock::now() - since > std::chrono::minutes(1)) {
      fuzz::fail("the background calibration never ended");
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (set_up(), true);
  (void)ready;
  fuzz::Bytes in(data, size);
  const uint8_t mode = in.u8(), window = in.u8(), offset = in.u8(), flags = in.u8();
  static const uint16_t kResolutions[] = {75, 150, 300, 600};
  static const uint16_t kOddResolutions[][2] = {{100, 100}, {150, 4800}, {300, 1200}, {600, 17664}};
  static const uint8_t kDepths[] = {8, 16, 24, 48};
  ScanParameter p{};
  p.xRes = p.yRes = kResolutions[mode & 3];
  if ((mode & 0x40) != 0) {
    p.xRes = kOddResolutions[mode & 3][0];
    p.yRes = kOddResolutions[mode & 3][1];
  }
  p.BitsPerPixel = kDepths[(mode >> 2) & 3];
  p.WideSamples = (mode >> 4) & 1;
  p.LowResOversample = (mode >> 5) & 1;
  const uint32_t x = offset & 15u, y = offset >> 4u, width = window & 15u, length = window >> 4u;
  p.ScanningArea = {x * 2048, y * 2048, (1 + width) * 300, (1 + length) * 150};
  if (!SetScanParameter(nullptr, &p)) fuzz::fail("a small window refused", fuzz::last_error());
  DataStatus announced{};
  if ((flags & 1) != 0 && !GetDataStatus(nullptr, &announced)) fuzz::fail("GetDataStatus");
  if (!start_scan()) fuzz::fail("the scan did not start", fuzz::last_error());
  if (!GetDataStatus(nullptr, &announced)) fuzz::fail("GetDataStatus");

  uint32_t delivered = 0;
  while (in.left() > 0 && delivered < announced.LinesLeft) {
    const uint8_t step = in.u8();
    int64_t bytes = int64_t{step & 7} * announced.LineBytes;
    if ((step & 8) != 0) bytes += static_cast<int8_t>(in.u8());
    if (bytes < 0) bytes = 0;
    std::vector<uint8_t> buffer(static_cast<size_t>(bytes));
    const bool whole = bytes % announced.LineBytes == 0;
    const uint64_t lines = static_cast<uint64_t>(bytes) / announced.LineBytes;
    const QRX_BOOL read = ReadScan(nullptr, nullptr, buffer.data(), static_cast<uint32_t>(bytes));
    if (read == QRX_TRUE) {
      if (!whole) fuzz::fail("a size of part of a line was read", bytes, announced.LineBytes);
      delivered += static_cast<uint32_t>(lines);
      if (delivered > announced.LinesLeft) fuzz::fail("lines past the end", delivered);
    } else {
      // With the line filter armed (from 1200 lines per inch) a read is exactly one
      // line: any other size, part-lines included, is refused as not one line.
      const uint16_t status = fuzz::last_error();
      const bool filtered = api::library().filter_armed != 0;
      const bool one_line = whole && lines == 1;
      if (status != QRX_E_READ_SIZE && status != QRX_E_READ_PAST_END &&
          !(filtered && !one_line && status == QRX_E_FILTER_LINE_SIZE)) {
        fuzz::fail("ReadScan failed", status, bytes);
      }
    }
  }
  if (!StopScanEx(nullptr, nullptr)) fuzz::fail("StopScanEx failed", fuzz::last_error());
  auto& lib = api::library();
  if (lib.status_block.busy() != 0) fuzz::fail("the busy flag is left set");
  if (lib.context.reader_thread) fuzz::fail("an image reader is left behind");
  return 0;
}
