// Inside the job engine: the pooled file buffers, the two bounded queues between the walker,
// the workers and the writer, and the entry points of the threads that share them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/engine.h"
#include "engine/job_state.h"
#include "integrity/checksum_list.h"

namespace tamzel {

constexpr uint64_t kMaxQueuedDngSize = 200000000;  // larger DNG files are copied, not queued
constexpr uint32_t kBufferSlack = 1048576;         // room beyond the file bytes in a record
constexpr std::size_t kCopyBufferSize = 1048576;

// One page-aligned file buffer.
struct SPoolMem {
  uint32_t capacity = 0;
  uint8_t* data = nullptr;
};

// Makes sure the record holds at least `size` + 1 MiB bytes; when it does not, its memory is
// replaced by exactly that much. Returns false (record left empty) when the memory cannot be
// had or the size is beyond what a record can describe.
bool reserveRecord(SPoolMem* record, uint64_t size);
void releaseRecord(SPoolMem* record);

// A stack of free items shared by several threads, never waiting for an item: the sizing of
// the pipeline guarantees that a take always finds one.
template <typename T>
class CCoopPool {
 public:
  CCoopPool(T* items, int32_t count, bool ownsItems)
      : items_(items), count_(count), capacity_(count), ownsItems_(ownsItems) {}
  CCoopPool(const CCoopPool&) = delete;
  CCoopPool& operator=(const CCoopPool&) = delete;
  virtual ~CCoopPool() {
    if (ownsItems_) delete[] items_;
  }

  // The most recently given item; T{} when the pool is empty, which the sizing rule excludes
  // (callers treat it as a broken invariant).
  T take() {
    lock();
    T item{};
    if (count_ > 0) item = items_[--count_];
    unlock();
    return item;
  }

  // Returns false (and keeps nothing) when the pool is already full: a broken invariant.
  bool give(T item) {
    lock();
    bool fits = count_ < capacity_;
    if (fits) items_[count_++] = item;
    unlock();
    return fits;
  }

  int32_t freeCount() {
    lock();
    int32_t n = count_;
    unlock();
    return n;
  }
  int32_t capacity() const { return capacity_; }
  // The free items; only while no other thread uses the pool.
  const T* freeItems() const { return items_; }

 private:
  void lock() {
    for (;;) {
      uint8_t expected = 0;
      if (spin_.compare_exchange_weak(expected, 1, std::memory_order_acquire)) return;
    }
  }
  void unlock() { spin_.exchange(0, std::memory_order_release); }

  std::atomic<uint8_t> spin_{0};
  T* items_;
  int32_t count_;
  int32_t capacity_;
  bool ownsItems_;
};

using BufferPool = CCoopPool<SPoolMem*>;

// One file in flight.
struct PipelineItem {
  const char* outputPath = nullptr;  // inside the buffer, after the data
  const char* name = nullptr;        // file-name part of outputPath (worker only)
  ChecksumList* list = nullptr;      // the output folder's checksum list, or none
  SPoolMem* buffer = nullptr;
  uint32_t size = 0;
  uint32_t sequence = 0;
};

// Walker -> workers: first in, first out, at most `capacity` items.
struct WorkQueue {
  std::mutex mutex;
  std::condition_variable notEmpty;
  std::condition_variable notFull;
  std::vector<PipelineItem> ring;  // capacity slots, allocated once
  uint32_t head = 0;
  uint32_t count = 0;
  int32_t capacity = 3;
  bool readerFinished = false;  // under mutex

  explicit WorkQueue(int32_t queueCapacity);
};

// Workers -> writer: the smallest sequence number first, at most `capacity` items.
struct WriteQueue {
  std::mutex mutex;
  std::condition_variable notEmpty;
  std::condition_variable notFull;
  std::vector<PipelineItem> heap;  // reserved for capacity items once
  int32_t capacity = 3;
  bool workersFinished = false;  // under mutex

  explicit WriteQueue(int32_t queueCapacity);
};

// Everything the threads of one processing job share besides JobState.
struct Pipeline {
  JobState* state = nullptr;
  BufferPool* pool = nullptr;
  WorkQueue* work = nullptr;
  WriteQueue* write = nullptr;
  uint32_t nextSequence = 0;                // walker only
  uint8_t* copyBuffer = nullptr;            // walker only, 1 MiB page-aligned, made on demand
  std::atomic<uint32_t> recordsDropped{0};  // items given up because of an abort
};

// Wakes every waiter of `condition` after an abort. The mutex is taken and dropped first: Abort
// is set without it, so a waiter that has just tested Abort under the mutex and not yet begun
// to wait would otherwise miss the notification.
inline void wakeAllAfterAbort(std::mutex& mutex, std::condition_variable& condition) {
  { std::lock_guard<std::mutex> handshake(mutex); }
  condition.notify_all();
}

// Pausing checkpoint shared by every engine loop: sleeps 100 ms at a time while Pause is set.
void waitWhilePaused(const JobState& state);

// Gives a record back to the pool (a full pool is a broken invariant and ends the job).
void giveBack(Pipeline& pipeline, SPoolMem* record);

// WorkQueue operations. Push waits for room; returns false without pushing when Abort is set
// (having notified one not-empty waiter). Pop waits for an item; see PopResult.
bool workQueuePush(Pipeline& pipeline, const PipelineItem& item);
enum class PopResult : uint8_t { Item, Abort, ReaderFinished };
PopResult workQueuePop(Pipeline& pipeline, PipelineItem& item);
void workQueueSetReaderFinished(WorkQueue& queue);

// WriteQueue push (workers): waits for room; returns false without pushing when Abort is set.
bool writeQueuePush(Pipeline& pipeline, const PipelineItem& item);
void writeQueueSetWorkersFinished(WriteQueue& queue);
// Pops the smallest sequence number; the caller holds the mutex and the heap is not empty.
PipelineItem writeQueuePopLocked(WriteQueue& queue);

// Thread bodies.
void workerThread(Pipeline& pipeline);
void outputWriter(Pipeline& pipeline);

// Writes one finished item to its output path (under InPlace through a temporary file in the
// same folder that replaces the original only when complete), asking the user about failures.
// The record is not given back here.
void writeOutputFile(const JobState& state, const PipelineItem& item);

// The folder walk of a processing job. Returns false when the job is to stop. `topHasEntries`
// (top level only) receives whether the destination folder's own list got an entry.
bool walkFolder(Pipeline& pipeline, const char* source, const char* destination, bool topLevel,
                bool* topHasEntries);

// The counting pass over `folder` (ending in "/"). Returns false on Abort.
bool countFolder(JobState& state, const char* folder);

}  // namespace tamzel
