// The shared job record, the prompt channel between engine threads and the front end, and the
// issue log of a verification.
#include "engine/job_state.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tamzel {

JobState* TheJobState = nullptr;

int64_t steadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// ---------------------------------------------------------------------------------------------
// Summary and fatal error hand-over

void JobState::setSummary(std::string text) {
  std::lock_guard<std::mutex> guard(summaryLock_);
  summary_ = std::move(text);
}

std::string JobState::summary() const {
  std::lock_guard<std::mutex> guard(summaryLock_);
  return summary_;
}

bool JobState::hasSummary() const {
  std::lock_guard<std::mutex> guard(summaryLock_);
  return !summary_.empty();
}

void JobState::clearSummary() {
  std::lock_guard<std::mutex> guard(summaryLock_);
  summary_.clear();
}

void JobState::setFatalError(std::string text) {
  std::lock_guard<std::mutex> guard(summaryLock_);
  if (fatalError_.empty()) fatalError_ = std::move(text);  // the first cause is the one to show
}

std::string JobState::fatalError() const {
  std::lock_guard<std::mutex> guard(summaryLock_);
  return fatalError_;
}

bool JobState::hasFatalError() const {
  std::lock_guard<std::mutex> guard(summaryLock_);
  return !fatalError_.empty();
}

void JobState::clearFatalError() {
  std::lock_guard<std::mutex> guard(summaryLock_);
  fatalError_.clear();
}

void failJob(JobState& state, const char* message) {
  state.setFatalError(message);
  state.Abort.exchange(true);
  state.Pause.exchange(false);
}

// ---------------------------------------------------------------------------------------------
// Prompt queue

