// Speed of the reference-line reduction of shading: a 48-line block of 48-bit lines
// at 2400 dpi (3 x 20544 sample positions) reduced to one line of trimmed means,
// with the white cuts (5 % / 45 %: 2 high, 21 low) and the dark cuts (20 % / 20 %:
// 9 and 9). Reported as input bytes per second, with a memcpy of the same bytes
// timed in the same run: counter "of_memcpy" = reduction bandwidth / memcpy
// bandwidth. The narrower vector kernels (the ones other processors and Windows run)
// and a column-at-a-time reduction through trimmed_mean are measured beside it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "calibration/shading_math.h"
#include "calibration/shading_math_kernels.h"

namespace {

constexpr uint32_t kLines = 48;
constexpr uint32_t kSamples = 3 * 20544;
constexpr size_t kBytes = size_t{kLines} * kSamples * 2;

// Reference lines like the sensor's: a per-pixel level with noise and rare outliers.
std::vector<uint8_t> make_block(uint16_t level, uint16_t spread) {
  std::mt19937 random(7730);
  std::uniform_int_distribution<int> pixel(-int{spread}, int{spread});
  std::uniform_int_distribution<int> noise(-64, 64);
  std::uniform_int_distribution<int> outlier(0, 199);
  std::vector<int> base(kSamples);
  for (int& b : base) b = level + pixel(random);
  std::vector<uint8_t> block(kBytes);
  for (uint32_t l = 0; l < kLines; ++l) {
    for (uint32_t i = 0; i < kSamples; ++i) {
      int v = base[i] + noise(random);
      if (outlier(random) == 0) v = outlier(random) < 100 ? 0 : 65535;
      v = std::clamp(v, 0, 65535);
      const size_t at = (size_t{l} * kSamples + i) * 2;
      block[at] = static_cast<uint8_t>(v);
      block[at + 1] = static_cast<uint8_t>(v >> 8);
    }
  }
  return block;
}

template <class Reduce>
void run(benchmark::State& state, const std::vector<uint8_t>& block, Reduce reduce) {
  std::vector<uint16_t> line(kSamples);
  uint64_t bytes = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (!reduce(block.data(), line.data())) {
      state.SkipWithError("reduction failed");
      return;
    }
    benchmark::DoNotOptimize(line.data());
    benchmark::ClobberMemory();
    bytes += kBytes;
  }
  const double reduce_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  // memcpy of the same bytes, timed here so that the ratio compares one run.
  std::vector<uint8_t> copy(kBytes);
  const auto t0 = std::chrono::steady_clock::now();
  for (uint64_t done = 0; done < bytes; done += kBytes) {
    std::memcpy(copy.data(), block.data(), kBytes);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  const double memcpy_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  state.counters["memcpy_bytes_per_second"] =
      benchmark::Counter(memcpy_s > 0 ? static_cast<double>(bytes) / memcpy_s : 0);
  state.counters["of_memcpy"] = reduce_s > 0 ? memcpy_s / reduce_s : 0;
}

void BM_WhiteCuts(benchmark::State& state) {
  static const std::vector<uint8_t> block = make_block(52000, 3000);
  run(state, block, [](const uint8_t* data, uint16_t* out) {
    return qrx::calibration::average_lines({data, kLines, kSamples}, 5, 45, out);
  });
}

void BM_DarkCuts(benchmark::State& state) {
  static const std::vector<uint8_t> block = make_block(2000, 400);
  run(state, block, [](const uint8_t* data, uint16_t* out) {
    return qrx::calibration::average_lines({data, kLines, kSamples}, 20, 20, out);
  });
}

void white_cuts_with(benchmark::State& state, qrx::calibration::AverageKernel kernel) {
  if (!qrx::calibration::average_kernel_available(kernel)) {
    state.SkipWithError("this processor lacks the kernel");
    return;
  }
  static const std::vector<uint8_t> block = make_block(52000, 3000);
  run(state, block, [kernel](const uint8_t* data, uint16_t* out) {
    return qrx::calibration::average_lines_with(kernel, {data, kLines, kSamples}, 5, 45, out);
  });
}
void BM_WhiteCutsVector32(benchmark::State& state) {
  white_cuts_with(state, qrx::calibration::AverageKernel::kVector32);
}
void BM_WhiteCutsVector16Sse41(benchmark::State& state) {
  white_cuts_with(state, qrx::calibration::AverageKernel::kVector16Sse41);
}
void BM_WhiteCutsVector16(benchmark::State& state) {
  white_cuts_with(state, qrx::calibration::AverageKernel::kVector16);
}

// The straightforward way: gather each column, trimmed_mean it.
void BM_WhiteCutsColumnByColumn(benchmark::State& state) {
  static const std::vector<uint8_t> block = make_block(52000, 3000);
  run(state, block, [](const uint8_t* data, uint16_t* out) {
    uint16_t column[kLines];
    for (uint32_t i = 0; i < kSamples; ++i) {
      for (uint32_t l = 0; l < kLines; ++l) {
        const uint8_t* p = data + (size_t{l} * kSamples + i) * 2;
        column[l] = static_cast<uint16_t>(p[0] | (p[1] << 8));
      }
      out[i] = qrx::calibration::trimmed_mean(column, kLines, kLines * 5 / 100, kLines * 45 / 100);
    }
    return true;
  });
}

BENCHMARK(BM_WhiteCuts)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DarkCuts)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WhiteCutsVector32)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WhiteCutsVector16Sse41)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WhiteCutsVector16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WhiteCutsColumnByColumn)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
