// Tile encoding speed on a realistic 12-bit 256 x 270 tile (a smooth scene under a Bayer-like
// per-site gain plus sensor noise), measured in bytes of packed 12-bit input per second, next
// to a plain read of the same number of packed bytes as the baseline. The analysis of one
// plane with one predictor is measured on its own too: a tile costs six of them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dng/dng.h"

namespace {

constexpr uint32_t kWidth = 256;
constexpr uint32_t kLength = 270;
constexpr uint32_t kBits = 12;
constexpr int64_t kPackedBytes = int64_t{kWidth} * kLength * kBits / 8;

struct BenchTile {
  tamzel::EncoderScratch scratch;
  tamzel::TileLayout layout{1, 1, kWidth, kLength, 1};
  std::vector<uint8_t> packed;  // the same samples as 12-bit packed rows
  std::vector<uint8_t> out;

  BenchTile() {
    scratch.reserve(layout);
    std::mt19937 rng(2024);
    std::normal_distribution<double> noise(0.0, 6.0);
    const double gain[4] = {0.55, 1.0, 1.0, 0.7};
    std::vector<uint16_t> samples(std::size_t{kWidth} * kLength);
    for (uint32_t y = 0; y < kLength; ++y) {
      for (uint32_t x = 0; x < kWidth; ++x) {
        const double fx = double(x) / kWidth, fy = double(y) / kLength;
        const double scene =
            0.35 + 0.25 * std::sin(6.0 * fx) * std::cos(4.0 * fy) + 0.15 * std::sin(23.0 * fx * fy);
        const int site = (y & 1) * 2 + (x & 1);
        const double v = scene * gain[site] * 4095.0 + noise(rng);
        samples[std::size_t{y} * kWidth + x] =
            static_cast<uint16_t>(std::lround(std::clamp(v, 0.0, 4095.0)));
      }
    }
    const uint32_t columns = kWidth / 2;
    for (uint32_t y = 0; y < kLength; ++y) {
      for (uint32_t k = 0; k < columns; ++k) {
        const uint16_t s0 = samples[std::size_t{y} * kWidth + 2 * k];
        const uint16_t s1 = samples[std::size_t{y} * kWidth + 2 * k + 1];
        scratch.samples[0][std::size_t{y} * columns + k] = s0;
        scratch.samples[1][std::size_t{y} * columns + k] = s1;
        packed.push_back(static_cast<uint8_t>(s0 >> 4));
        packed.push_back(static_cast<uint8_t>((s0 & 0x0F) << 4 | s1 >> 8));
        packed.push_back(static_cast<uint8_t>(s1));
      }
    }
    out.resize(std::size_t{kWidth} * kLength * 8 + 4096);
  }
};

BenchTile& tile() {
  static BenchTile t;
  return t;
}

void BM_PlainReadTileBytes(benchmark::State& state) {
  const std::vector<uint8_t>& packed = tile().packed;
  for (auto _ : state) {
    uint64_t sum = 0;
    const uint8_t* p = packed.data();
    for (std::size_t i = 0; i + 8 <= packed.size(); i += 8) {
      uint64_t w;
      __builtin_memcpy(&w, p + i, 8);
      sum += w;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * kPackedBytes);
}
BENCHMARK(BM_PlainReadTileBytes);

void BM_EncodeTile12Bit(benchmark::State& state) {
  BenchTile& t = tile();
  std::size_t length = 0;
  for (auto _ : state) {
    length = tamzel::encodeTile(t.scratch, kBits, t.layout, t.out.data(), t.out.size(), 0);
    benchmark::DoNotOptimize(length);
    benchmark::ClobberMemory();
  }
  if (length == 0) state.SkipWithError("tile did not encode");
  state.SetBytesProcessed(state.iterations() * kPackedBytes);
  state.counters["ratio"] = double(length) / double(kPackedBytes);
}
BENCHMARK(BM_EncodeTile12Bit);

void BM_AnalysePlane(benchmark::State& state) {
  BenchTile& t = tile();
  const int predictor = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const tamzel::ComponentAnalysis a =
        tamzel::analyseComponent(t.scratch.samples[0], kWidth / 2, kLength, predictor, 2048,
                                 t.scratch.differences[0][0], t.scratch.categories[0][0]);
    benchmark::DoNotOptimize(a.estimate);
    benchmark::ClobberMemory();
  }
  // One plane is half the tile's samples.
  state.SetBytesProcessed(state.iterations() * kPackedBytes / 2);
}
BENCHMARK(BM_AnalysePlane)->Arg(1)->Arg(4)->Arg(5);

}  // namespace
