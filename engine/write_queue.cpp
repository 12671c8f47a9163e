// The bounded priority queue from the workers to the writer: the smallest sequence number
// present is written first.
#include "engine/pipeline.h"

namespace tamzel {

WriteQueue::WriteQueue(int32_t queueCapacity) : capacity(queueCapacity > 0 ? queueCapacity : 1) {
  heap.reserve(static_cast<std::size_t>(capacity));
}

bool writeQueuePush(Pipeline& pipeline, const PipelineItem& item) {
  WriteQueue& queue = *pipeline.write;
  const JobState& state = *pipeline.state;
  std::unique_lock<std::mutex> guard(queue.mutex);
  queue.notFull.wait(guard, [&] {
    return static_cast<int32_t>(queue.heap.size()) < queue.capacity || state.Abort.load();
  });
  if (state.Abort.load()) {
    guard.unlock();
    wakeAllAfterAbort(queue.mutex, queue.notFull);  // the other blocked workers must see it too
    return false;
  }
  std::vector<PipelineItem>& heap = queue.heap;
  heap.push_back(item);
  std::size_t at = heap.size() - 1;
  while (at > 0) {
    std::size_t parent = (at - 1) / 2;
    if (heap[parent].sequence <= heap[at].sequence) break;
    std::swap(heap[parent], heap[at]);
    at = parent;
  }
  guard.unlock();
  queue.notEmpty.notify_one();
  return true;
}

PipelineItem writeQueuePopLocked(WriteQueue& queue) {
  std::vector<PipelineItem>& heap = queue.heap;
  PipelineItem root = heap.front();
  heap.front() = heap.back();
  heap.pop_back();
  std::size_t at = 0;
  const std::size_t n = heap.size();
  for (;;) {
    std::size_t left = 2 * at + 1;
    if (left >= n) break;
    std::size_t smaller = left;
    if (left + 1 < n && heap[left + 1].sequence < heap[left].sequence) smaller = left + 1;
    if (heap[smaller].sequence >= heap[at].sequence) break;
    std::swap(heap[smaller], heap[at]);
    at = smaller;
  }
  return root;
}

void writeQueueSetWorkersFinished(WriteQueue& queue) {
  {
    std::lock_guard<std::mutex> guard(queue.mutex);
    queue.workersFinished = true;
  }
  queue.notEmpty.notify_one();
}

}  // namespace tamzel
