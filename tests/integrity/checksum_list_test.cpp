// Checksum lists: the exact bytes of "checksum.tz", completion by whichever thread delivers the
// last entry, withdrawn entries, lists larger than the 4 MiB buffer, concurrent appends, and the
// OpenWrite/Write prompts of a list file that cannot be written.

#include "integrity/checksum_list.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "integrity/crc32c.h"
#include "support/job_harness.h"

namespace tamzel {
namespace {

using test::JobHarness;
using test::TempDir;

std::string line(uint32_t crc, const std::string& name) {
  std::string out(name.size() + 10, '\0');
  formatChecksumLine(out.data(), name.c_str(), name.size(), crc);
  return out;
}

class ChecksumListTest : public ::testing::Test {
 protected:
  void TearDown() override { discardOpenChecksumLists(); }
  std::string listPath() const { return dir.path() + "checksum.tz"; }
  JobHarness harness;
  TempDir dir;
};

TEST_F(ChecksumListTest, LineIsUpperHexTabNameLf) {
  struct Case {
    uint32_t crc;
    const char* name;
    const char* bytes;
  } cases[] = {
      {Crc32c(0, "abc", 3), "A001_0001.dng", "364B3FB7\tA001_0001.dng\n"},
      {0x0000ABCDu, "x", "0000ABCD\tx\n"},
      {0xFFFFFFFFu, "name with spaces.txt", "FFFFFFFF\tname with spaces.txt\n"},
      {0u, "\tleading tab", "00000000\t\tleading tab\n"},  // written as it is
  };
  ChecksumList* list = createChecksumList(dir.path().c_str());
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list->path, listPath().c_str());
  std::string expected;
  for (const Case& c : cases) {
    announceEntry(list);
    appendEntry(list, c.name, c.crc);
    expected += c.bytes;
  }
  EXPECT_EQ(line(Crc32c(0, "abc", 3), "A001_0001.dng").size(), 23u);
  EXPECT_EQ(openChecksumListCount(), 1u);
  EXPECT_TRUE(closeList(list));
  EXPECT_EQ(test::readText(listPath()), expected);
  EXPECT_EQ(openChecksumListCount(), 0u);
  EXPECT_TRUE(harness.prompts().empty());
}

// The order of the walker's and the workers' calls decides who writes the list; the result must
// be the same list, written once, and the object released.
TEST_F(ChecksumListTest, CompletedByWhicheverCallIsLast) {
  enum Op { Announce, Append, Withdraw, Close };
  struct Case {
    const char* what;
    std::vector<Op> ops;
    std::string expected;  // file content; "-" for no file
    bool hadEntries;
  } cases[] = {
      {"walker closes after all entries",
       {Announce, Announce, Append, Append, Close},
       line(1, "f1") + line(2, "f2"),
       true},
      {"last worker entry after the close",
       {Announce, Announce, Append, Close, Append},
       line(1, "f1") + line(2, "f2"),
       true},
      {"no entries: no file", {Close}, "-", false},
      {"withdrawn entry before the close",
       {Announce, Announce, Append, Withdraw, Close},
       line(1, "f1"),
       true},
      {"withdrawal completes a closed list",
       {Announce, Announce, Append, Close, Withdraw},
       line(1, "f1"),
       true},
      // The folder then ends up without a list, so the top-level folder must not count as
      // having entries.
      {"only entry withdrawn: no file", {Announce, Withdraw, Close}, "-", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::remove(listPath().c_str());
    ChecksumList* list = createChecksumList(dir.path().c_str());
    ASSERT_NE(list, nullptr);
    int appended = 0;
    bool hadEntries = false;
    for (Op op : c.ops) {
      switch (op) {
        case Announce:
          announceEntry(list);
          break;
        case Append: {
          ++appended;
          char name[16];
          std::snprintf(name, sizeof name, "f%d", appended);
          appendEntry(list, name, static_cast<uint32_t>(appended));
          break;
        }
        case Withdraw:
          withdrawEntry(list);
          break;
        case Close:
          hadEntries = closeList(list);
          break;
      }
    }
    EXPECT_EQ(hadEntries, c.hadEntries);
    if (c.expected == "-") {
      EXPECT_FALSE(test::pathExists(listPath()));
    } else {
      EXPECT_EQ(test::readText(listPath()), c.expected);
    }
    EXPECT_EQ(openChecksumListCount(), 0u);
  }
}

TEST_F(ChecksumListTest, OldListKeptWithoutEntriesReplacedWithEntries) {
  test::writeText(listPath(), "old list\n");
  ChecksumList* empty = createChecksumList(dir.path().c_str());
  closeList(empty);
  EXPECT_EQ(test::readText(listPath()), "old list\n");
  ChecksumList* list = createChecksumList(dir.path().c_str());
  announceEntry(list);
  appendEntry(list, "a.dng", 0x12345678u);
  closeList(list);
  EXPECT_EQ(test::readText(listPath()), "12345678\ta.dng\n");
}

// 150,000 lines of 40 bytes (6 MB) do not fit the 4 MiB buffer: the list is written in pieces
// and must equal the text written at once.
TEST_F(ChecksumListTest, ListLargerThanBufferWrittenInPieces) {
  ChecksumList* list = createChecksumList(dir.path().c_str());
  std::string expected;
  const int count = 150000;
  expected.reserve(count * 40u);
  for (int i = 0; i < count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "A001_C002_20260101_R1_%08d", i);  // 30 characters
    uint32_t crc = Crc32c(0, name, 30);
    announceEntry(list);
    appendEntry(list, name, crc);
    expected += line(crc, name);
  }
  ASSERT_GT(expected.size(), kChecksumListCapacity);
  closeList(list);
  std::string written = test::readText(listPath());
  EXPECT_EQ(written.size(), expected.size());
  EXPECT_TRUE(written == expected);
  EXPECT_TRUE(harness.prompts().empty());
}

// Several workers append to one list while the walker closes it; every entry appears exactly
// once, and exactly one thread writes the file (run under TSan for the races).
TEST_F(ChecksumListTest, ConcurrentAppendsFromSeveralThreads) {
  const int threads = 6;
  const int perThread = 3000;  // 18,000 lines of ~20 bytes, plus a second round over 4 MiB
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    std::remove(listPath().c_str());
    const int nameWidth = round == 0 ? 10 : 250;  // round 1: ~4.6 MB, flushed in pieces
    ChecksumList* list = createChecksumList(dir.path().c_str());
    for (int i = 0; i < threads * perThread; ++i) announceEntry(list);
    std::vector<std::thread> workers;
    std::set<std::string> expected;
    for (int t = 0; t < threads; ++t) {
      for (int i = 0; i < perThread; ++i) {
        std::string name = std::to_string(t) + "_" + std::to_string(i);
        name.resize(nameWidth, 'x');
        expected.insert(line(static_cast<uint32_t>(t * perThread + i), name));
      }
      workers.emplace_back([list, t, nameWidth] {
        for (int i = 0; i < perThread; ++i) {
          std::string name = std::to_string(t) + "_" + std::to_string(i);
          name.resize(nameWidth, 'x');
          appendEntry(list, name.c_str(), static_cast<uint32_t>(t * perThread + i));
        }
      });
    }
    // The walker leaves the folder while the workers are still delivering.
    EXPECT_TRUE(closeList(list));
    for (std::thread& w : workers) w.join();
    std::istringstream text(test::readText(listPath()));
    std::multiset<std::string> lines;
    for (std::string l; std::getline(text, l);) lines.insert(l + "\n");
    EXPECT_EQ(lines.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), lines.begin(), lines.end()));
    EXPECT_EQ(openChecksumListCount(), 0u);
  }
}

