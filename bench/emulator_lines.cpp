// Line production speed of the emulated scanner, through its USB port as the image
// reader uses it: 48-bit lines at 2400 dpi (full sensor width) and 24-bit lines at
// 600 dpi, in bytes per second, with a memcpy of the same bytes timed in the same run
// (counter "x_memcpy" = emulator time / memcpy time for the same bytes).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "emulator/scanner.h"
#include "platform/clock.h"

namespace {

using qrx::emu::Scanner;

struct Port {
  Scanner& s;
  void write(uint8_t reg, uint8_t v) {
    const uint8_t d[2] = {reg, v};
    s.control_out(0x83, 0, d, 2);
  }
  void write16(uint8_t reg, uint32_t v) {
    write(reg, uint8_t(v >> 8));
    write(uint8_t(reg + 1), uint8_t(v));
  }
  void write24(uint8_t reg, uint32_t v) {
    write(reg, uint8_t(v >> 16));
    write16(uint8_t(reg + 1), v & 0xFFFF);
  }
  bool read(uint8_t* data, uint32_t count) {
    const uint8_t h[8] = {0, 0, 0, 0x10, uint8_t(count), uint8_t(count >> 8), uint8_t(count >> 16),
                          uint8_t(count >> 24)};
    if (!s.control_out(0x82, 0, h, 8)) return false;
    while (count > 0) {
      uint32_t moved = 0;
      if (!s.bulk_in(data, count < 61440 ? count : 61440, moved) || moved == 0) return false;
      data += moved;
      count -= moved;
    }
    return true;
  }
};

// A standing pass of many lines: resolution, depth 48 or 24, window in 2400 dpi units.
void bench_lines(benchmark::State& state, uint32_t resolution, bool wide, uint32_t width) {
  qrx::platform::VirtualClock clock;
  std::string error;
  auto scanner = Scanner::create(qrx::emu::Options{}, error, &clock);
  if (!scanner) {
    state.SkipWithError(error.c_str());
    return;
  }
  scanner->set_trace_capacity(0);
  Port port{*scanner};
  const uint32_t sensor = resolution <= 600 ? 600 : resolution <= 1200 ? 1200 : 2400;
  const uint32_t pixels = resolution * width / 2400;
  const uint32_t line_period = 20000;
  port.write(0x02, 0);  // no motor
  port.write(0x1C, 0);
  port.write(0x1E, 0);
  port.write24(0x25, 1000000 * 3 + 6);
  port.write16(0x38, line_period);
  port.write16(0x2C, resolution);
  port.write(0x05, uint8_t((sensor == 600 ? 0 : sensor == 1200 ? 1 : 2) << 6));
  port.write16(0x30, 320);
  port.write16(0x32, 320 + pixels * sensor / resolution);
  port.write(0x04, wide ? 0x40 : 0x00);
  port.write(0x03, 0x10);
  for (uint8_t r : {0x10, 0x12, 0x14}) port.write16(r, 8000);
  port.write(0x01, 0x01);
  port.write(0x0F, 0xFF);
  const uint32_t line_bytes = pixels * 3 * (wide ? 2 : 1);
  const uint32_t lines = 16;
  const uint64_t line_us = uint64_t{line_period} * 3 * 4 / 15 + 1;
  std::vector<uint8_t> data(size_t{line_bytes} * lines), copy(data.size());
  uint64_t bytes = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    clock.advance_us(line_us * lines);
    if (!port.read(data.data(), line_bytes * lines)) {
      state.SkipWithError("bulk read failed");
      return;
    }
    benchmark::DoNotOptimize(data.data());
    bytes += data.size();
  }
  const double emulator_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  // memcpy of the same bytes, timed here so the ratio compares one run.
  const auto t0 = std::chrono::steady_clock::now();
  for (uint64_t done = 0; done < bytes; done += data.size()) {
    std::memcpy(copy.data(), data.data(), data.size());
    benchmark::ClobberMemory();
  }
  const double memcpy_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  state.counters["memcpy_bytes_per_second"] = benchmark::Counter(static_cast<double>(bytes) / memcpy_s);
  state.counters["x_memcpy"] = memcpy_s > 0 ? emulator_s / memcpy_s : 0;
  state.counters["line_bytes"] = line_bytes;
}

void BM_Lines48Bit2400Dpi(benchmark::State& state) { bench_lines(state, 2400, true, 20544); }
void BM_Lines24Bit600Dpi(benchmark::State& state) { bench_lines(state, 600, false, 20416 + 128); }

BENCHMARK(BM_Lines48Bit2400Dpi)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Lines24Bit600Dpi)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
