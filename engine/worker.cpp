// Worker threads: each takes DNG files from the work queue, recompresses them into a second
// pool record, lists their checksums and hands them to the writer.
#include <cstring>

#include "dng/dng.h"
#include "engine/pipeline.h"
#include "integrity/crc32c.h"

namespace tamzel {

namespace {

enum class Outcome : uint8_t { Recompressed, Unchanged, Nothing };

void listChecksum(const PipelineItem& item, const uint8_t* bytes, std::size_t length) {
  if (item.list == nullptr) return;
  appendEntry(item.list, item.name, Crc32c(0, bytes, length));
}

// Recompresses one item. On Recompressed `result` describes the output record; on Unchanged it
// is the input item; on Nothing the input record is back in the pool. Returns false when the
// job must end (an output record could not be allocated); the item's records are then back in
// the pool and its checksum entry was never made, so the list stays incomplete and is
// discarded at the job end.
Outcome recompressItem(Pipeline& pipeline, RecompressWorkspace& workspace, const PipelineItem& item,
                       PipelineItem& result, bool& failed) {
  const JobState& state = *pipeline.state;
  const uint8_t* input = item.buffer->data;
  failed = false;

  // A quick look at the structure first, so a file that is passed on never holds two records.
  DngStructure structure;
  RawImageInfo info;
  bool candidate =
      readDngStructure(input, item.size, structure, info) == DngVerdict::Recompressible;

  if (candidate) {
    SPoolMem* out = pipeline.pool->take();
    if (out == nullptr) {
      failJob(*pipeline.state, "Internal error: the buffer pool ran empty.");
      failed = true;
      return Outcome::Nothing;
    }
    if (!reserveRecord(out, item.size)) {
      giveBack(pipeline, out);
      failJob(*pipeline.state, "Not enough memory for an output file buffer; the job was stopped.");
      failed = true;
      return Outcome::Nothing;
    }
    const std::size_t pathBytes = std::strlen(item.outputPath) + 1;
    // The output path follows the file in the record, so the file may use the rest only.
    const std::size_t room = out->capacity > pathBytes ? out->capacity - pathBytes : 0;
    RecompressResult recompressed =
        recompressDng(input, item.size, state.PremiereCCCompat != 0, workspace, out->data, room);
    if (recompressed.verdict == DngVerdict::Recompressible &&
        recompressed.length + (recompressed.length & 1) + pathBytes <= out->capacity) {
      const std::size_t length = recompressed.length;
      listChecksum(item, out->data, length);  // before the input record (holding the name) goes
      const std::size_t pathAt = length + (length & 1);
      std::memcpy(out->data + pathAt, item.outputPath, pathBytes);
      result = item;
      result.outputPath = reinterpret_cast<const char*>(out->data + pathAt);
      result.name = nullptr;
      result.list = nullptr;
      result.buffer = out;
      result.size = static_cast<uint32_t>(length);
      giveBack(pipeline, item.buffer);
      pipeline.state->DngCompressed.fetch_add(1);
      pipeline.state->BytesBefore.fetch_add(item.size);
      pipeline.state->BytesAfter.fetch_add(length);
      return Outcome::Recompressed;
    }
    giveBack(pipeline, out);  // could not be recompressed after all: passed on unchanged
  }

  listChecksum(item, input, item.size);
  if (state.InPlace) {
    giveBack(pipeline, item.buffer);
    return Outcome::Nothing;
  }
  result = item;
  return Outcome::Unchanged;
}

}  // namespace

void workerThread(Pipeline& pipeline) {
  RecompressWorkspace workspace;
  WorkQueue& work = *pipeline.work;
  WriteQueue& write = *pipeline.write;
  const JobState& state = *pipeline.state;
  for (;;) {
    waitWhilePaused(state);
    PipelineItem item;
    PopResult popped = workQueuePop(pipeline, item);
    if (popped == PopResult::Abort) {
      wakeAllAfterAbort(write.mutex, write.notEmpty);
      wakeAllAfterAbort(work.mutex, work.notFull);
      wakeAllAfterAbort(work.mutex, work.notEmpty);
      return;
    }
    if (popped == PopResult::ReaderFinished) {
      work.notEmpty.notify_one();
      return;
    }
    PipelineItem result;
    bool failed = false;
    Outcome outcome = recompressItem(pipeline, workspace, item, result, failed);
    if (failed) {
      giveBack(pipeline, item.buffer);
      pipeline.recordsDropped.fetch_add(1);
      continue;  // Abort is set: the next pop ends this worker and wakes the others
    }
    if (outcome == Outcome::Nothing) continue;
    if (!writeQueuePush(pipeline, result)) {
      giveBack(pipeline, result.buffer);
      pipeline.recordsDropped.fetch_add(1);
    }
  }
}

}  // namespace tamzel