// A list file that cannot be created: OpenWrite prompt on its path; Retry after the cause was
// removed writes it, Skip and Abort leave it unwritten (and no silent success).
TEST_F(ChecksumListTest, ListThatCannotBeCreatedAsksOpenWrite) {
  struct Case {
    PromptAnswer answer;
    bool written;
  } cases[] = {
      {PromptAnswer::Retry, true}, {PromptAnswer::Skip, false}, {PromptAnswer::Abort, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.answer));
    harness.state().Abort.store(false);
    test::removeTree(listPath());
    test::makeFolder(listPath());  // a folder where the list file must go
    std::string blocker = listPath();
    harness.setScript([&](const ErrorPrompt&) {
      if (c.answer == PromptAnswer::Retry) test::removeTree(blocker);
      return c.answer;
    });
    size_t before = harness.prompts().size();
    ChecksumList* list = createChecksumList(dir.path().c_str());
    announceEntry(list);
    appendEntry(list, "a.dng", 0xCAFEF00Du);
    closeList(list);
    std::vector<test::SeenPrompt> seen = harness.prompts();
    ASSERT_EQ(seen.size(), before + 1);
    EXPECT_EQ(seen.back().kind, PromptKind::OpenWrite);
    EXPECT_EQ(seen.back().path, listPath());
    if (c.written) {
      EXPECT_EQ(test::readText(listPath()), "CAFEF00D\ta.dng\n");
    }
    EXPECT_EQ(openChecksumListCount(), 0u);
  }
}

