// Writes to a disk that is really full. Each case runs in a child process with its own mount
// namespace, in which a private 4 MB tmpfs is mounted as the output folder and filled up; the
// child is this very test program, started again with a filter for the one case.
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <set>

#include "engine_job_support.h"

namespace tamzel {
namespace {

using namespace enginetest;

constexpr const char* kTmpfsVariable = "TAMZEL_TEST_PRIVATE_TMPFS";

enum class Where : uint8_t { Child, ParentDone, Unavailable };

// In the parent: runs the current test again inside a private tmpfs and expects it to pass.
// In the child: gives the tmpfs folder (ending in "/").
Where privateTmpfs(std::string& folder) {
  if (const char* dir = std::getenv(kTmpfsVariable)) {
    folder = std::string(dir) + "/";
    return Where::Child;
  }
  TempTree mountPoint;
  std::string dir = mountPoint.path().substr(0, mountPoint.path().size() - 1);
  if (geteuid() != 0 ||
      std::system(("unshare -m sh -c 'mount -t tmpfs -o size=1m none " + dir + "' >/dev/null 2>&1")
                      .c_str()) != 0)
    return Where::Unavailable;
  char self[PATH_MAX] = {};
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) {
    ADD_FAILURE() << "cannot find the test program";
    return Where::ParentDone;
  }
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string filter = std::string(info->test_suite_name()) + "." + info->name();
  std::string command = "unshare -m sh -c 'mount -t tmpfs -o size=4m none " + dir + " && " +
                        kTmpfsVariable + "=" + dir + " exec " + self + " --gtest_filter=" + filter +
                        " >" + dir + ".log 2>&1'";
  int status = std::system(command.c_str());
  std::string log = readText(dir + ".log");
  std::remove((dir + ".log").c_str());
  EXPECT_EQ(status, 0) << command << "\n" << log;
  if (log.find("[  PASSED  ] 1 test") == std::string::npos) ADD_FAILURE() << log;
  return Where::ParentDone;
}

// Runs the rest of the test body only in the child, on a 4 MB tmpfs at `out`.
#define IN_PRIVATE_TMPFS(out)                                                              \
  switch (privateTmpfs(out)) {                                                             \
    case Where::ParentDone:                                                                \
      return;                                                                              \
    case Where::Unavailable:                                                               \
      GTEST_SKIP() << "needs root and a mount namespace (unshare -m) for a private tmpfs"; \
    case Where::Child:                                                                     \
      break;                                                                               \
  }

// Fills the file system of `folder` until `leave` bytes are free.
void fillUp(const std::string& filler, uint64_t leave) {
  struct statvfs fs;
  ASSERT_EQ(statvfs(filler.substr(0, filler.rfind('/')).c_str(), &fs), 0);
  uint64_t available = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
  ASSERT_GT(available, leave);
  writeBytes(filler, std::vector<uint8_t>(available - leave, 0xFF));
}

enum class Writer : uint8_t { OutputWriter, WalkerCopy };
enum class Reply : uint8_t { RetryAfterFreeing, Skip, Abort };

struct FullDiskCase {
  Writer writer;
  Reply reply;
};

class FullDisk : public ::testing::TestWithParam<FullDiskCase> {};

TEST_P(FullDisk, WritePromptsCarryENOSPCAndEveryAnswerDoesWhatItSays) {
  std::string out;
  IN_PRIVATE_TMPFS(out);
  const FullDiskCase c = GetParam();
  TempTree inputs;
  std::string in = inputs.path();
  std::vector<uint8_t> input;
  std::string name;
  if (c.writer == Writer::OutputWriter) {
    input = dngFrame(512, 512, testing::SamplePattern::Noise, 9);  // about 512 KB either way
    name = "frame.dng";
  } else {
    input.assign(600000, 0x42);
    name = "big.bin";
  }
  writeBytes(in + name, input);
  const std::vector<uint8_t> expected =
      c.writer == Writer::OutputWriter ? expectedOutput(input, false) : input;
  ASSERT_GT(expected.size(), 200000u);
  std::string filler = out + "filler";
  fillUp(filler, 64 * 1024);

  JobRecord job{processingSettings()};
  PromptAnswerer ui(job.state);
  const std::string target = out + name;
  ui.setScript([&](const ErrorPrompt&) {
    if (c.reply == Reply::RetryAfterFreeing) {
      std::remove(filler.c_str());
      return PromptAnswer::Retry;
    }
    return c.reply == Reply::Skip ? PromptAnswer::Skip : PromptAnswer::Abort;
  });
  PipelineSizes sizes = pipelineSizesForWorkers(2);
  JobRunReport report = runJobAndWait(job.state, in, out, &sizes);
  expectPoolWhole(report);

  std::vector<SeenPrompt> seen = ui.seen();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen[0].kind, PromptKind::Write);
  EXPECT_EQ(seen[0].path, target);
  EXPECT_EQ(seen[0].errorCode, ENOSPC);
  const std::vector<uint8_t> written = readBytes(target);
  switch (c.reply) {
    case Reply::RetryAfterFreeing:
      EXPECT_EQ(seen.size(), 1u);
      EXPECT_EQ(written, expected);  // written again whole
      EXPECT_EQ(readList(out), (std::map<std::string, uint32_t>{{name, crcOf(expected)}}));
      EXPECT_FALSE(job.state.Abort.load());
      break;
    case Reply::Skip:
      // The job goes on; the file keeps what fitted (a later verification finds it wrong),
      // and the list, if it could be written at all, does not vouch for a copy that failed.
      EXPECT_FALSE(job.state.Abort.load());
      EXPECT_LT(written.size(), expected.size());
      for (const SeenPrompt& p : seen) EXPECT_EQ(p.errorCode, ENOSPC) << p.path;
      if (c.writer == Writer::WalkerCopy) {
        EXPECT_EQ(readList(out).count(name), 0u);
      }
      break;
    case Reply::Abort:
      EXPECT_TRUE(job.state.Abort.load());
      EXPECT_EQ(seen.size(), 1u);  // later prompts of the job are answered without asking
      EXPECT_LT(written.size(), expected.size());
      break;
  }
  EXPECT_EQ(job.state.FilesProcessed.load(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    WriterAndCopy, FullDisk,
    ::testing::Values(FullDiskCase{Writer::OutputWriter, Reply::RetryAfterFreeing},
                      FullDiskCase{Writer::OutputWriter, Reply::Skip},
                      FullDiskCase{Writer::OutputWriter, Reply::Abort},
                      FullDiskCase{Writer::WalkerCopy, Reply::RetryAfterFreeing},
                      FullDiskCase{Writer::WalkerCopy, Reply::Skip},
                      FullDiskCase{Writer::WalkerCopy, Reply::Abort}),
    [](const ::testing::TestParamInfo<FullDiskCase>& param) {
      const char* writer = param.param.writer == Writer::OutputWriter ? "Writer" : "Copy";
      const char* reply = param.param.reply == Reply::RetryAfterFreeing ? "RetryAfterFreeing"
                          : param.param.reply == Reply::Skip            ? "Skip"
                                                                        : "Abort";
      return std::string(writer) + reply;
    });

// Many files, every one of them refused by a full disk, and Skip each time: the job finishes.
TEST(FullDiskMany, SkippingEveryRefusedFileLetsTheJobFinish) {
  std::string out;
  IN_PRIVATE_TMPFS(out);
  TempTree inputs;
  for (int i = 0; i < 12; ++i) {
    writeBytes(inputs.path() + "f" + std::to_string(i) + ".dng",
               dngFrame(256, 256, testing::SamplePattern::Noise, 20 + i));
    writeBytes(inputs.path() + "c" + std::to_string(i) + ".bin", std::vector<uint8_t>(150000, 1));
  }
  fillUp(out + "filler", 16 * 1024);
  JobRecord job{processingSettings()};
  PromptAnswerer ui(job.state);
  ui.answerAlways(PromptAnswer::Skip);
  PipelineSizes sizes = pipelineSizesForWorkers(3);
  JobRunReport report = runJobAndWait(job.state, inputs.path(), out, &sizes);
  expectPoolWhole(report);
  EXPECT_FALSE(job.state.Abort.load());
  EXPECT_EQ(job.state.FilesProcessed.load(), 24u);
  EXPECT_GE(ui.seen().size(), 24u);  // at least one question per file
  for (const SeenPrompt& p : ui.seen()) {
    EXPECT_TRUE(p.kind == PromptKind::Write || p.kind == PromptKind::OpenWrite) << p.path;
    EXPECT_EQ(p.errorCode, ENOSPC) << p.path;
  }
}

// Small files fit the C library's buffer, so the write call succeeds and the disk's refusal only
// shows when the file is flushed: that must be a Write prompt too, not a success.
TEST(FullDiskMany, AFailedFlushOfASmallFileIsAWriteError) {
  std::string out;
  IN_PRIVATE_TMPFS(out);
  TempTree inputs;
  for (int i = 0; i < 5; ++i) writeText(inputs.path() + "s" + std::to_string(i) + ".txt", "tiny");
  for (int i = 0; i < 8; ++i) {  // fill every last block
    struct statvfs fs;
    ASSERT_EQ(statvfs(out.c_str(), &fs), 0);
    uint64_t available = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
    if (available == 0) break;
    writeBytes(out + "filler" + std::to_string(i), std::vector<uint8_t>(available, 0xFF));
  }
  JobSettings settings = processingSettings();
  settings.GenerateChecks = 0;
  JobRecord job{settings};
  PromptAnswerer ui(job.state);
  ui.answerAlways(PromptAnswer::Skip);
  JobRunReport report = runJobAndWait(job.state, inputs.path(), out);
  expectPoolWhole(report);
  std::set<std::string> refused;
  for (const SeenPrompt& p : ui.seen()) {
    EXPECT_EQ(p.kind, PromptKind::Write) << p.path;
    EXPECT_EQ(p.errorCode, ENOSPC) << p.path;
    refused.insert(p.path);
  }
  EXPECT_EQ(refused.size(), 5u);
}

}  // namespace
}  // namespace tamzel
