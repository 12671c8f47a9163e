// Verification against checksum lists: what the list reader accepts and rejects, the counters
// and the issue messages, the rules for subfolders (mirror folder, top list skipped, folders
// without lists), unreadable lists and files through prompts, and special files or paths that
// must neither hang nor escape the folder nor overflow a path buffer.

#include "integrity/verify.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "integrity/crc32c.h"
#include "support/job_harness.h"

namespace tamzel {
namespace {

using test::JobHarness;
using test::TempDir;

struct Counts {
  uint32_t foldersWithList = 0, foldersWithout = 0, entries = 0, ok = 0, errors = 0, missing = 0,
           skipped = 0, corrupted = 0;
  bool operator==(const Counts&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Counts& c) {
  return out << "{lists " << c.foldersWithList << ", without " << c.foldersWithout << ", entries "
             << c.entries << ", ok " << c.ok << ", errors " << c.errors << ", missing " << c.missing
             << ", skipped " << c.skipped << ", corrupted " << c.corrupted << "}";
}

Counts countsOf(const JobState& s) {
  return {s.FoldersProcessed.load(), s.FoldersWithoutLists.load(), s.FilesProcessed.load(),
          s.FilesOk.load(),          s.ChecksumErrors.load(),      s.FilesMissing.load(),
          s.FilesSkipped.load(),     s.CorruptedLists.load()};
}

std::string hex(uint32_t v) {
  char b[9];
  std::snprintf(b, sizeof b, "%08X", v);
  return b;
}

std::string crcOf(const std::string& bytes) {
  return hex(Crc32c(0, bytes.data(), bytes.size()));
}

// Replaces every "{D}" by the folder path and every "{L}" by the list path.
std::string expand(std::string text, const std::string& folder) {
  for (auto [key, value] : {std::pair<std::string, std::string>{"{L}", folder + "checksum.tz"},
                            std::pair<std::string, std::string>{"{D}", folder}}) {
    for (std::size_t at; (at = text.find(key)) != std::string::npos;) {
      text.replace(at, key.size(), value);
    }
  }
  return text;
}

class VerifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    harness.state().Recurse = 1;
    harness.answerAlways(PromptAnswer::Skip);
  }
  void TearDown() override { releaseVerificationBuffers(); }
  void reset() {
    JobState& s = harness.state();
    for (auto* c : {&s.FoldersProcessed, &s.FoldersWithoutLists, &s.FilesProcessed, &s.FilesOk,
                    &s.ChecksumErrors, &s.FilesMissing, &s.FilesSkipped, &s.CorruptedLists}) {
      c->store(0);
    }
    s.Abort.store(false);
    resetIssueLog(harness.issues());
  }
  bool verify(const std::string& folder, const char* mirror = nullptr, bool skipList = false) {
    return verifyFolder(folder.c_str(), mirror, skipList);
  }
  JobHarness harness;
  TempDir dir;
};

const std::string kAbc = "abc";      // CRC-32C 364B3FB7
const std::string kHello = "hello";  // a second file

// One folder with the files a.dng ("abc") and b.txt ("hello") and the given list text.
TEST_F(VerifyTest, ListReaderAcceptsAndRejects) {
  const std::string a = crcOf(kAbc), b = crcOf(kHello);
  struct Case {
    const char* what;
    std::string list;
    Counts counts;
    std::string issues;
  } cases[] = {
      {"plain list", a + "\ta.dng\n" + b + "\tb.txt\n", {1, 0, 2, 2, 0, 0, 0, 0}, ""},
      {"CR LF, blank lines, no LF at the end",
       a + "\ta.dng\r\n\r\n\n" + b + "\tb.txt",
       {1, 0, 2, 2, 0, 0, 0, 0},
       ""},
      {"byte-order mark",
       "\xEF\xBB\xBF" + a + "\ta.dng\n" + b + "\tb.txt\n",
       {1, 0, 2, 2, 0, 0, 0, 0},
       ""},
      {"no TAB, several TABs", a + "a.dng\n" + b + "\t\t\tb.txt\n", {1, 0, 2, 2, 0, 0, 0, 0}, ""},
      {"lower-case hex",
       "364b3fb7\ta.dng\n" + b + "\tb.txt\n",
       {1, 0, 0, 0, 0, 0, 0, 1},
       "\nCorruption detected in checksum list {L} Skipping remaining entries."},
      {"digits then LF",
       a + "\ta.dng\n" + b + "\n" + a + "\ta.dng\n",
       {1, 0, 1, 1, 0, 0, 0, 1},
       "\nCorruption detected in checksum list {L} Skipping remaining entries."},
      {"digits, TABs, then LF",
       a + "\t\t\n" + a + "\ta.dng\n",
       {1, 0, 0, 0, 0, 0, 0, 1},
       "\nCorruption detected in checksum list {L} Skipping remaining entries."},
      {"empty name before CR",
       a + "\t\r\n" + a + "\ta.dng\n",
       {1, 0, 0, 0, 0, 0, 0, 1},
       "\nCorruption detected in checksum list {L} Skipping remaining entries."},
      {"short digits",
       "364B3F\ta.dng\n" + b + "\tb.txt\n",
       {1, 0, 0, 0, 0, 0, 0, 1},
       "\nCorruption detected in checksum list {L} Skipping remaining entries."},
      {"11 bytes: not examined", a + "\ta\n", {1, 0, 0, 0, 0, 0, 0, 0}, ""},
      {"12 bytes: examined",
       a + "\tab\n",
       {1, 0, 1, 0, 0, 1, 0, 0},
       "\nMissing file: {D}ab listed in checksum list {L}"},
      {"only a byte-order mark and spaces",
       "\xEF\xBB\xBF         ",
       {1, 0, 0, 0, 0, 0, 0, 1},
       "\nCorruption detected in checksum list {L} Skipping remaining entries."},
      {"missing file",
       a + "\ta.dng\n" + b + "\tgone.txt\n",
       {1, 0, 2, 1, 0, 1, 0, 0},
       "\nMissing file: {D}gone.txt listed in checksum list {L}"},
      {"checksum differs",
       b + "\ta.dng\n" + b + "\tb.txt\n",
       {1, 0, 2, 1, 1, 0, 0, 0},
       "\nChecksum error: {D}a.dng"},
      {"spaces belong to the name",
       a + "\t a.dng\n" + b + "\tb.txt\n",
       {1, 0, 2, 1, 0, 1, 0, 0},
       "\nMissing file: {D} a.dng listed in checksum list {L}"},
      {"same name twice", a + "\ta.dng\n" + a + "\ta.dng\n", {1, 0, 2, 2, 0, 0, 0, 0}, ""},
      {"name with a slash",
       a + "\ta.dng\n" + a + "\tsub/a.dng\n",
       {1, 0, 1, 1, 0, 0, 0, 1},
       "\nCorruption detected in checksum list {L} Skipping remaining entries."},
      {"name leaving the folder",
       b + "\t../outside.txt\n",
       {1, 0, 0, 0, 0, 0, 0, 1},
       "\nCorruption detected in checksum list {L} Skipping remaining entries."},
      {"absolute name",
       b + "\t/etc/hostname\n",
       {1, 0, 0, 0, 0, 0, 0, 1},
       "\nCorruption detected in checksum list {L} Skipping remaining entries."},
      {"the folder itself",
       "00000000\t\t.\n",
       {1, 0, 0, 0, 0, 0, 0, 1},
       "\nCorruption detected in checksum list {L} Skipping remaining entries."},
      {"the parent folder",
       "00000000\t..\n",
       {1, 0, 0, 0, 0, 0, 0, 1},
       "\nCorruption detected in checksum list {L} Skipping remaining entries."},
  };
  test::writeText(dir / "a.dng", kAbc);
  test::writeText(dir / "b.txt", kHello);
  test::writeText(dir / "../outside.txt", kHello);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reset();
    test::writeText(dir / "checksum.tz", c.list);
    EXPECT_TRUE(verify(dir.path()));
    EXPECT_EQ(countsOf(harness.state()), c.counts);
    EXPECT_EQ(harness.issueText(), expand(c.issues, dir.path()));
    EXPECT_EQ(harness.issues().count, c.issues.empty() ? 0u : 1u);
  }
  std::remove((dir / "../outside.txt").c_str());
  EXPECT_TRUE(harness.prompts().empty());
}

