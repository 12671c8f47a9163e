// The job engine's public face for the front ends: start a job thread, size the pipeline.
//
// A front end resets its JobState (resetJobState), sets InPlace when the user agreed, sets
// StartTime and calls startJobThread. From then on it only sets Pause/Abort, answers prompts
// (answerPrompts) and reads counters, until it sees Finished and joins the thread.
#pragma once

#include <cstdint>
#include <thread>

#include "engine/job_state.h"

namespace tamzel {

// Worker count W, queue capacity Q and pool size N of a processing job.
struct PipelineSizes {
  uint32_t workers = 1;        // W: hardware threads - 1, at least 1
  uint32_t queueCapacity = 3;  // Q: W * 1.5 (single precision, truncated), at least 3
  uint32_t poolSize = 10;      // N: 2Q + 2W + 2
};

// The sizes for a machine reporting `hardwareThreads` (0 = unknown, treated as 1).
PipelineSizes computePipelineSizes(unsigned hardwareThreads);
// The sizes for a given worker count (W forced, Q and N derived from it as usual).
PipelineSizes pipelineSizesForWorkers(uint32_t workers);

// What the job thread saw of its own pipeline, for tests and benchmarks.
struct JobRunReport {
  PipelineSizes sizes;
  bool pipelineBuilt = false;  // a processing job got as far as building the pipeline
  uint32_t workersStarted = 0;
  bool writerStarted = false;
  uint32_t recordsCreated = 0;          // pool records built (N)
  uint32_t recordsInPool = 0;           // free in the pool once every thread had ended
  uint32_t recordsDropped = 0;          // items an abort left in a queue or in a worker's hands
  bool poolConsistent = false;          // the pool held every record exactly once at the end
  uint32_t checksumListsDiscarded = 0;  // unfinished lists dropped at the job end
};

// The body of the job thread. `source` is the input folder (processing) or the folder to
// verify; `destinationOrNull` is the output folder, or nullptr for a verification-only job.
// Both end in "/" and fit a 1024-byte buffer (longer ones end the job with a fatal error).
// Returns when the job is over; Finished is set as its last action.
void runJob(const char* source, const char* destinationOrNull, JobState& state);

// The same with the pipeline sizes given (nullptr: from the hardware) and a report of what the
// job thread built; for tests and benchmarks.
void runJob(const char* source, const char* destinationOrNull, JobState& state,
            const PipelineSizes* sizes, JobRunReport* report);

// Starts the job thread. The folder texts are copied before the thread starts. When the thread
// cannot be created the job is failed (fatal error "Could not start the job thread.", Abort and
// Finished set) and the returned thread is not joinable.
std::thread startJobThread(const char* source, const char* destinationOrNull, JobState& state);

// The DNG name rule: at least 4 characters, ending in "." and d, n, g in either case.
bool isDngName(const char* name);

}  // namespace tamzel