// Short writes (a list that lands on a full device) ask Write with the device's error number.
TEST_F(ChecksumListTest, ShortWriteAsksWriteAndSkipGivesUp) {
  ASSERT_EQ(::symlink("/dev/full", listPath().c_str()), 0);
  harness.answerAlways(PromptAnswer::Skip);
  ChecksumList* list = createChecksumList(dir.path().c_str());
  announceEntry(list);
  appendEntry(list, "a.dng", 1);
  closeList(list);
  std::vector<test::SeenPrompt> seen = harness.prompts();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].kind, PromptKind::Write);
  EXPECT_EQ(seen[0].errorCode, 28);  // ENOSPC
  EXPECT_EQ(openChecksumListCount(), 0u);
}

// Retry on a short write writes the same piece again at the offset where it began: a list of
// two pieces hits the file size limit in its second piece; the user raises the limit and
// retries; the file must equal the text written at once.
TEST_F(ChecksumListTest, RetryAfterShortWriteRewritesThePieceInPlace) {
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = kChecksumListCapacity + 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  int asked = 0;
  harness.setScript([&](const ErrorPrompt&) {
    ++asked;
    ::setrlimit(RLIMIT_FSIZE, &saved);
    return PromptAnswer::Retry;
  });
  ChecksumList* list = createChecksumList(dir.path().c_str());
  std::string expected;
  for (int i = 0; i < 150000; ++i) {
    std::string name = "A001_C002_frame_" + std::to_string(i) + ".dng";
    announceEntry(list);
    appendEntry(list, name.c_str(), static_cast<uint32_t>(i) * 2654435761u);
    expected += line(static_cast<uint32_t>(i) * 2654435761u, name);
  }
  closeList(list);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);
  ASSERT_GT(expected.size(), kChecksumListCapacity + 1000);
  EXPECT_EQ(asked, 1);
  std::vector<test::SeenPrompt> seen = harness.prompts();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].kind, PromptKind::Write);
  EXPECT_EQ(seen[0].errorCode, EFBIG);
  std::string written = test::readText(listPath());
  EXPECT_EQ(written.size(), expected.size());
  EXPECT_TRUE(written == expected);
  EXPECT_EQ(openChecksumListCount(), 0u);
}

// A failed intermediate write disables the list for good: later entries are dropped, the walker
// cannot finish it, and the job end discards it.
TEST_F(ChecksumListTest, FailedIntermediateWriteDisablesList) {
  ASSERT_EQ(::symlink("/dev/full", listPath().c_str()), 0);
  harness.answerAlways(PromptAnswer::Skip);
  ChecksumList* list = createChecksumList(dir.path().c_str());
  std::string name(200, 'n');
  const int count = static_cast<int>(kChecksumListCapacity / 210) + 10;
  for (int i = 0; i < count; ++i) {
    announceEntry(list);
    appendEntry(list, name.c_str(), 7);
  }
  EXPECT_FALSE(list->enabled.load());
  EXPECT_LT(list->appended.load(), list->expected.load());
  EXPECT_EQ(harness.prompts().size(), 1u);
  closeList(list);
  EXPECT_EQ(openChecksumListCount(), 1u);
  discardOpenChecksumLists();
  EXPECT_EQ(openChecksumListCount(), 0u);
}

// After an abort the lists of unfinished folders are released without writing anything.
TEST_F(ChecksumListTest, DiscardWritesNothing) {
  ChecksumList* open = createChecksumList(dir.path().c_str());
  announceEntry(open);
  announceEntry(open);
  appendEntry(open, "a.dng", 1);  // one entry still outstanding
  TempDir other;
  ChecksumList* unclosed = createChecksumList(other.path().c_str());
  announceEntry(unclosed);
  appendEntry(unclosed, "b.dng", 2);  // complete but the walker never left the folder
  closeList(open);
  EXPECT_EQ(openChecksumListCount(), 2u);
  discardOpenChecksumLists();
  EXPECT_EQ(openChecksumListCount(), 0u);
  EXPECT_FALSE(test::pathExists(listPath()));
  EXPECT_FALSE(test::pathExists(other.path() + "checksum.tz"));
}

TEST_F(ChecksumListTest, FolderPathThatDoesNotFitGetsNoList) {
  std::string longFolder(kPathBufferSize + 20, 'a');
  longFolder += "/";
  EXPECT_EQ(createChecksumList(longFolder.c_str()), nullptr);
  std::string longest(kPathBufferSize - 2, 'b');
  longest += "/";
  ChecksumList* list = createChecksumList(longest.c_str());
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(std::string(list->path), longest + "checksum.tz");
  closeList(list);
}

}  // namespace
}  // namespace tamzel
