// The writer thread: stores every file the workers finished, smallest sequence number first,
// one open, one write and a checked flush and close per file.
#include <cerrno>
#include <cstring>

#include "engine/pipeline.h"
#include "platform/platform.h"

namespace tamzel {

namespace {

// Suffix of the temporary file an in-place write goes through. Not a DNG name, so a later walk
// never takes a left-over one for a frame.
constexpr char kPartialSuffix[] = ".tamzel-partial";

int currentError() {
  return errno != 0 ? errno : EIO;
}

}  // namespace

void writeOutputFile(const JobState& state, const PipelineItem& item) {
  const char* target = item.outputPath;
  const bool inPlace = state.InPlace != 0;
  char partial[kPathBufferSize + sizeof kPartialSuffix];
  if (inPlace) platform::joinPath(partial, sizeof partial, target, kPartialSuffix);
  const char* writePath = inPlace ? partial : target;

  for (;;) {
    errno = 0;
    std::FILE* file = platform::openOutputFile(writePath);
    if (file == nullptr) {
      PromptAnswer answer = askUser(target, PromptKind::OpenWrite, currentError());
      if (answer == PromptAnswer::Retry) continue;
      return;  // Skip or Abort: nothing is created
    }
    if (inPlace) platform::copyPermissions(target, file);
    errno = 0;
    std::size_t written = std::fwrite(item.buffer->data, 1, item.size, file);
    bool ok;
    int error = 0;
    if (written != item.size) {
      error = currentError();
      std::fclose(file);
      ok = false;
    } else {
      ok = platform::finishOutputFile(file);
      if (!ok) error = currentError();
    }
    if (!ok) {
      PromptAnswer answer = askUser(target, PromptKind::Write, error);
      if (answer == PromptAnswer::Retry) continue;  // reopened and truncated: written again whole
      // Skip or Abort: a plain output keeps what was written; an in-place original is untouched.
      if (inPlace) platform::removeFile(partial);
      return;
    }
    if (!inPlace) return;
    while (!platform::replaceFile(partial, target)) {
      PromptAnswer answer = askUser(target, PromptKind::Write, currentError());
      if (answer != PromptAnswer::Retry) {
        platform::removeFile(partial);
        return;
      }
    }
    return;
  }
}

void outputWriter(Pipeline& pipeline) {
  WriteQueue& queue = *pipeline.write;
  const JobState& state = *pipeline.state;
  for (;;) {
    waitWhilePaused(state);
    std::unique_lock<std::mutex> guard(queue.mutex);
    queue.notEmpty.wait(
        guard, [&] { return !queue.heap.empty() || queue.workersFinished || state.Abort.load(); });
    if (state.Abort.load()) {
      guard.unlock();
      wakeAllAfterAbort(queue.mutex, queue.notFull);
      return;  // items still queued are not written; the job driver takes their records back
    }
    if (queue.heap.empty()) return;  // workers finished and everything is written
    PipelineItem item = writeQueuePopLocked(queue);
    guard.unlock();
    queue.notFull.notify_one();
    writeOutputFile(state, item);
    giveBack(pipeline, item.buffer);
  }
}

}  // namespace tamzel
