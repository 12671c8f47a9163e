#include "support/job_harness.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tamzel::test {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tamzel-test.XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const char* made = ::mkdtemp(buffer.data());
  path_ = made ? std::string(made) + "/" : std::string();
}

TempDir::~TempDir() {
  if (!path_.empty()) removeTree(path_);
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool pathExists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

void makeFolder(const std::string& path) {
  std::error_code ignored;
  std::filesystem::create_directories(path, ignored);
}

void removeTree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

JobHarness::JobHarness() {
  state_.PromptQueue = &queue_;
  state_.Issues = &issues_;
  state_.EnumerationDone.store(true);
  TheJobState = &state_;
  ui_ = std::thread([this] {
    while (!stop_.load()) {
      answerPrompts(state_, [this](const ErrorPrompt& prompt) {
        std::lock_guard<std::mutex> guard(scriptLock_);
        seen_.push_back({prompt.kind, prompt.path ? prompt.path : "", prompt.errorCode});
        return script_ ? script_(prompt) : PromptAnswer::Abort;
      });
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
}

JobHarness::~JobHarness() {
  stop_.store(true);
  ui_.join();
  if (TheJobState == &state_) TheJobState = nullptr;
}

void JobHarness::setScript(Script script) {
  std::lock_guard<std::mutex> guard(scriptLock_);
  script_ = std::move(script);
}

void JobHarness::answerAlways(PromptAnswer answer) {
  setScript([answer](const ErrorPrompt&) { return answer; });
}

std::vector<SeenPrompt> JobHarness::prompts() {
  std::lock_guard<std::mutex> guard(scriptLock_);
  return seen_;
}

std::string JobHarness::issueText() const {
  return issues_.text ? std::string(issues_.text, issues_.length) : std::string();
}

}  // namespace tamzel::test
