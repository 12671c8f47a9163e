// Throughput of the whole processing pipeline over a folder of 4K 12-bit frames (walker, W
// workers, writer, checksum lists), against the single-thread encode rate of the same frames
// and against a plain copy of the same folder through 1 MiB buffers.
//
// The frames (8 x 4096 x 2160, 12-bit, realistic content) are made once per run in a temporary
// folder on the same file system as the outputs.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "dng/dng.h"
#include "engine/engine.h"
#include "engine/job_state.h"
#include "platform/platform.h"
#include "support/dng_writer.h"

namespace {

using namespace tamzel;

constexpr int kFrames = 8;
constexpr uint32_t kWidth = 4096;
constexpr uint32_t kHeight = 2160;

int removeOne(const char* path, const struct stat*, int, struct FTW*) {
  return ::remove(path);
}

struct FrameFolder {
  std::string base;
  std::string input;
  std::string output;
  std::vector<std::vector<uint8_t>> frames;
  uint64_t totalBytes = 0;

  FrameFolder() {
    char pattern[] = "/tmp/tamzel-pipeline-bench-XXXXXX";
    base = std::string(mkdtemp(pattern)) + "/";
    input = base + "in/";
    output = base + "out/";
    mkdir(input.c_str(), 0777);
    mkdir(output.c_str(), 0777);
    testing::FixtureOptions options;
    options.width = kWidth;
    options.height = kHeight;
    options.bitsPerSample = 12;
    for (int i = 0; i < kFrames; ++i) {
      std::vector<uint16_t> samples =
          testing::makeSamples(kWidth, kHeight, 12, testing::SamplePattern::Realistic, 1 + i);
      frames.push_back(testing::writeFixtureDng(options, samples));
      char name[64];
      std::snprintf(name, sizeof name, "A001_C001_%06d.dng", i);
      testing::writeFile(input + name, frames.back());
      totalBytes += frames.back().size();
    }
  }
  ~FrameFolder() { nftw(base.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS); }
};

FrameFolder& folder() {
  static FrameFolder* made = new FrameFolder();  // kept for the whole run, removed at exit
  static struct Cleanup {
    ~Cleanup() { delete made; }
  } cleanup;
  return *made;
}

void reportRates(benchmark::State& state, uint64_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations() * kFrames),
                                                  benchmark::Counter::kIsRate);
}

// The codec alone on one thread: what one worker can do.
void BM_SingleThreadEncode(benchmark::State& state) {
  FrameFolder& f = folder();
  RecompressWorkspace workspace;
  std::vector<uint8_t> out(recompressCapacity(f.frames[0].size()));
  uint64_t written = 0;
  for (auto _ : state) {
    for (const std::vector<uint8_t>& frame : f.frames) {
      RecompressResult r =
          recompressDng(frame.data(), frame.size(), false, workspace, out.data(), out.size());
      if (r.verdict != DngVerdict::Recompressible) state.SkipWithError("frame not recompressible");
      written += r.length;
    }
  }
  reportRates(state, f.totalBytes);
  state.counters["ratio"] =
      static_cast<double>(written) / static_cast<double>(state.iterations() * f.totalBytes);
}
BENCHMARK(BM_SingleThreadEncode)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole job: count, walk, W workers, writer, checksum lists; outputs overwritten each time.
void BM_Pipeline(benchmark::State& state) {
  FrameFolder& f = folder();
  const uint32_t workers = static_cast<uint32_t>(state.range(0));
  const PipelineSizes sizes = pipelineSizesForWorkers(workers);
  JobState job;
  PromptQueue* queue = nullptr;
  IssueLog* issues = nullptr;
  JobSettings settings;
  settings.Recurse = 1;
  settings.SkipExisting = 0;
  settings.CopyAll = 1;
  settings.GenerateChecks = 1;
  uint32_t compressed = 0;
  for (auto _ : state) {
    resetJobState(job, settings, false, queue, issues, "", nullptr);
    std::atomic<bool> done{false};
    std::thread ui([&] {  // nothing should ask; if something does, the run is void
      while (!done.load()) {
        answerPrompts(job, [&](const ErrorPrompt&) { return PromptAnswer::Abort; });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    runJob(f.input.c_str(), f.output.c_str(), job, &sizes, nullptr);
    done.store(true);
    ui.join();
    if (job.ErrorPrompts.load() != 0 || job.Abort.load())
      state.SkipWithError("the job asked or aborted");
    compressed = job.DngCompressed.load();
  }
  reportRates(state, f.totalBytes);
  state.counters["compressed"] = compressed;
  delete queue;
  delete issues;
}

void pipelineArguments(benchmark::internal::Benchmark* b) {
  unsigned threads = std::thread::hardware_concurrency();
  if (threads == 0) threads = 1;
  for (unsigned w = 1; w <= threads; ++w) b->Arg(w);
}
BENCHMARK(BM_Pipeline)->Apply(pipelineArguments)->Unit(benchmark::kMillisecond)->UseRealTime();

// A plain copy of the same folder through one 1 MiB buffer, each output brought to storage
// as the job's writer does (flush, sync and cache drop).
void BM_PlainCopy(benchmark::State& state) {
  FrameFolder& f = folder();
  void* buffer = platform::allocPageAligned(1048576);
  for (auto _ : state) {
    DIR* dir = opendir(f.input.c_str());
    while (dirent* e = readdir(dir)) {
      if (e->d_type != DT_REG) continue;
      std::FILE* in = std::fopen((f.input + e->d_name).c_str(), "rb");
      std::FILE* out = platform::openOutputFile((f.output + "copy_" + e->d_name).c_str());
      if (in == nullptr || out == nullptr) {
        state.SkipWithError("cannot open");
        break;
      }
      std::size_t got;
      while ((got = std::fread(buffer, 1, 1048576, in)) > 0) std::fwrite(buffer, 1, got, out);
      std::fclose(in);
      platform::finishOutputFile(out);
    }
    closedir(dir);
  }
  platform::freePageAligned(buffer);
  reportRates(state, f.totalBytes);
}
BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
