// Speed of the whole per-file recompression on one worker thread, for a 4096 x 2160 12-bit
// CinemaDNG frame with realistic content: structure, tile grid, unpacking, lossless JPEG
// encoding of every tile and assembly of the output file. Reported as input bytes per second
// (per core, since one call runs on one thread) with the compression ratio as a counter, next to
// the speed of merely reading the same input bytes.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dng/dng.h"
#include "platform/platform.h"
#include "support/dng_writer.h"

namespace {

constexpr uint32_t kWidth = 4096;
constexpr uint32_t kHeight = 2160;
constexpr uint16_t kBits = 12;

const std::vector<uint8_t>& frame() {
  static const std::vector<uint8_t> file = [] {
    tamzel::testing::FixtureOptions options;
    options.width = kWidth;
    options.height = kHeight;
    options.bitsPerSample = kBits;
    const auto samples = tamzel::testing::makeSamples(kWidth, kHeight, kBits,
                                                      tamzel::testing::SamplePattern::Realistic);
    return tamzel::testing::writeFixtureDng(options, samples);
  }();
  return file;
}

// A page-aligned output buffer like the program's pool buffers, touched once so page faults
// stay out of the timing.
struct OutputBuffer {
  explicit OutputBuffer(std::size_t n)
      : data(static_cast<uint8_t*>(tamzel::platform::allocPageAligned(n))), size(n) {
    if (data) std::memset(data, 0, size);
  }
  ~OutputBuffer() { tamzel::platform::freePageAligned(data); }
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
  uint8_t* data;
  std::size_t size;
};

// Baseline: one pass reading the input frame as 64-bit words.
void BM_FramePlainRead(benchmark::State& state) {
  const auto& in = frame();
  const std::size_t words = in.size() / 8;
  for (auto _ : state) {
    uint64_t sum = 0;
    for (std::size_t i = 0; i < words; ++i) {
      uint64_t w;
      std::memcpy(&w, in.data() + 8 * i, sizeof w);
      sum += w;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_FramePlainRead)->Unit(benchmark::kMillisecond);

// Argument: Premiere CC compatible tile grid (1) or the normal one (0).
void BM_RecompressFrame(benchmark::State& state) {
  const auto& in = frame();
  const bool premiere = state.range(0) != 0;
  OutputBuffer out(tamzel::recompressCapacity(in.size()));
  if (!out.data) {
    state.SkipWithError("out of memory");
    return;
  }
  tamzel::RecompressWorkspace workspace;
  tamzel::RecompressResult result;
  for (auto _ : state) {
    result = tamzel::recompressDng(in.data(), in.size(), premiere, workspace, out.data, out.size);
    benchmark::DoNotOptimize(result.length);
    benchmark::ClobberMemory();
  }
  if (result.verdict != tamzel::DngVerdict::Recompressible || result.length == 0) {
    const std::string why =
        "frame not recompressed: " + tamzel::describeVerdict(result.verdict, result.info);
    state.SkipWithError(why.c_str());
    return;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["ratio"] = static_cast<double>(in.size()) / static_cast<double>(result.length);
  state.counters["in_bytes"] = static_cast<double>(in.size());
  state.counters["out_bytes"] = static_cast<double>(result.length);
  state.counters["tiles"] = static_cast<double>(result.layout.tileCount);
}
BENCHMARK(BM_RecompressFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
