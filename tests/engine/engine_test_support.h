// Helpers for the engine tests: temporary folders, small file utilities, and a thread that
// plays the front end's UI thread by answering prompts from a script.
#pragma once

#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/job_state.h"

namespace tamzel::enginetest {

inline int removeOne(const char* path, const struct stat*, int, struct FTW*) {
  return ::remove(path);
}

inline void removeTree(const std::string& path) {
  nftw(path.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
}

// A folder made with mkdtemp, removed with everything in it at the end. path() ends in "/".
class TempTree {
 public:
  // `inMemory`: under /dev/shm when there is one, for tests that move hundreds of megabytes.
  explicit TempTree(bool inMemory = false) {
    struct stat st;
    const bool shm = inMemory && stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode);
    char pattern[64];
    std::snprintf(pattern, sizeof pattern, "%s/tamzel-engine-XXXXXX", shm ? "/dev/shm" : "/tmp");
    char* made = mkdtemp(pattern);
    path_ = made != nullptr ? std::string(made) + "/" : std::string();
  }
  ~TempTree() {
    if (!path_.empty()) removeTree(path_);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + relative; }

 private:
  std::string path_;
};

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

inline void writeText(const std::string& path, const std::string& text) {
  writeBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  uint8_t chunk[65536];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + got);
  std::fclose(f);
  return bytes;
}

inline std::string readText(const std::string& path) {
  std::vector<uint8_t> bytes = readBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

inline bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

inline bool isFolder(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

inline void makeFolder(const std::string& path) {
  ::mkdir(path.c_str(), 0777);
}

struct SeenPrompt {
  PromptKind kind;
  std::string path;
  int32_t errorCode;
};

// Plays the UI thread: polls the job's prompt queue with answerPrompts and answers with a
// script (Abort until one is set). Every prompt seen is recorded.
class PromptAnswerer {
 public:
  using Script = std::function<PromptAnswer(const ErrorPrompt&)>;

  explicit PromptAnswerer(JobState& state) : state_(state) {
    thread_ = std::thread([this] {
      while (!stop_.load()) {
        answerPrompts(state_, [this](const ErrorPrompt& prompt) {
          std::lock_guard<std::mutex> guard(lock_);
          seen_.push_back(
              {prompt.kind, prompt.path != nullptr ? prompt.path : "", prompt.errorCode});
          return script_ ? script_(prompt) : PromptAnswer::Abort;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  ~PromptAnswerer() {
    stop_.store(true);
    thread_.join();
  }
  PromptAnswerer(const PromptAnswerer&) = delete;
  PromptAnswerer& operator=(const PromptAnswerer&) = delete;

  void setScript(Script script) {
    std::lock_guard<std::mutex> guard(lock_);
    script_ = std::move(script);
  }
  void answerAlways(PromptAnswer answer) {
    setScript([answer](const ErrorPrompt&) { return answer; });
  }
  std::vector<SeenPrompt> seen() {
    std::lock_guard<std::mutex> guard(lock_);
    return seen_;
  }

 private:
  JobState& state_;
  std::mutex lock_;
  Script script_;
  std::vector<SeenPrompt> seen_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A JobState made ready for a job the way a front end does it.
struct JobRecord {
  JobState state;
  PromptQueue* queue = nullptr;
  IssueLog* issues = nullptr;

  explicit JobRecord(const JobSettings& settings, bool verifyOnly = false,
                     const std::string& errorLog = "") {
    resetJobState(state, settings, verifyOnly, queue, issues, errorLog.c_str(), nullptr);
    state.StartTime.store(steadyNowNs());
    TheJobState = &state;
  }
  ~JobRecord() {
    if (TheJobState == &state) TheJobState = nullptr;
    delete queue;
    delete issues;
  }
  JobRecord(const JobRecord&) = delete;
  JobRecord& operator=(const JobRecord&) = delete;
};

}  // namespace tamzel::enginetest
