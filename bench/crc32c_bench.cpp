// CRC-32C throughput of both implementations, next to the speed of merely reading the same
// bytes (a sum of 64-bit words) as the baseline. Buffer sizes span in-cache (4 KiB, 64 KiB) to
// beyond-cache (16 MiB) working sets; callers in the program pass 1 MiB buffers or whole files.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "integrity/crc32c.h"

namespace {

// One buffer of random words per size, shared by all benchmarks, so the three passes over a
// size read the very same memory.
const std::vector<uint64_t>& buffer(std::size_t bytes) {
  static std::map<std::size_t, std::vector<uint64_t>> buffers;
  auto& b = buffers[bytes];
  if (b.empty()) {
    b.resize(bytes / 8);
    std::mt19937_64 rng(bytes);
    for (auto& w : b) w = rng();
  }
  return b;
}

void sizes(benchmark::internal::Benchmark* b) {
  for (int64_t n : {4 << 10, 64 << 10, 1 << 20, 16 << 20}) b->Arg(n);
}

void BM_PlainRead(benchmark::State& state) {
  const auto& b = buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    uint64_t sum = 0;
    for (uint64_t w : b) sum += w;
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PlainRead)->Apply(sizes);

void BM_Crc32cSoftware(benchmark::State& state) {
  const auto& b = buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    uint32_t crc = tamzel::Crc32cSoftware(0, b.data(), state.range(0));
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Crc32cSoftware)->Apply(sizes);

void BM_Crc32cHardware(benchmark::State& state) {
  if (!tamzel::Crc32cUseHardware) {
    state.SkipWithError("CPU without SSE4.2");
    return;
  }
  const auto& b = buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    uint32_t crc = tamzel::Crc32cHardware(0, b.data(), state.range(0));
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Crc32cHardware)->Apply(sizes);

}  // namespace
