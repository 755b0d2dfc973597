// Speed of the read path's line assembly: raw lines taken from a filled 2 MiB image
// ring and turned into the caller's pixels, in raw bytes per second, with a memcpy
// of the same bytes (line by line out of the same ring, filled the same way) timed
// in the same run: counter "of_memcpy" = memcpy time / assembly time, both in the
// processor time of the benchmark's thread, so that other work on the machine does
// not tilt the ratio.
//   Colour24At600: 24-bit, 600 dpi, an A4-wide window (crop and interleave).
//   Colour48At2400: 48-bit, 2400 dpi, the whole glass width (segments put in pixel
//     order, crop, interleave, the 16-bit gamma tables), samples of uniform noise;
//     Colour48At2400Page the same with samples like a scanned page.
//   GreyFromColourWideAt150: 8-bit grey read as 24-bit colour at 150 dpi, the green
//     channel widened to 16 bits through its expansion curve.
//   Colour24At75From300: 24-bit, 75 dpi read at 300 dpi both ways, an A4-wide
//     window (the 4 x 4 box reduction, then crop and interleave).
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstring>
#include <memory>
#include <vector>

#include "imaging/image_ring.h"
#include "imaging/line_assembly.h"
#include "imaging/scan_values.h"
#include "platform/thread.h"
#include "transport/scanner_context.h"

namespace {

using qrx::imaging::ImageRing;

// An A4 sheet is 210 mm wide: 19843 units of 1/2400 inch.
constexpr uint32_t kA4Width = 19843;
constexpr uint32_t kGlassWidth = 20416;
constexpr uint32_t kSensorPixels = 20544;

struct Mode {
  uint16_t resolution;
  uint8_t depth;
  uint32_t window_width;  // 2400 dpi units
  uint32_t gray_from_color;
  uint32_t wide;
  bool page = false;    // samples like a scanned page instead of uniform noise
  uint32_t reduce = 1;  // read pixels (and lines) per delivered one
};

// Uniform noise: every table lookup lands anywhere (the worst case for the tables'
// cache lines). A page: paper white with sensor noise and a dark stroke every 40
// pixels, as a scanned document gives.
uint32_t sample_value(size_t i, bool page, bool wide) {
  const uint32_t hash = static_cast<uint32_t>(i * 2654435761u);
  if (!page) return wide ? hash >> 16 : hash >> 24;
  const bool ink = i % 40 < 6;
  const uint32_t level = ink ? 5000 : 58000;
  const uint32_t v = level + (hash >> 22);  // noise of 0..1023
  return wide ? v : v >> 8;
}

struct Bench {
  explicit Bench(const Mode& mode) {
    auto& c = context;
    c.output_x_res = c.output_y_res = mode.resolution;
    c.scan_x_res = c.scan_y_res = mode.resolution * mode.reduce;
    c.bit_depth = mode.depth;
    c.color_channels = 3;
    c.gray_from_color = mode.gray_from_color;
    c.lamp_select = 1;
    c.window.x = 0;
    c.window.width = mode.window_width;
    const uint32_t unit = 2400 / c.scan_x_res;
    const uint32_t sample = mode.depth == 48 ? 2 : 1;
    uint32_t pixels =
        c.scan_x_res >= 1200 ? kSensorPixels / unit : (mode.window_width + 128) / unit;
    pixels += pixels & 1;
    c.read_line_bytes = pixels * 3 * sample;
    values.wide_samples = mode.wide;
    out_bytes = qrx::imaging::output_line_bytes(c, values);
    values.line_bytes = out_bytes;
    for (uint32_t ch = 0; ch < 3; ++ch) {
      c.gamma_table[ch].resize(65536);
      for (uint32_t i = 0; i < 65536; ++i) c.gamma_table[ch][i] = static_cast<uint16_t>(65535 - i);
      c.expand_table[ch].resize(256);
      for (uint32_t i = 0; i < 256; ++i) c.expand_table[ch][i] = static_cast<uint16_t>(i * 257);
    }
    ring = std::make_shared<ImageRing>();
    ring->create(qrx::imaging::kScanRingBytes);
    c.image_ring = ring;
    c.reader_thread = qrx::platform::Thread::start(
        +[](void*) -> uint32_t { return 1; }, nullptr);
    c.reader_thread->join();
    lines_per_fill = qrx::imaging::kScanRingBytes / c.read_line_bytes / mode.reduce * mode.reduce;
    lines_out = lines_per_fill / mode.reduce;
    raw.resize(size_t{lines_per_fill} * c.read_line_bytes);
    const bool wide = sample == 2;
    for (size_t i = 0; i < raw.size() / sample; ++i) {
      const uint32_t v = sample_value(i, mode.page, wide);
      raw[i * sample] = static_cast<uint8_t>(v);
      if (wide) raw[i * sample + 1] = static_cast<uint8_t>(v >> 8);
    }
    out.resize(out_bytes);
  }

