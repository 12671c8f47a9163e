// Helpers for tests that run whole jobs: fixture frames, the codec's expected output, a job run
// with a watchdog, and a reader for the checksum lists a job wrote.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "dng/dng.h"
#include "engine/engine.h"
#include "engine_test_support.h"
#include "integrity/crc32c.h"
#include "support/dng_writer.h"

namespace tamzel::enginetest {

inline std::vector<uint8_t> dngFrame(
    uint32_t width = 64, uint32_t height = 32,
    testing::SamplePattern pattern = testing::SamplePattern::Gradient, uint32_t seed = 1,
    uint16_t bits = 16) {
  testing::FixtureOptions options;
  options.width = width;
  options.height = height;
  options.bitsPerSample = bits;
  return testing::writeFixtureDng(options,
                                  testing::makeSamples(width, height, bits, pattern, seed));
}

// What the job must write for `input`: the recompressed form, or the input itself when the
// codec passes it on.
inline std::vector<uint8_t> expectedOutput(const std::vector<uint8_t>& input, bool premiere) {
  RecompressWorkspace workspace;
  std::vector<uint8_t> out(recompressCapacity(input.size()));
  RecompressResult result =
      recompressDng(input.data(), input.size(), premiere, workspace, out.data(), out.size());
  if (result.verdict != DngVerdict::Recompressible) return input;
  out.resize(result.length);
  return out;
}

inline uint32_t crcOf(const std::vector<uint8_t>& bytes) {
  return Crc32c(0, bytes.data(), bytes.size());
}

// name -> checksum of the list in `folder` (empty when there is none). Duplicate names count
// as a failure of the caller's expectations, so they are kept as "name#2".
inline std::map<std::string, uint32_t> readList(const std::string& folder) {
  std::map<std::string, uint32_t> entries;
  std::string text = readText(folder + "checksum.tz");
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      ADD_FAILURE() << "list line without LF in " << folder;
      break;
    }
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.size() < 10 || line[8] != '\t') {
      ADD_FAILURE() << "malformed list line '" << line << "' in " << folder;
      continue;
    }
    std::string name = line.substr(9);
    if (entries.count(name)) name += "#2";
    entries[name] = static_cast<uint32_t>(std::stoul(line.substr(0, 8), nullptr, 16));
  }
  return entries;
}

// Runs a job on its own thread (as a front end does) and waits for it; a job that does not end
// within `limit` is a hang, which ends the test program rather than the CI run.
inline JobRunReport runJobAndWait(JobState& state, const std::string& source,
                                  const std::string* destination,
                                  const PipelineSizes* sizes = nullptr,
                                  std::chrono::seconds limit = std::chrono::seconds(120)) {
  JobRunReport report;
  std::thread job([&] {
    runJob(source.c_str(), destination != nullptr ? destination->c_str() : nullptr, state, sizes,
           &report);
  });
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!state.Finished.load()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "job did not finish";
      std::fflush(stdout);
      std::abort();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  job.join();
  return report;
}

inline JobRunReport runJobAndWait(JobState& state, const std::string& source,
                                  const std::string& destination,
                                  const PipelineSizes* sizes = nullptr) {
  return runJobAndWait(state, source, &destination, sizes);
}

// Every record back in the pool, none twice, none lost.
inline void expectPoolWhole(const JobRunReport& report) {
  EXPECT_TRUE(report.pipelineBuilt);
  EXPECT_TRUE(report.poolConsistent);
  EXPECT_EQ(report.recordsInPool, report.recordsCreated);
  EXPECT_EQ(report.recordsCreated, report.sizes.poolSize);
}

inline JobSettings processingSettings() {
  JobSettings s;
  s.Recurse = 1;
  s.SkipExisting = 0;
  s.CopyAll = 1;
  s.PremiereCCCompat = 0;
  s.GenerateChecks = 1;
  s.VerificationPass = 0;
  return s;
}

}  // namespace tamzel::enginetest
