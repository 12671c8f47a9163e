// The bounded first-in first-out queue from the walker to the workers.
#include "engine/pipeline.h"

namespace tamzel {

WorkQueue::WorkQueue(int32_t queueCapacity)
    : ring(static_cast<std::size_t>(queueCapacity > 0 ? queueCapacity : 1)),
      capacity(queueCapacity > 0 ? queueCapacity : 1) {}

bool workQueuePush(Pipeline& pipeline, const PipelineItem& item) {
  WorkQueue& queue = *pipeline.work;
  const JobState& state = *pipeline.state;
  std::unique_lock<std::mutex> guard(queue.mutex);
  queue.notFull.wait(guard, [&] {
    return static_cast<int32_t>(queue.count) < queue.capacity || state.Abort.load();
  });
  if (state.Abort.load()) {
    guard.unlock();
    wakeAllAfterAbort(queue.mutex, queue.notEmpty);
    return false;
  }
  queue.ring[(queue.head + queue.count) % queue.ring.size()] = item;
  queue.count += 1;
  guard.unlock();
  queue.notEmpty.notify_one();
  return true;
}

PopResult workQueuePop(Pipeline& pipeline, PipelineItem& item) {
  WorkQueue& queue = *pipeline.work;
  const JobState& state = *pipeline.state;
  std::unique_lock<std::mutex> guard(queue.mutex);
  queue.notEmpty.wait(
      guard, [&] { return queue.count != 0 || queue.readerFinished || state.Abort.load(); });
  if (state.Abort.load()) return PopResult::Abort;
  if (queue.count == 0) return PopResult::ReaderFinished;
  item = queue.ring[queue.head];
  queue.head = static_cast<uint32_t>((queue.head + 1) % queue.ring.size());
  queue.count -= 1;
  guard.unlock();
  queue.notFull.notify_one();
  return PopResult::Item;
}

void workQueueSetReaderFinished(WorkQueue& queue) {
  {
    std::lock_guard<std::mutex> guard(queue.mutex);
    queue.readerFinished = true;
  }
  queue.notEmpty.notify_one();
}

}  // namespace tamzel