  qrx::transport::ScannerContext context;
  qrx::imaging::ScanValues values;
  std::shared_ptr<ImageRing> ring;
  uint32_t out_bytes = 0;
  uint32_t lines_per_fill = 0;  // raw lines
  uint32_t lines_out = 0;       // delivered lines made of them
  std::vector<uint8_t> raw;
  std::vector<uint8_t> out;
};

// Processor time of this thread: other processes on the machine do not count.
double thread_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void run(benchmark::State& state, const Mode& mode) {
  Bench b(mode);
  const uint32_t line_bytes = b.context.read_line_bytes;
  std::vector<uint8_t> copy(line_bytes);
  uint64_t bytes = 0;
  double assembly_s = 0;
  double memcpy_s = 0;
  for (auto _ : state) {
    state.PauseTiming();
    b.ring->write(b.raw.data(), static_cast<uint32_t>(b.raw.size()));
    b.context.lines_to_read.store(b.lines_per_fill);
    state.ResumeTiming();
    const double t0 = thread_seconds();
    for (uint32_t l = 0; l < b.lines_out; ++l) {
      if (qrx::imaging::assemble_line(b.context, b.values, b.out.data()) !=
          qrx::imaging::LineResult::kDone) {
        state.SkipWithError("a line could not be assembled");
        return;
      }
      benchmark::DoNotOptimize(b.out.data());
    }
    assembly_s += thread_seconds() - t0;
    bytes += uint64_t{b.lines_per_fill} * line_bytes;

    // The same bytes, from the same place, copied line by line.
    state.PauseTiming();
    b.ring->write(b.raw.data(), static_cast<uint32_t>(b.raw.size()));
    const double t1 = thread_seconds();
    for (uint32_t l = 0; l < b.lines_per_fill; ++l) {
      b.ring->read(copy.data(), line_bytes);
      benchmark::DoNotOptimize(copy.data());
      benchmark::ClobberMemory();
    }
    memcpy_s += thread_seconds() - t1;
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["assembly_bytes_per_cpu_second"] =
      benchmark::Counter(assembly_s > 0 ? static_cast<double>(bytes) / assembly_s : 0);
  state.counters["memcpy_bytes_per_cpu_second"] =
      benchmark::Counter(memcpy_s > 0 ? static_cast<double>(bytes) / memcpy_s : 0);
  state.counters["of_memcpy"] = assembly_s > 0 ? memcpy_s / assembly_s : 0;
}

void BM_Colour24At600(benchmark::State& state) {
  run(state, Mode{600, 24, kA4Width, 0, 0});
}
void BM_Colour48At2400(benchmark::State& state) {
  run(state, Mode{2400, 48, kGlassWidth, 0, 0});
}
void BM_Colour48At2400Page(benchmark::State& state) {
  run(state, Mode{2400, 48, kGlassWidth, 0, 0, true});
}
void BM_GreyFromColourWideAt150(benchmark::State& state) {
  run(state, Mode{150, 24, kA4Width, 1, 1});
}

void BM_Colour24At75From300(benchmark::State& state) {
  run(state, Mode{75, 24, kA4Width, 0, 0, false, 4});
}

BENCHMARK(BM_Colour24At600)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Colour48At2400)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Colour48At2400Page)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GreyFromColourWideAt150)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Colour24At75From300)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
