// Test harness for engine code that reaches the job through TheJobState: a fresh JobState with
// its prompt queue and issue log, and a thread that plays the front end's UI thread by
// answering prompts from a script. Also a temporary folder that removes itself.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/job_state.h"

namespace tamzel::test {

// A folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The folder path ending in "/".
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + relative; }

 private:
  std::string path_;
};

void writeText(const std::string& path, const std::string& text);
std::string readText(const std::string& path);  // empty when it cannot be read
bool pathExists(const std::string& path);
void makeFolder(const std::string& path);  // with missing parents
void removeTree(const std::string& path);

struct SeenPrompt {
  PromptKind kind;
  std::string path;
  int32_t errorCode;
};

class JobHarness {
 public:
  using Script = std::function<PromptAnswer(const ErrorPrompt&)>;

  // Publishes a reset JobState through TheJobState and starts the answering thread; prompts
  // are answered with Abort until a script is set.
  JobHarness();
  ~JobHarness();
  JobHarness(const JobHarness&) = delete;
  JobHarness& operator=(const JobHarness&) = delete;

  JobState& state() { return state_; }
  IssueLog& issues() { return issues_; }
  void setScript(Script script);
  // Answers every prompt with the same answer.
  void answerAlways(PromptAnswer answer);
  std::vector<SeenPrompt> prompts();
  std::string issueText() const;

 private:
  JobState state_;
  PromptQueue queue_;
  IssueLog issues_;
  std::mutex scriptLock_;
  Script script_;
  std::vector<SeenPrompt> seen_;
  std::atomic<bool> stop_{false};
  std::thread ui_;
};

}  // namespace tamzel::test
