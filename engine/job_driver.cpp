// The job thread: counting pass, then a verification-only job or a processing job with its
// pipeline (pool, queues, workers, writer, the walk on this thread), orderly shutdown, the
// optional verification pass and the error log.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "engine/engine.h"
#include "engine/pipeline.h"
#include "integrity/verify.h"
#include "platform/platform.h"

namespace tamzel {

PipelineSizes pipelineSizesForWorkers(uint32_t workers) {
  PipelineSizes sizes;
  sizes.workers = workers < 1 ? 1 : workers;
  const float scaled = static_cast<float>(sizes.workers) * 1.5f;
  uint32_t queue = static_cast<uint32_t>(scaled);
  sizes.queueCapacity = queue < 3 ? 3 : queue;
  sizes.poolSize = 2 * sizes.queueCapacity + 2 * sizes.workers + 2;
  return sizes;
}

PipelineSizes computePipelineSizes(unsigned hardwareThreads) {
  return pipelineSizesForWorkers(hardwareThreads > 1 ? hardwareThreads - 1 : 1);
}

namespace {

// Starts a thread, reporting instead of throwing when the system refuses one.
template <typename Body>
bool spawn(std::thread& thread, Body body) {
  try {
    thread = std::thread(std::move(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void runProcessing(const char* source, const char* destination, JobState& state,
                   const PipelineSizes& sizes, JobRunReport& report, bool& topListHasEntries) {
  const uint32_t n = sizes.poolSize;
  std::vector<SPoolMem> records(n);
  std::vector<SPoolMem*> freeList(n);
  for (uint32_t i = 0; i < n; ++i) freeList[i] = &records[i];
  BufferPool pool(freeList.data(), static_cast<int32_t>(n), false);
  WorkQueue work(static_cast<int32_t>(sizes.queueCapacity));
  WriteQueue write(static_cast<int32_t>(sizes.queueCapacity));

  Pipeline pipeline;
  pipeline.state = &state;
  pipeline.pool = &pool;
  pipeline.work = &work;
  pipeline.write = &write;
  report.pipelineBuilt = true;
  report.recordsCreated = n;

  std::vector<std::thread> workers(sizes.workers);
  uint32_t started = 0;
  for (; started < sizes.workers; ++started) {
    if (!spawn(workers[started], [&pipeline] { workerThread(pipeline); })) {
      failJob(state, "Could not start a worker thread; the job was stopped.");
      break;
    }
  }
  std::thread writer;
  bool writerStarted = false;
  if (!state.Abort.load()) {
    writerStarted = spawn(writer, [&pipeline] { outputWriter(pipeline); });
    if (!writerStarted) failJob(state, "Could not start the writer thread; the job was stopped.");
  }
  report.workersStarted = started;
  report.writerStarted = writerStarted;

  if (!state.Abort.load()) walkFolder(pipeline, source, destination, true, &topListHasEntries);

  workQueueSetReaderFinished(work);
  if (state.Abort.load()) {
    // Workers blocked on a full write queue with no writer to wake them, or never started:
    // make sure every wait sees the abort.
    wakeAllAfterAbort(work.mutex, work.notFull);
    wakeAllAfterAbort(work.mutex, work.notEmpty);
    wakeAllAfterAbort(write.mutex, write.notFull);
  }
  for (uint32_t i = 0; i < started; ++i) workers[i].join();
  writeQueueSetWorkersFinished(write);
  if (writerStarted) writer.join();

  // An abort leaves items in the queues; their records come back here.
  uint32_t dropped = pipeline.recordsDropped.load();
  for (uint32_t i = 0; i < work.count; ++i) {
    pool.give(work.ring[(work.head + i) % work.ring.size()].buffer);
    ++dropped;
  }
  work.count = 0;
  for (const PipelineItem& item : write.heap) {
    pool.give(item.buffer);
    ++dropped;
  }
  write.heap.clear();
  report.recordsDropped = dropped;
  report.recordsInPool = static_cast<uint32_t>(pool.freeCount());
  std::vector<SPoolMem*> held(pool.freeItems(), pool.freeItems() + pool.freeCount());
  std::sort(held.begin(), held.end());
  report.poolConsistent =
      held.size() == n && std::adjacent_find(held.begin(), held.end()) == held.end();

  for (SPoolMem& record : records) releaseRecord(&record);
  platform::freePageAligned(pipeline.copyBuffer);
}

}  // namespace

void runJob(const char* source, const char* destinationOrNull, JobState& state) {
  runJob(source, destinationOrNull, state, nullptr, nullptr);
}

void runJob(const char* sourceArg, const char* destinationArg, JobState& state,
            const PipelineSizes* forcedSizes, JobRunReport* reportOut) {
  JobRunReport report;
  report.sizes = forcedSizes != nullptr ? *forcedSizes
                                        : computePipelineSizes(std::thread::hardware_concurrency());
  TheJobState = &state;
  bool topListHasEntries = false;

  char source[kPathBufferSize] = {};
  char destination[kPathBufferSize] = {};
  const bool processing = destinationArg != nullptr && !state.VerifyOnly;
  // Folder paths end in "/"; one is added to a path given without it.
  auto copyFolder = [](char* out, const char* in) {
    std::size_t length = std::strlen(in);
    const bool slash = length != 0 && in[length - 1] == '/';
    return platform::joinPath(out, kPathBufferSize, in, slash ? nullptr : "/");
  };
  bool pathsFit = copyFolder(source, sourceArg);
  if (processing) pathsFit = pathsFit && copyFolder(destination, destinationArg);
  if (!pathsFit) failJob(state, "The folder path is too long.");

  if (!state.Abort.load()) countFolder(state, source);
  state.EnumerationDone.store(true);

  if (!state.Abort.load()) {
    if (!processing) {
      verifyFolder(source, nullptr, false);
      if (state.Issues != nullptr) saveIssueLog(*state.Issues);
      releaseVerificationBuffers();
    } else {
      runProcessing(source, destination, state, report.sizes, report, topListHasEntries);
      if (state.GenerateChecks) {
        report.checksumListsDiscarded = static_cast<uint32_t>(openChecksumListCount());
        discardOpenChecksumLists();
        if (state.VerificationPass && !state.Abort.load()) {
          state.FilesTotal.exchange(state.FilesProcessed.load() + state.FilesSkipped.load());
          if (state.OnPhaseEnd) state.OnPhaseEnd();
          verifyFolder(destination, source, !topListHasEntries);
          if (state.Issues != nullptr) saveIssueLog(*state.Issues);
          releaseVerificationBuffers();
        }
      }
    }
  }

  if (reportOut != nullptr) *reportOut = report;
  state.Finished.exchange(true);
  state.EndTime = steadyNowNs();
}

std::thread startJobThread(const char* source, const char* destinationOrNull, JobState& state) {
  std::string sourceCopy = source != nullptr ? source : "";
  bool hasDestination = destinationOrNull != nullptr;
  std::string destinationCopy = hasDestination ? destinationOrNull : "";
  std::thread thread;
  bool started = spawn(thread, [sourceCopy, destinationCopy, hasDestination, &state] {
    runJob(sourceCopy.c_str(), hasDestination ? destinationCopy.c_str() : nullptr, state);
  });
  if (!started) {
    failJob(state, "Could not start the job thread.");
    state.Finished.exchange(true);
    state.EndTime = steadyNowNs();
  }
  return thread;
}

}  // namespace tamzel