TEST_F(VerifyTest, FileLargerThanReadBufferIsChecksummedWhole) {
  std::string big(3 * 1048576 + 12345, '\0');
  std::mt19937 random(7);
  for (char& c : big) c = static_cast<char>(random());
  test::writeText(dir / "big.bin", big);
  test::writeText(dir / "empty.bin", "");
  test::writeText(dir / "checksum.tz", crcOf(big) + "\tbig.bin\n" + "00000000\tempty.bin\n");
  EXPECT_TRUE(verify(dir.path()));
  EXPECT_EQ(countsOf(harness.state()), (Counts{1, 0, 2, 2, 0, 0, 0, 0}));
}

// Subfolders: folders without a list, folders holding only subfolders, Recurse clear.
TEST_F(VerifyTest, FoldersWithoutLists) {
  const std::string a = crcOf(kAbc);
  test::makeFolder(dir / "only-subfolders/with-list");
  test::makeFolder(dir / "only-subfolders/empty");
  test::writeText(dir / "only-subfolders/with-list/a.dng", kAbc);
  test::writeText(dir / "only-subfolders/with-list/checksum.tz", a + "\ta.dng\n");
  test::makeFolder(dir / "files-no-list");
  test::writeText(dir / "files-no-list/x.txt", "x");
  EXPECT_TRUE(verify(dir / "only-subfolders/"));
  EXPECT_EQ(countsOf(harness.state()), (Counts{1, 0, 1, 1, 0, 0, 0, 0}));

  reset();
  EXPECT_TRUE(verify(dir.path()));  // the top folder holds only subfolders too
  EXPECT_EQ(countsOf(harness.state()), (Counts{1, 1, 1, 1, 0, 0, 0, 0}));

  reset();
  harness.state().Recurse = 0;
  EXPECT_TRUE(verify(dir / "only-subfolders/"));
  EXPECT_EQ(countsOf(harness.state()), (Counts{0, 1, 0, 0, 0, 0, 0, 0}));
}

