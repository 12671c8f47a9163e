// The pieces between the threads of a processing job: pool records, the cooperative pool, the
// two bounded queues and the way an abort reaches threads blocked on them.
#include "engine/pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "engine_test_support.h"
#include "platform/platform.h"

namespace tamzel {
namespace {

using enginetest::JobRecord;
using enginetest::TempTree;

TEST(PipelineSizes, FollowTheHardwareThreadCount) {
  struct Case {
    unsigned threads;
    uint32_t w, q, n;
  };
  const Case cases[] = {{0, 1, 3, 10}, {1, 1, 3, 10},  {2, 1, 3, 10},
                        {4, 3, 4, 16}, {8, 7, 10, 36}, {16, 15, 22, 76}};
  for (const Case& c : cases) {
    PipelineSizes sizes = computePipelineSizes(c.threads);
    EXPECT_EQ(sizes.workers, c.w) << c.threads;
    EXPECT_EQ(sizes.queueCapacity, c.q) << c.threads;
    EXPECT_EQ(sizes.poolSize, c.n) << c.threads;
  }
  PipelineSizes forced = pipelineSizesForWorkers(5);  // 7.5 truncated
  EXPECT_EQ(forced.queueCapacity, 7u);
  EXPECT_EQ(forced.poolSize, 2 * 7u + 2 * 5u + 2);
}

TEST(DngName, OnlyTheLastFourCharactersDecide) {
  for (const char* name : {"IMG.DNG", "a.Dng", "x.dng", ".dng", "A001.dNg"})
    EXPECT_TRUE(isDngName(name)) << name;
  for (const char* name : {"dng", "x_dng", "x.dngx", "", "x.dn", "x.dnG.txt", "xdng."})
    EXPECT_FALSE(isDngName(name)) << name;
}

TEST(PoolRecord, GrowsToSizePlusOneMebibyteAndNeverShrinks) {
  SPoolMem record;
  ASSERT_TRUE(reserveRecord(&record, 1000));
  EXPECT_EQ(record.capacity, 1000u + 1048576u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(record.data) % platform::pageSize(), 0u);
  uint8_t* first = record.data;
  ASSERT_TRUE(reserveRecord(&record, 10));  // smaller file: the record is kept as it is
  EXPECT_EQ(record.data, first);
  EXPECT_EQ(record.capacity, 1000u + 1048576u);
  ASSERT_TRUE(reserveRecord(&record, 5000000));
  EXPECT_EQ(record.capacity, 5000000u + 1048576u);
  EXPECT_FALSE(reserveRecord(&record, uint64_t{1} << 33));  // beyond a record's reach
  EXPECT_EQ(record.data, nullptr);
  EXPECT_EQ(record.capacity, 0u);
  releaseRecord(&record);
}

TEST(CoopPool, IsALastInFirstOutStackThatReportsBrokenInvariants) {
  SPoolMem records[3];
  SPoolMem* items[3] = {&records[0], &records[1], &records[2]};
  BufferPool pool(items, 3, false);
  EXPECT_EQ(pool.take(), &records[2]);
  SPoolMem* b = pool.take();
  EXPECT_EQ(b, &records[1]);
  EXPECT_TRUE(pool.give(b));
  EXPECT_EQ(pool.take(), b);  // the most recently returned record comes out first
  EXPECT_EQ(pool.take(), &records[0]);
  EXPECT_EQ(pool.take(), nullptr);  // empty
  EXPECT_TRUE(pool.give(&records[0]));
  EXPECT_TRUE(pool.give(&records[1]));
  EXPECT_TRUE(pool.give(&records[2]));
  EXPECT_FALSE(pool.give(&records[2]));  // overfilled
  EXPECT_EQ(pool.freeCount(), 3);
}

TEST(CoopPool, ManyThreadsTakeAndGiveWithoutLosingARecord) {
  constexpr int kRecords = 16;
  SPoolMem records[kRecords];
  SPoolMem* items[kRecords];
  for (int i = 0; i < kRecords; ++i) items[i] = &records[i];
  BufferPool pool(items, kRecords, false);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        SPoolMem* a = pool.take();
        SPoolMem* b = pool.take();
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        a->capacity += 1;  // a record is never held by two threads at once (TSan would see it)
        pool.give(a);
        pool.give(b);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(pool.freeCount(), kRecords);
  uint64_t uses = 0;
  for (const SPoolMem& r : records) uses += r.capacity;
  EXPECT_EQ(uses, 4u * 20000u);
}

struct QueueRig {
  JobRecord job{JobSettings{}};
  SPoolMem records[32];
  SPoolMem* items[32];
  BufferPool pool{items, 32, false};
  WorkQueue work{3};
  WriteQueue write{3};
  Pipeline pipeline;
  QueueRig() {
    for (int i = 0; i < 32; ++i) items[i] = &records[i];
    pipeline.state = &job.state;
    pipeline.pool = &pool;
    pipeline.work = &work;
    pipeline.write = &write;
  }
  PipelineItem item(uint32_t sequence) {
    PipelineItem it;
    it.sequence = sequence;
    it.buffer = &records[sequence % 32];
    return it;
  }
};

TEST(WriteQueue, PopsTheSmallestSequencePresentAtEachPop) {
  QueueRig rig;
  WriteQueue queue(8);
  rig.pipeline.write = &queue;
  for (uint32_t s : {5u, 3u, 9u, 1u, 7u}) ASSERT_TRUE(writeQueuePush(rig.pipeline, rig.item(s)));
  std::vector<uint32_t> order;
  order.push_back(writeQueuePopLocked(queue).sequence);
  order.push_back(writeQueuePopLocked(queue).sequence);
  ASSERT_TRUE(writeQueuePush(rig.pipeline, rig.item(2)));  // late arrival with a small number
  ASSERT_TRUE(writeQueuePush(rig.pipeline, rig.item(4)));
  while (!queue.heap.empty()) order.push_back(writeQueuePopLocked(queue).sequence);
  EXPECT_EQ(order, (std::vector<uint32_t>{1, 3, 2, 4, 5, 7, 9}));
}

TEST(WorkQueue, IsFirstInFirstOutAndEndsWhenTheReaderHasFinished) {
  QueueRig rig;
  for (uint32_t s : {4u, 2u, 8u}) ASSERT_TRUE(workQueuePush(rig.pipeline, rig.item(s)));
  PipelineItem got;
  std::vector<uint32_t> order;
  workQueueSetReaderFinished(rig.work);
  while (workQueuePop(rig.pipeline, got) == PopResult::Item) order.push_back(got.sequence);
  EXPECT_EQ(order, (std::vector<uint32_t>{4, 2, 8}));
  EXPECT_EQ(workQueuePop(rig.pipeline, got), PopResult::ReaderFinished);
}

TEST(WorkQueue, BlocksAtCapacityUntilAWorkerTakesAnItem) {
  QueueRig rig;
  for (uint32_t s = 0; s < 3; ++s) ASSERT_TRUE(workQueuePush(rig.pipeline, rig.item(s)));
  std::atomic<bool> pushed{false};
  std::thread walker([&] {
    EXPECT_TRUE(workQueuePush(rig.pipeline, rig.item(3)));
    pushed.store(true);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(pushed.load());
  PipelineItem got;
  ASSERT_EQ(workQueuePop(rig.pipeline, got), PopResult::Item);
  walker.join();
  EXPECT_TRUE(pushed.load());
  EXPECT_EQ(rig.work.count, 3u);
}

// Abort is set without any notification; the threads that are still moving pass it on to the
// blocked ones: the writer leaving wakes the workers stuck on a full write queue, and a worker
// leaving wakes the walker stuck on a full work queue.
TEST(AbortChain, ReachesEveryThreadBlockedOnAFullQueue) {
  QueueRig rig;
  for (uint32_t s = 0; s < 3; ++s) ASSERT_TRUE(workQueuePush(rig.pipeline, rig.item(s)));
  for (uint32_t s = 10; s < 13; ++s) ASSERT_TRUE(writeQueuePush(rig.pipeline, rig.item(s)));
  std::atomic<int> gaveUp{0};
  std::vector<std::thread> blocked;
  for (uint32_t s = 20; s < 24; ++s) {  // workers holding finished files
    blocked.emplace_back([&, s] {
      if (!writeQueuePush(rig.pipeline, rig.item(s))) gaveUp.fetch_add(1);
    });
  }
  blocked.emplace_back([&] {  // the walker holding a loaded file
    if (!workQueuePush(rig.pipeline, rig.item(30))) gaveUp.fetch_add(1);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(gaveUp.load(), 0);
  rig.job.state.Abort.store(true);
  std::thread writer([&] { outputWriter(rig.pipeline); });
  std::thread worker([&] { workerThread(rig.pipeline); });
  writer.join();
  worker.join();
  for (auto& t : blocked) t.join();
  EXPECT_EQ(gaveUp.load(), 5);
  EXPECT_EQ(rig.write.heap.size(), 3u);  // queued items are not written after an abort
}

TEST(OutputWriter, WritesEveryQueuedItemAfterTheWorkersFinishedInSequenceOrder) {
  TempTree tree;
  QueueRig rig;
  WriteQueue queue(8);
  rig.pipeline.write = &queue;
  SPoolMem* all[4];
  for (int i = 0; i < 4; ++i) all[i] = &rig.records[i];
  BufferPool pool(all, 4, false);
  rig.pipeline.pool = &pool;
  for (int i = 0; i < 4; ++i) pool.take();                     // all four are out, holding files
  enginetest::writeText(tree / "f2", std::string(5000, 'z'));  // longer than what replaces it
  const uint32_t sizes[4] = {0, 1, 3, 4096};
  for (uint32_t i = 0; i < 4; ++i) {
    SPoolMem* record = &rig.records[i];
    ASSERT_TRUE(reserveRecord(record, sizes[i]));
    for (uint32_t b = 0; b < sizes[i]; ++b) record->data[b] = static_cast<uint8_t>(b * 7 + i);
    std::string path = tree.path() + 'f' + std::to_string(i);
    std::memcpy(record->data + sizes[i] + (sizes[i] & 1), path.c_str(), path.size() + 1);
    PipelineItem item;
    item.outputPath = reinterpret_cast<const char*>(record->data + sizes[i] + (sizes[i] & 1));
    item.buffer = record;
    item.size = sizes[i];
    item.sequence = 3 - i;
    ASSERT_TRUE(writeQueuePush(rig.pipeline, item));
  }
  writeQueueSetWorkersFinished(queue);
  outputWriter(rig.pipeline);
  EXPECT_EQ(pool.freeCount(), 4);
  EXPECT_EQ(pool.freeItems()[0], &rig.records[3]);  // sequence 0 was written (and given) first
  for (uint32_t i = 0; i < 4; ++i) {
    std::vector<uint8_t> bytes = enginetest::readBytes(tree.path() + 'f' + std::to_string(i));
    ASSERT_EQ(bytes.size(), sizes[i]) << i;
    for (uint32_t b = 0; b < sizes[i]; ++b) ASSERT_EQ(bytes[b], static_cast<uint8_t>(b * 7 + i));
  }
  EXPECT_EQ(rig.job.state.ErrorPrompts.load(), 0u);
  for (SPoolMem& r : rig.records) releaseRecord(&r);
}

}  // namespace
}  // namespace tamzel