namespace {

void acquire(std::atomic<uint8_t>& spin) {
  for (;;) {
    uint8_t expected = 0;
    if (spin.compare_exchange_weak(expected, 1, std::memory_order_acquire)) return;
  }
}

void release(std::atomic<uint8_t>& spin) {
  spin.store(0, std::memory_order_release);
}

// strerror_r comes in two flavours (XSI returns int, GNU returns char*); both end up here.
[[maybe_unused]] const char* errorTextResult(int result, char* buffer) {
  return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* errorTextResult(const char* result, char*) {
  return result;
}

}  // namespace

void PromptQueue::push(ErrorPrompt* prompt) {
  acquire(spin);
  prompts.push_back(prompt);
  release(spin);
}

ErrorPrompt* PromptQueue::pop() {
  acquire(spin);
  ErrorPrompt* front = nullptr;
  if (!prompts.empty()) {
    front = prompts.front();
    prompts.pop_front();
  }
  release(spin);
  return front;
}

bool PromptQueue::empty() {
  acquire(spin);
  bool result = prompts.empty();
  release(spin);
  return result;
}

PromptAnswer askUser(const char* path, PromptKind kind) {
  return askUser(path, kind, errno);
}

PromptAnswer askUser(const char* path, PromptKind kind, int errorCode) {
  JobState* state = TheJobState;
  if (state == nullptr || state->PromptQueue == nullptr) return PromptAnswer::Abort;
  ErrorPrompt prompt;
  char scratch[kErrorTextSize] = {};
  const char* described = errorTextResult(strerror_r(errorCode, scratch, sizeof scratch), scratch);
  std::snprintf(prompt.text, sizeof prompt.text, "%s", described);
  state->ErrorPrompts.fetch_add(1);
  prompt.path = path;
  prompt.message = prompt.text;
  prompt.errorCode = errorCode;
  prompt.kind = kind;
  prompt.choices = 7;
  prompt.answer = PromptAnswer::NoAnswer;
  state->PromptQueue->push(&prompt);
  std::unique_lock<std::mutex> guard(prompt.lock);
  prompt.answered.wait(guard, [&] { return prompt.answer != PromptAnswer::NoAnswer; });
  return prompt.answer;
}

void answerPrompts(JobState& state, const std::function<PromptAnswer(const ErrorPrompt&)>& show) {
  if (state.PromptQueue == nullptr) return;
  for (;;) {
    ErrorPrompt* prompt = state.PromptQueue->pop();
    if (prompt == nullptr) return;
    PromptAnswer answer = PromptAnswer::Abort;
    if (!state.Abort.load()) answer = show(*prompt);
    if (answer != PromptAnswer::Retry && answer != PromptAnswer::Skip &&
        answer != PromptAnswer::Abort)
      answer = PromptAnswer::Abort;  // a front end that cannot tell gives up the job
    // Notify while holding the lock: the asker must not return (and drop the prompt from its
    // stack) before the notification is complete.
    std::lock_guard<std::mutex> guard(prompt->lock);
    prompt->answer = answer;
    if (answer == PromptAnswer::Abort) {
      state.Abort.exchange(true);
      state.Pause.exchange(false);
    }
    prompt->answered.notify_one();
  }
}

// ---------------------------------------------------------------------------------------------
// Issue log

constexpr uint32_t kIssueLogStep = 262144;

IssueLog::~IssueLog() {
  std::free(text);
}

void appendIssue(IssueLog& log, const char* message) {
  std::size_t add = std::strlen(message);
  std::size_t needed = static_cast<std::size_t>(log.length) + add + 1;
  if (log.text == nullptr) {
    log.text = static_cast<char*>(std::malloc(kIssueLogStep));
    if (log.text == nullptr) return;
    log.capacity = kIssueLogStep;
    log.length = 0;
    log.text[0] = '\0';
  }
  if (log.capacity < needed) {
    // Messages are at most a few thousand bytes, but grow until it fits all the same.
    std::size_t capacity = log.capacity;
    while (capacity < needed) capacity += kIssueLogStep;
    if (capacity > UINT32_MAX) return;
    char* grown = static_cast<char*>(std::realloc(log.text, capacity));
    if (grown == nullptr) return;  // the issue is lost, the log stays consistent
    log.text = grown;
    log.capacity = static_cast<uint32_t>(capacity);
  }
  std::memcpy(log.text + log.length, message, add + 1);
  log.length += static_cast<uint32_t>(add);
  log.count += 1;
}

void resetIssueLog(IssueLog& log) {
  std::free(log.text);
  log.text = nullptr;
  log.capacity = 0;
  log.length = 0;
  log.count = 0;
}

void saveIssueLog(const IssueLog& log) {
  if (log.path[0] == '\0') return;
  std::FILE* file = std::fopen(log.path, "w+");
  if (file == nullptr) return;
  if (log.length != 0 && log.text != nullptr) std::fwrite(log.text, 1, log.length, file);
  std::fclose(file);
}

// ---------------------------------------------------------------------------------------------
// Reset for a new job

void clearJobCounters(JobState& state) {
  state.FoldersProcessed.store(0);
  state.FilesProcessed.store(0);
  state.DngDispatched.store(0);
  state.DngCompressed.store(0);
  state.BytesBefore.store(0);
  state.BytesAfter.store(0);
  state.FilesSkipped.store(0);
  state.ErrorPrompts.store(0);
  state.FilesOk.store(0);
  state.ChecksumErrors.store(0);
  state.FilesMissing.store(0);
  state.FoldersWithoutLists.store(0);
  state.CorruptedLists.store(0);
}

void resetJobState(JobState& state, const JobSettings& settings, bool verifyOnly,
                   tamzel::PromptQueue*& queueSlot, IssueLog*& issueLogSlot,
                   const char* errorLogPath, std::function<void()> onPhaseEnd) {
  state.Finished.exchange(false);
  state.Pause.exchange(false);
  state.WasPaused = false;
  state.Abort.exchange(false);

  state.Recurse = settings.Recurse;
  state.SkipExisting = settings.SkipExisting;
  state.CopyAll = settings.CopyAll;
  state.PremiereCCCompat = settings.PremiereCCCompat;
  state.GenerateChecks = settings.GenerateChecks;
  state.VerificationPass = settings.GenerateChecks ? settings.VerificationPass : 0;
  state.InPlace = 0;
  state.VerifyOnly = verifyOnly ? 1 : 0;

  delete queueSlot;
  queueSlot = new tamzel::PromptQueue();
  state.PromptQueue = queueSlot;

  clearJobCounters(state);
  state.EnumerationDone.store(false);
  state.FilesTotal.store(0);

  state.OnPhaseEnd = std::move(onPhaseEnd);
  state.clearSummary();
  state.clearFatalError();

  if (verifyOnly || state.VerificationPass) {
    if (issueLogSlot == nullptr) {
      issueLogSlot = new IssueLog();
      std::snprintf(issueLogSlot->path, sizeof issueLogSlot->path, "%s",
                    errorLogPath != nullptr ? errorLogPath : "");
    } else {
      resetIssueLog(*issueLogSlot);
    }
    state.Issues = issueLogSlot;
  }
}

}  // namespace tamzel