// The verification pass: only output subfolders that also exist under the input folder are
// entered; a top folder that received no entry is not examined for a list.
TEST_F(VerifyTest, MirrorFolderAndSkippedTopList) {
  TempDir input;
  const std::string bad = "00000000\ta.dng\n";
  test::writeText(dir / "a.dng", kAbc);
  test::writeText(dir / "checksum.tz", bad);  // would be a checksum error if examined
  for (const char* sub : {"shot1", "stray"}) {
    test::makeFolder(dir / sub);
    test::writeText(dir / sub + "/a.dng", kAbc);
    test::writeText(dir / sub + "/checksum.tz", crcOf(kAbc) + "\ta.dng\n");
  }
  test::writeText(dir / "stray/checksum.tz", bad);
  test::makeFolder(input / "shot1");

  EXPECT_TRUE(verify(dir.path(), input.path().c_str(), true));
  EXPECT_EQ(countsOf(harness.state()), (Counts{1, 0, 1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(harness.issueText(), "");

  reset();
  EXPECT_TRUE(verify(dir.path(), input.path().c_str(), false));
  EXPECT_EQ(countsOf(harness.state()), (Counts{2, 0, 2, 1, 1, 0, 0, 0}));
  EXPECT_EQ(harness.issueText(), "\nChecksum error: " + dir.path() + "a.dng");

  reset();  // without a mirror every subfolder is entered
  EXPECT_TRUE(verify(dir.path()));
  EXPECT_EQ(countsOf(harness.state()), (Counts{3, 0, 3, 1, 2, 0, 0, 0}));
}

// A list that cannot be read (a folder named checksum.tz; tests run as root, so permission bits
// would not stop the reading): OpenRead prompt on the list path; Skip logs M1 and goes on with
// the subfolders, Abort logs M2 and stops.
TEST_F(VerifyTest, UnreadableListAsksOpenRead) {
  test::makeFolder(dir / "checksum.tz");
  test::writeText(dir / "x.txt", "x");
  test::makeFolder(dir / "sub");
  test::writeText(dir / "sub/a.dng", kAbc);
  test::writeText(dir / "sub/checksum.tz", crcOf(kAbc) + "\ta.dng\n");
  const std::string list = dir.path() + "checksum.tz";

  harness.answerAlways(PromptAnswer::Skip);
  EXPECT_TRUE(verify(dir.path()));
  EXPECT_EQ(countsOf(harness.state()), (Counts{2, 0, 1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(harness.issueText(), "\nError opening checksum list " + list + " User skipped folder.");
  std::vector<test::SeenPrompt> seen = harness.prompts();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].kind, PromptKind::OpenRead);
  EXPECT_EQ(seen[0].path, list);

  reset();
  harness.answerAlways(PromptAnswer::Abort);
  EXPECT_FALSE(verify(dir.path()));
  EXPECT_EQ(countsOf(harness.state()), (Counts{1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(harness.issueText(),
            "\nError opening checksum list " + list + " Verification aborted by user.");
  EXPECT_TRUE(harness.state().Abort.load());
}

// Listed names that are not regular files (a folder, a FIFO, a link to a folder, a device)
// are never opened as files: no hang, an OpenRead prompt, M4 on Skip and M5 on Abort.
TEST_F(VerifyTest, ListedSpecialFilesAreNotReadAsFiles) {
  test::makeFolder(dir / "folder");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0666), 0);
  ASSERT_EQ(::symlink(dir.path().c_str(), (dir / "loop").c_str()), 0);
  ASSERT_EQ(::symlink("/dev/zero", (dir / "zero").c_str()), 0);
  test::writeText(dir / "checksum.tz",
                  "00000000\tfolder\n00000000\tfifo\n00000000\tloop\n00000000\tzero\n");
  EXPECT_TRUE(verify(dir.path()));
  EXPECT_EQ(countsOf(harness.state()), (Counts{1, 0, 4, 0, 0, 0, 4, 0}));
  std::string expected;
  for (const char* name : {"folder", "fifo", "loop", "zero"}) {
    expected += "\nError reading file " + dir.path() + name + " User skipped file.";
  }
  EXPECT_EQ(harness.issueText(), expected);
  std::vector<test::SeenPrompt> seen = harness.prompts();
  ASSERT_EQ(seen.size(), 4u);
  for (const test::SeenPrompt& p : seen) EXPECT_EQ(p.kind, PromptKind::OpenRead);

  reset();
  harness.answerAlways(PromptAnswer::Abort);
  EXPECT_FALSE(verify(dir.path()));
  EXPECT_EQ(countsOf(harness.state()), (Counts{1, 0, 1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(harness.issueText(),
            "\nError reading file " + dir.path() + "folder Verification aborted by user.");
}

// A file that opens but cannot be read (every read of /proc/self/mem at offset 0 fails with
// EIO) is a read problem put to the user, not a checksum error of the file.
TEST_F(VerifyTest, ReadErrorAfterOpeningIsAskedNotCountedAsChecksumError) {
  ASSERT_EQ(::symlink("/proc/self/mem", (dir / "mem").c_str()), 0);
  test::writeText(dir / "checksum.tz", "00000000\tmem\n");
  EXPECT_TRUE(verify(dir.path()));
  EXPECT_EQ(countsOf(harness.state()), (Counts{1, 0, 1, 0, 0, 0, 1, 0}));
  EXPECT_EQ(harness.issueText(), "\nError reading file " + dir.path() + "mem User skipped file.");
  std::vector<test::SeenPrompt> seen = harness.prompts();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].kind, PromptKind::OpenRead);

  reset();
  harness.answerAlways(PromptAnswer::Abort);
  EXPECT_FALSE(verify(dir.path()));
  EXPECT_EQ(countsOf(harness.state()), (Counts{1, 0, 1, 0, 0, 0, 0, 0}));
}

// Retry opens again: the user replaced the obstacle by the real file meanwhile.
TEST_F(VerifyTest, RetryAfterTheProblemWasResolved) {
  ASSERT_EQ(::mkfifo((dir / "a.dng").c_str(), 0666), 0);
  test::writeText(dir / "checksum.tz", crcOf(kAbc) + "\ta.dng\n");
  std::string file = dir / "a.dng";
  harness.setScript([&](const ErrorPrompt&) {
    std::remove(file.c_str());
    test::writeText(file, kAbc);
    return PromptAnswer::Retry;
  });
  EXPECT_TRUE(verify(dir.path()));
  EXPECT_EQ(countsOf(harness.state()), (Counts{1, 0, 1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(harness.prompts().size(), 1u);
}

// Links to folders met in the tree are not followed (no endless descent).
TEST_F(VerifyTest, LinksToFoldersAreNotDescended) {
  test::makeFolder(dir / "sub");
  test::writeText(dir / "sub/a.dng", kAbc);
  test::writeText(dir / "sub/checksum.tz", crcOf(kAbc) + "\ta.dng\n");
  ASSERT_EQ(::symlink("..", (dir / "sub/up").c_str()), 0);
  ASSERT_EQ(::symlink(dir.path().c_str(), (dir / "top").c_str()), 0);
  EXPECT_TRUE(verify(dir.path()));
  // The top folder holds a non-folder entry (the link) and no list.
  EXPECT_EQ(countsOf(harness.state()), (Counts{1, 1, 1, 1, 0, 0, 0, 0}));
}

// Paths that would not fit the 1024-byte buffers are reported in the issue log, never
// overflowed or cut short.
TEST_F(VerifyTest, PathsTooLongForTheBuffersAreReported) {
  std::string deep = dir.path();
  while (deep.size() < 900) deep += std::string(60, 'd') + "/";
  test::makeFolder(deep);
  std::string name(200, 'n');
  test::writeText(deep + name, kAbc);
  test::makeFolder(deep + name + "_folder");
  test::writeText(deep + "checksum.tz", crcOf(kAbc) + "\t" + name + "\n");
  ASSERT_GT(deep.size() + name.size(), kPathBufferSize);
  EXPECT_TRUE(verify(deep));
  EXPECT_EQ(countsOf(harness.state()), (Counts{1, 0, 1, 0, 0, 0, 1, 0}));
  EXPECT_EQ(harness.issueText(), "\nPath too long to check: " + deep + name +
                                     " listed in checksum list " + deep + "checksum.tz" +
                                     "\nPath too long, folder not verified: " + deep + name +
                                     "_folder/");
}

TEST_F(VerifyTest, AbortStopsBeforeTheNextEntry) {
  test::writeText(dir / "a.dng", kAbc);
  test::writeText(dir / "checksum.tz", crcOf(kAbc) + "\ta.dng\n");
  harness.state().Abort.store(true);
  EXPECT_FALSE(verify(dir.path()));
  EXPECT_EQ(harness.state().FilesProcessed.load(), 0u);
}

}  // namespace
}  // namespace tamzel
