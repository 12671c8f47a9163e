// The prompt channel between engine threads and the front end, the job reset and the issue log.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "engine_test_support.h"

namespace tamzel {
namespace {

using enginetest::JobRecord;
using enginetest::TempTree;

TEST(Prompts, AnswersReachTheAskingThreadsInPostingOrder) {
  JobRecord job{JobSettings{}};
  std::vector<PromptAnswer> got(3, PromptAnswer::NoAnswer);
  std::vector<std::thread> askers;
  const PromptKind kinds[3] = {PromptKind::OpenRead, PromptKind::Write, PromptKind::CreateFolder};
  for (int i = 0; i < 3; ++i) {
    askers.emplace_back([&, i] { got[i] = askUser("/some/path", kinds[i], ENOSPC); });
    // Wait until this prompt is queued so the posting order is known.
    while (job.state.ErrorPrompts.load() != static_cast<uint32_t>(i + 1)) std::this_thread::yield();
  }
  std::vector<PromptKind> shown;
  std::vector<int32_t> codes;
  std::vector<std::string> texts;
  const PromptAnswer answers[3] = {PromptAnswer::Retry, PromptAnswer::Skip, PromptAnswer::Retry};
  int next = 0;
  while (next < 3) {
    answerPrompts(job.state, [&](const ErrorPrompt& prompt) {
      shown.push_back(prompt.kind);
      codes.push_back(prompt.errorCode);
      texts.push_back(prompt.message);
      EXPECT_EQ(prompt.choices, 7);
      EXPECT_STREQ(prompt.path, "/some/path");
      return answers[next++];
    });
  }
  for (auto& t : askers) t.join();
  EXPECT_EQ(shown, (std::vector<PromptKind>{kinds[0], kinds[1], kinds[2]}));
  EXPECT_EQ(got, (std::vector<PromptAnswer>{answers[0], answers[1], answers[2]}));
  for (int32_t code : codes) EXPECT_EQ(code, ENOSPC);
  EXPECT_EQ(texts[0], std::strerror(ENOSPC));
  EXPECT_FALSE(job.state.Abort.load());
}

TEST(Prompts, AbortAnswersEveryQueuedAndLaterPromptWithoutShowingIt) {
  JobRecord job{JobSettings{}};
  job.state.Pause.store(true);
  std::vector<PromptAnswer> got(3, PromptAnswer::NoAnswer);
  std::vector<std::thread> askers;
  for (int i = 0; i < 2; ++i) {
    askers.emplace_back([&, i] { got[i] = askUser("/p", PromptKind::OpenWrite); });
  }
  while (job.state.ErrorPrompts.load() != 2) std::this_thread::yield();
  int shown = 0;
  while (!job.state.PromptQueue->empty() || shown == 0) {
    answerPrompts(job.state, [&](const ErrorPrompt&) {
      ++shown;
      return PromptAnswer::Abort;
    });
  }
  askers.emplace_back([&] { got[2] = askUser("/p", PromptKind::Write); });
  while (job.state.ErrorPrompts.load() != 3) std::this_thread::yield();
  while (!job.state.PromptQueue->empty()) {
    answerPrompts(job.state, [&](const ErrorPrompt&) {
      ++shown;
      return PromptAnswer::Retry;
    });
  }
  for (auto& t : askers) t.join();
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(got, (std::vector<PromptAnswer>(3, PromptAnswer::Abort)));
  EXPECT_TRUE(job.state.Abort.load());
  EXPECT_FALSE(job.state.Pause.load());
  EXPECT_EQ(job.state.ErrorPrompts.load(), 3u);
}

TEST(JobReset, ClearsEverythingAndReusesTheIssueLog) {
  JobSettings settings;
  settings.GenerateChecks = 0;
  settings.VerificationPass = 1;  // forced off without checksums
  JobRecord job{settings, false, "/tmp/x.log"};
  EXPECT_EQ(job.state.VerificationPass, 0);
  EXPECT_EQ(job.issues, nullptr);  // a job that does not verify needs no log

  job.state.FilesProcessed.store(5);
  job.state.Abort.store(true);
  job.state.setSummary("old");
  job.state.setFatalError("boom");
  IssueLog* first = nullptr;
  resetJobState(job.state, settings, true, job.queue, first, "/tmp/x.log", nullptr);
  ASSERT_NE(first, nullptr);
  appendIssue(*first, "\nMissing file: a");
  IssueLog* reused = first;
  resetJobState(job.state, settings, true, job.queue, reused, "/tmp/other.log", nullptr);
  EXPECT_EQ(reused, first);
  EXPECT_EQ(reused->count, 0u);
  EXPECT_STREQ(reused->path, "/tmp/x.log");
  EXPECT_EQ(job.state.FilesProcessed.load(), 0u);
  EXPECT_FALSE(job.state.Abort.load());
  EXPECT_FALSE(job.state.hasSummary());
  EXPECT_FALSE(job.state.hasFatalError());
  EXPECT_EQ(job.state.VerifyOnly, 1);
  EXPECT_EQ(job.state.Issues, first);
  delete first;
}

TEST(IssueLog, GrowsPastItsFirstBlockAndSavesExactlyItsText) {
  TempTree tree;
  IssueLog log;
  std::snprintf(log.path, sizeof log.path, "%s", (tree / "TamzelError.log").c_str());
  std::string expected;
  std::string message = "\nChecksum error: " + std::string(3000, 'x');
  for (int i = 0; i < 100; ++i) {  // 300 KB: beyond the first 256 KiB block
    appendIssue(log, message.c_str());
    expected += message;
  }
  EXPECT_EQ(log.count, 100u);
  EXPECT_EQ(log.length, expected.size());
  EXPECT_GE(log.capacity, log.length + 1);
  saveIssueLog(log);
  EXPECT_EQ(enginetest::readText(log.path), expected);

  resetIssueLog(log);
  EXPECT_EQ(log.count, 0u);
  EXPECT_EQ(log.text, nullptr);
  saveIssueLog(log);  // a verification without issues leaves an empty file
  EXPECT_TRUE(enginetest::exists(log.path));
  EXPECT_EQ(enginetest::readText(log.path), "");
}

}  // namespace
}  // namespace tamzel
