// Many small frames through the whole pipeline with 1 to 8 workers, paused, resumed and
// aborted at random moments, and aborted while every thread is blocked on a full queue. Each
// job must end with every thread joined, every pool record back exactly once, and no checksum
// list written for a folder whose walk did not complete.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <set>

#include "engine_job_support.h"

namespace tamzel {
namespace {

using namespace enginetest;

constexpr int kFolders = 4;
constexpr int kFramesPerFolder = 40;

std::string folderName(int f) {
  char name[32];
  std::snprintf(name, sizeof name, "d%d/", f);
  return name;
}
std::string frameName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "f%03d.dng", i);
  return name;
}

class Stress : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tree_ = new TempTree(true);
    input_ = tree_->path() + "in/";
    makeFolder(input_);
    for (int f = 0; f < kFolders; ++f) {
      makeFolder(input_ + folderName(f));
      for (int i = 0; i < kFramesPerFolder; ++i) {
        // Mostly recompressible frames, some that are passed through.
        std::vector<uint8_t> bytes =
            i % 7 == 3 ? std::vector<uint8_t>(300 + i, static_cast<uint8_t>(i))
                       : dngFrame(32, 8, testing::SamplePattern::Gradient, 100 * f + i);
        writeBytes(input_ + folderName(f) + frameName(i), bytes);
      }
    }
  }
  static void TearDownTestSuite() {
    delete tree_;
    tree_ = nullptr;
  }

  // The names every complete list of folder `f` holds.
  static std::set<std::string> allNames() {
    std::set<std::string> names;
    for (int i = 0; i < kFramesPerFolder; ++i) names.insert(frameName(i));
    return names;
  }

  // After any job: each list that exists is complete (no list of an unfinished folder).
  static int checkLists(const std::string& output) {
    int written = 0;
    for (int f = 0; f < kFolders; ++f) {
      std::string folder = output + folderName(f);
      if (!exists(folder + "checksum.tz")) continue;
      ++written;
      std::map<std::string, uint32_t> list = readList(folder);
      std::set<std::string> names;
      for (const auto& [name, crc] : list) names.insert(name);
      EXPECT_EQ(names, allNames()) << folder;
    }
    return written;
  }

  static TempTree* tree_;
  static std::string input_;
};

TempTree* Stress::tree_ = nullptr;
std::string Stress::input_;

enum class Disturbance : uint8_t { None, PauseResume, Abort };

TEST_F(Stress, RandomPausesAndAbortsWithOneToEightWorkersAlwaysEndCleanly) {
  std::mt19937 random(20261211);
  for (uint32_t workers = 1; workers <= 8; ++workers) {
    for (Disturbance disturbance :
         {Disturbance::None, Disturbance::PauseResume, Disturbance::Abort}) {
      const uint32_t delayUs = std::uniform_int_distribution<uint32_t>(0, 40000)(random);
      SCOPED_TRACE(::testing::Message() << "W " << workers << " disturbance "
                                        << static_cast<int>(disturbance) << " delay " << delayUs);
      TempTree outTree(true);
      const std::string output = outTree.path();
      JobRecord job{processingSettings()};
      job.state.SkipExisting = 0;
      job.state.CopyAll = 0;
      PromptAnswerer ui(job.state);
      PipelineSizes sizes = pipelineSizesForWorkers(workers);
      std::thread disturber([&] {
        // Odd delays count from the end of the counting pass, so most aborts hit the walk.
        if (delayUs % 2 == 1)
          while (!job.state.EnumerationDone.load() && !job.state.Finished.load())
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
        if (disturbance == Disturbance::PauseResume) {
          for (int i = 0; i < 3 && !job.state.Finished.load(); ++i) {
            job.state.Pause.store(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(120));
            job.state.Pause.store(false);
            std::this_thread::sleep_for(std::chrono::microseconds(delayUs / 4));
          }
        } else if (disturbance == Disturbance::Abort) {
          job.state.Abort.store(true);
        }
      });
      JobRunReport report = runJobAndWait(job.state, input_, output, &sizes);
      disturber.join();
      if (!report.pipelineBuilt) {  // aborted while counting: nothing was started
        EXPECT_TRUE(job.state.Abort.load());
        EXPECT_EQ(job.state.FoldersProcessed.load(), 0u);
        continue;
      }
      expectPoolWhole(report);
      EXPECT_EQ(report.workersStarted, workers);
      EXPECT_EQ(ui.seen().size(), 0u);
      const int lists = checkLists(output);
      if (!job.state.Abort.load()) {
        EXPECT_EQ(report.recordsDropped, 0u);
        EXPECT_EQ(lists, kFolders);
        EXPECT_EQ(job.state.FilesProcessed.load(), uint32_t{kFolders * kFramesPerFolder});
        for (int f = 0; f < kFolders; ++f)
          for (int i = 0; i < kFramesPerFolder; ++i)
            ASSERT_TRUE(exists(output + folderName(f) + frameName(i)));
      }
    }
  }
}

// The writer is held in a prompt (every output path is taken by a folder) until the walker,
// all workers and the write queue are full; then the job is aborted. Variant: the abort comes
// from the window while the prompt is answered Skip.
TEST_F(Stress, AbortWhileEveryThreadIsBlockedOnAFullQueue) {
  for (uint32_t workers : {1u, 4u, 8u}) {
    for (bool fromWindow : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "W " << workers << (fromWindow ? " window" : " prompt"));
      TempTree outTree(true);
      const std::string output = outTree.path();
      for (int f = 0; f < kFolders; ++f) {
        makeFolder(output + folderName(f));
        for (int i = 0; i < kFramesPerFolder; ++i)
          makeFolder(output + folderName(f) + frameName(i));
      }
      JobRecord job{processingSettings()};
      job.state.SkipExisting = 0;
      job.state.CopyAll = 0;
      PipelineSizes sizes = pipelineSizesForWorkers(workers);
      const uint32_t saturated = 2 * sizes.queueCapacity + sizes.workers + 2;
      std::atomic<uint32_t> seenWhenFull{0};
      PromptAnswerer ui(job.state);
      ui.setScript([&](const ErrorPrompt& p) {
        EXPECT_EQ(p.kind, PromptKind::OpenWrite);
        EXPECT_EQ(p.errorCode, EISDIR);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (job.state.DngDispatched.load() < saturated &&
               std::chrono::steady_clock::now() < deadline)
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));  // let them all block
        seenWhenFull.store(job.state.DngDispatched.load());
        if (fromWindow) {
          job.state.Abort.store(true);
          return PromptAnswer::Skip;
        }
        return PromptAnswer::Abort;
      });
      JobRunReport report = runJobAndWait(job.state, input_, output, &sizes);
      expectPoolWhole(report);
      // Nothing more was read than the queues and the threads can hold.
      EXPECT_EQ(seenWhenFull.load(), saturated);
      EXPECT_EQ(ui.seen().size(), 1u);
      EXPECT_TRUE(job.state.Abort.load());
      EXPECT_GT(report.recordsDropped, 0u);
      checkLists(output);
    }
  }
}

}  // namespace
}  // namespace tamzel
