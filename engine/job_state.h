// The one record shared by a front end (GUI or command line) and the engine threads of a job:
// the job's switches, its control flags and progress counters, and the channel through which
// engine threads put Retry/Skip/Abort questions to the user.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace tamzel {

constexpr std::size_t kPathBufferSize = 1024;  // fixed path buffers, NUL included
constexpr std::size_t kErrorTextSize = 1500;   // strerror_r buffer

// ---------------------------------------------------------------------------------------------
// Error prompts

enum class PromptKind : int32_t {
  OpenRead = 1,
  OpenWrite = 2,
  Write = 3,
  CreateFolder = 4,
  QueryFile = 5,
};

enum class PromptAnswer : int32_t {
  NoAnswer = 0,
  Retry = 1,
  Abort = 2,
  Skip = 4,
};

// Lives on the stack of the engine thread that asks; valid until that thread has its answer.
struct ErrorPrompt {
  const char* path = nullptr;
  const char* message = nullptr;  // points to text
  int32_t errorCode = 0;
  PromptKind kind = PromptKind::OpenRead;
  int32_t choices = 7;  // Retry | Abort | Skip: every prompt offers all three
  PromptAnswer answer = PromptAnswer::NoAnswer;
  std::mutex lock;
  std::condition_variable answered;
  char text[kErrorTextSize] = {};
};

// First-in first-out queue of waiting prompts, guarded by a spin flag held for a few
// instructions only.
struct PromptQueue {
  std::atomic<uint8_t> spin{0};
  std::deque<ErrorPrompt*> prompts;

  void push(ErrorPrompt* prompt);
  ErrorPrompt* pop();  // nullptr when empty
  bool empty();
};

// ---------------------------------------------------------------------------------------------
// Verification issues, saved as the error log after every verification

struct IssueLog {
  char path[kPathBufferSize] = {};
  char* text = nullptr;
  uint32_t capacity = 0;
  uint32_t length = 0;
  uint32_t count = 0;

  IssueLog() = default;
  IssueLog(const IssueLog&) = delete;
  IssueLog& operator=(const IssueLog&) = delete;
  ~IssueLog();
};

// ---------------------------------------------------------------------------------------------
// Job settings and state

struct JobSettings {
  uint8_t Recurse = 1;
  uint8_t SkipExisting = 1;
  uint8_t InPlace = 0;
  uint8_t CopyAll = 1;
  uint8_t PremiereCCCompat = 0;
  uint8_t GenerateChecks = 0;
  uint8_t VerificationPass = 0;
  uint8_t VerifyOnly = 0;
};

struct JobState : JobSettings {
  std::function<void()> OnPhaseEnd;
  tamzel::PromptQueue* PromptQueue = nullptr;
  std::atomic<bool> Finished{false};
  std::atomic<bool> Abort{false};
  std::atomic<bool> Pause{false};
  int64_t EndTime = 0;  // steady-clock nanoseconds
  IssueLog* Issues = nullptr;
  std::atomic<bool> EnumerationDone{false};
  std::atomic<uint32_t> FilesTotal{0};
  std::atomic<uint32_t> FoldersProcessed{0};
  std::atomic<uint32_t> FilesProcessed{0};
  std::atomic<uint32_t> DngDispatched{0};
  std::atomic<uint32_t> DngCompressed{0};
  std::atomic<uint64_t> BytesBefore{0};
  std::atomic<uint64_t> BytesAfter{0};
  std::atomic<uint32_t> FilesSkipped{0};
  std::atomic<uint32_t> ErrorPrompts{0};
  std::atomic<uint32_t> FilesOk{0};
  std::atomic<uint32_t> ChecksumErrors{0};
  std::atomic<uint32_t> FilesMissing{0};
  std::atomic<uint32_t> FoldersWithoutLists{0};
  std::atomic<uint32_t> CorruptedLists{0};
  std::atomic<bool> WasPaused{false};  // set on the UI thread, read by the phase-end summary
  std::atomic<int64_t> StartTime{0};   // steady-clock nanoseconds

  // The processing summary is built on the job thread while a front end may look at it, so
  // it is handed over under a lock.
  void setSummary(std::string text);
  std::string summary() const;
  bool hasSummary() const;
  void clearSummary();

  // A failure that ended the job by itself (a buffer that could not be allocated, a thread that
  // could not be started): a one-line text for the front end, empty when there was none. The
  // first failure recorded is kept. Set on an engine thread, read by the front end.
  void setFatalError(std::string text);
  std::string fatalError() const;
  bool hasFatalError() const;
  void clearFatalError();

 private:
  mutable std::mutex summaryLock_;
  std::string summary_;
  std::string fatalError_;
};

// Records `message` as the job's fatal error and sets Abort (clearing Pause), so every engine
// thread leaves at its next checkpoint.
void failJob(JobState& state, const char* message);

// The process-wide pointer through which engine code reaches the job's state; set by the job
// thread as its first action.
extern JobState* TheJobState;

int64_t steadyNowNs();

// Sets the thirteen progress counters, FoldersProcessed through CorruptedLists, to zero.
void clearJobCounters(JobState& state);

// Resets the record for a new job (flags, counters, a fresh prompt queue, the issue log emptied
// or created with `errorLogPath` when the job verifies, summary cleared). `settings` are the
// switches read from the front end; InPlace is cleared (the caller sets it after confirmation)
// and VerificationPass is forced off without GenerateChecks.
void resetJobState(JobState& state, const JobSettings& settings, bool verifyOnly,
                   tamzel::PromptQueue*& queueSlot, IssueLog*& issueLogSlot,
                   const char* errorLogPath, std::function<void()> onPhaseEnd);

// Asked by an engine thread: posts a prompt for `path` with the current errno and blocks until
// the user answers. Counts ErrorPrompts.
PromptAnswer askUser(const char* path, PromptKind kind);
// The same with an explicit error number (e.g. ENAMETOOLONG for a path that does not fit).
PromptAnswer askUser(const char* path, PromptKind kind, int errorCode);

// Called by the front end's UI thread while a job runs: answers every queued prompt. `show` is
// called for each prompt unless Abort is already set (then the answer is Abort without asking).
// An Abort answer sets Abort and clears Pause.
void answerPrompts(JobState& state, const std::function<PromptAnswer(const ErrorPrompt&)>& show);

// Issue log operations (verification only).
void appendIssue(IssueLog& log, const char* text);
void resetIssueLog(IssueLog& log);
void saveIssueLog(const IssueLog& log);

}  // namespace tamzel
