// Pool records: page-aligned buffers that only grow during a job.
#include <chrono>
#include <thread>

#include "engine/pipeline.h"
#include "platform/platform.h"

namespace tamzel {

bool reserveRecord(SPoolMem* record, uint64_t size) {
  uint64_t wanted = size + kBufferSlack;
  if (record->data != nullptr && record->capacity >= wanted) return true;
  releaseRecord(record);
  if (wanted > UINT32_MAX) return false;
  record->data =
      static_cast<uint8_t*>(platform::allocPageAligned(static_cast<std::size_t>(wanted)));
  if (record->data == nullptr) return false;
  record->capacity = static_cast<uint32_t>(wanted);
  return true;
}

void releaseRecord(SPoolMem* record) {
  platform::freePageAligned(record->data);
  record->data = nullptr;
  record->capacity = 0;
}

void giveBack(Pipeline& pipeline, SPoolMem* record) {
  if (record == nullptr) return;
  if (!pipeline.pool->give(record))
    failJob(*pipeline.state, "Internal error: a file buffer was returned twice.");
}

void waitWhilePaused(const JobState& state) {
  while (state.Pause.load()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

}  // namespace tamzel
