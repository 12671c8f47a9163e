// Whole processing jobs on temporary trees: the mirrored tree, what is copied, skipped,
// overwritten, recompressed in place, the counting pass, and the file-system faults the walk
// and the writer turn into prompts.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "engine/summary.h"
#include "engine_job_support.h"

namespace tamzel {
namespace {

using namespace enginetest;

struct Trees {
  TempTree base;
  std::string in = base / "in/";
  std::string out = base / "out/";
  explicit Trees(bool inMemory = false) : base(inMemory) {
    makeFolder(in);
    makeFolder(out);
  }
};

// in/: a.dng (recompressible), b.txt, junk.dng (not a DNG inside), .DS_Store, checksum.tz,
//      sub/c.DNG, sub/e.bin, sub/deeper/d.dng, empty/
struct SampleTree : Trees {
  std::vector<uint8_t> a = dngFrame(64, 32, testing::SamplePattern::Gradient, 1);
  std::vector<uint8_t> c = dngFrame(128, 16, testing::SamplePattern::Realistic, 2, 12);
  std::vector<uint8_t> d = dngFrame(32, 8, testing::SamplePattern::Noise, 3, 14);
  std::vector<uint8_t> junk = std::vector<uint8_t>(777, 0x5A);
  SampleTree() {
    writeBytes(in + "a.dng", a);
    writeText(in + "b.txt", "hello");
    writeBytes(in + "junk.dng", junk);
    writeText(in + ".DS_Store", "finder");
    writeText(in + "checksum.tz", "00000000\told\n");
    makeFolder(in + "sub");
    makeFolder(in + "sub/deeper");
    makeFolder(in + "empty");
    writeBytes(in + "sub/c.DNG", c);
    writeText(in + "sub/e.bin", std::string(3 * 1048576 + 5, 'e'));  // several copy chunks
    writeBytes(in + "sub/deeper/d.dng", d);
  }
};

TEST(ProcessingJob, MirrorsTheTreeRecompressesCopiesAndListsEveryFile) {
  SampleTree t;
  JobRecord job{processingSettings()};
  JobRunReport report = runJobAndWait(job.state, t.in, t.out);
  expectPoolWhole(report);
  EXPECT_FALSE(job.state.Abort.load());
  EXPECT_EQ(job.state.ErrorPrompts.load(), 0u);

  const std::vector<uint8_t> a = expectedOutput(t.a, false);
  const std::vector<uint8_t> c = expectedOutput(t.c, false);
  const std::vector<uint8_t> d = expectedOutput(t.d, false);
  ASSERT_NE(a, t.a);  // the fixture really is recompressed
  EXPECT_EQ(readBytes(t.out + "a.dng"), a);
  EXPECT_EQ(readBytes(t.out + "sub/c.DNG"), c);
  EXPECT_EQ(readBytes(t.out + "sub/deeper/d.dng"), d);
  EXPECT_EQ(readBytes(t.out + "junk.dng"), t.junk);  // passed through byte for byte
  EXPECT_EQ(readText(t.out + "b.txt"), "hello");
  EXPECT_EQ(readText(t.out + "sub/e.bin"), readText(t.in + "sub/e.bin"));
  EXPECT_FALSE(exists(t.out + ".DS_Store"));
  EXPECT_TRUE(isFolder(t.out + "empty"));
  EXPECT_FALSE(exists(t.out + "empty/checksum.tz"));  // nothing in it, no list

  std::map<std::string, uint32_t> top = readList(t.out);
  EXPECT_EQ(top, (std::map<std::string, uint32_t>{{"a.dng", crcOf(a)},
                                                  {"b.txt", crcOf(readBytes(t.in + "b.txt"))},
                                                  {"junk.dng", crcOf(t.junk)}}));
  EXPECT_EQ(readList(t.out + "sub/"),
            (std::map<std::string, uint32_t>{{"c.DNG", crcOf(c)},
                                             {"e.bin", crcOf(readBytes(t.in + "sub/e.bin"))}}));
  EXPECT_EQ(readList(t.out + "sub/deeper/"),
            (std::map<std::string, uint32_t>{{"d.dng", crcOf(d)}}));

  JobState& s = job.state;
  EXPECT_EQ(s.FilesTotal.load(), 6u);  // .DS_Store and the old list are not counted
  EXPECT_EQ(s.FilesProcessed.load(), 6u);
  EXPECT_EQ(s.FoldersProcessed.load(), 4u);
  EXPECT_EQ(s.DngDispatched.load(), 4u);
  EXPECT_EQ(s.DngCompressed.load() + (d == t.d ? 1u : 0u), 3u);
  EXPECT_EQ(s.BytesBefore.load(), t.a.size() + t.c.size() + (d == t.d ? 0 : t.d.size()));
  EXPECT_EQ(s.BytesAfter.load(), a.size() + c.size() + (d == t.d ? 0 : d.size()));
  EXPECT_EQ(report.checksumListsDiscarded, 0u);
}

TEST(ProcessingJob, VerificationPassFindsEveryListedFileIntact) {
  SampleTree t;
  JobSettings settings = processingSettings();
  settings.VerificationPass = 1;
  JobRecord job{settings, false, t.base / "TamzelError.log"};
  bool phaseEnded = false;
  job.state.OnPhaseEnd = [&] {
    phaseEnded = true;
    performPhaseEnd(job.state);
  };
  runJobAndWait(job.state, t.in, t.out);
  EXPECT_TRUE(phaseEnded);
  EXPECT_TRUE(job.state.hasSummary());
  EXPECT_EQ(job.state.FilesTotal.load(), 6u);
  EXPECT_EQ(job.state.FilesProcessed.load(), 6u);  // list entries checked
  EXPECT_EQ(job.state.FilesOk.load(), 6u);
  EXPECT_EQ(job.state.ChecksumErrors.load(), 0u);
  EXPECT_EQ(job.state.FilesMissing.load(), 0u);
  EXPECT_TRUE(exists(t.base / "TamzelError.log"));
  EXPECT_EQ(readText(t.base / "TamzelError.log"), "");
}

TEST(ProcessingJob, NoVerificationPassWithoutChecksumsOrAfterAnAbort) {
  for (bool abortFirst : {false, true}) {
    SampleTree t;
    JobSettings settings = processingSettings();
    settings.GenerateChecks = abortFirst ? 1 : 0;
    JobRecord job{settings, false, t.base / "TamzelError.log"};
    job.state.VerificationPass = 1;  // set behind the reset's back
    bool phaseEnded = false;
    job.state.OnPhaseEnd = [&] { phaseEnded = true; };
    PromptAnswerer ui(job.state);
    if (abortFirst) {
      writeText(t.out + "sub", "in the way");  // the prompt for it is answered Abort
      ui.answerAlways(PromptAnswer::Abort);
    }
    runJobAndWait(job.state, t.in, t.out);
    EXPECT_FALSE(phaseEnded);
    EXPECT_FALSE(exists(t.base / "TamzelError.log"));  // a job that does not verify leaves it
    EXPECT_EQ(job.state.Abort.load(), abortFirst);
  }
}

// Which files a job takes up, by the two switches that decide it.
TEST(ProcessingJob, CopySwitchAndChecksumSwitchDecideWhatIsCountedAndCopied) {
  struct Case {
    uint8_t copyAll, checks;
    uint32_t total;
    bool txtCopied, oldListCopied;
  };
  const Case cases[] = {
      {1, 1, 6, true, false},   // the old list is replaced, not copied
      {1, 0, 7, true, true},    // without checksums it is a file like any other
      {0, 1, 4, false, false},  // only DNG names
      {0, 0, 4, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "CopyAll " << int(c.copyAll) << " GenerateChecks " << int(c.checks));
    SampleTree t;
    JobSettings settings = processingSettings();
    settings.CopyAll = c.copyAll;
    settings.GenerateChecks = c.checks;
    JobRecord job{settings};
    runJobAndWait(job.state, t.in, t.out);
    EXPECT_EQ(job.state.FilesTotal.load(), c.total);
    EXPECT_EQ(job.state.FilesProcessed.load(), c.total);
    EXPECT_EQ(exists(t.out + "b.txt"), c.txtCopied);
    EXPECT_EQ(exists(t.out + "sub/e.bin"), c.txtCopied);
    EXPECT_TRUE(exists(t.out + "junk.dng"));
    EXPECT_FALSE(exists(t.out + ".DS_Store"));
    if (c.checks) {
      EXPECT_EQ(readList(t.out).count("checksum.tz"), 0u);
      EXPECT_EQ(readList(t.out).size(), c.copyAll ? 3u : 2u);
    } else {
      EXPECT_EQ(exists(t.out + "checksum.tz"), c.oldListCopied);
      if (c.oldListCopied) {
        EXPECT_EQ(readText(t.out + "checksum.tz"), "00000000\told\n");
      }
    }
  }
}

TEST(ProcessingJob, WithoutRecurseOnlyTheTopFolderIsHandled) {
  SampleTree t;
  JobSettings settings = processingSettings();
  settings.Recurse = 0;
  JobRecord job{settings};
  runJobAndWait(job.state, t.in, t.out);
  EXPECT_EQ(job.state.FoldersProcessed.load(), 1u);
  EXPECT_EQ(job.state.FilesTotal.load(), 3u);
  EXPECT_EQ(job.state.FilesProcessed.load(), 3u);
  EXPECT_FALSE(exists(t.out + "sub"));
}

TEST(ProcessingJob, SkipPolicyLeavesExistingOutputsAloneAndOverwriteReplacesThem) {
  for (uint8_t skip : {1, 0}) {
    SCOPED_TRACE(skip ? "Skip" : "Overwrite");
    SampleTree t;
    std::string bigJunk(20000, 'j');  // longer than what replaces it
    writeText(t.out + "a.dng", bigJunk);
    writeText(t.out + "b.txt", bigJunk);
    makeFolder(t.out + "sub");  // an existing output folder is walked all the same
    JobSettings settings = processingSettings();
    settings.SkipExisting = skip;
    JobRecord job{settings};
    runJobAndWait(job.state, t.in, t.out);
    EXPECT_EQ(job.state.FilesTotal.load(), 6u);
    if (skip) {
      EXPECT_EQ(readText(t.out + "a.dng"), bigJunk);
      EXPECT_EQ(readText(t.out + "b.txt"), bigJunk);
      EXPECT_EQ(job.state.FilesSkipped.load(), 2u);
      EXPECT_EQ(job.state.FilesProcessed.load(), 4u);  // progress stays below 100 %
      EXPECT_EQ(readList(t.out).size(), 1u);           // only junk.dng; skipped files unlisted
      EXPECT_EQ(readList(t.out).count("junk.dng"), 1u);
    } else {
      EXPECT_EQ(readBytes(t.out + "a.dng"), expectedOutput(t.a, false));
      EXPECT_EQ(readText(t.out + "b.txt"), "hello");
      EXPECT_EQ(job.state.FilesSkipped.load(), 0u);
      EXPECT_EQ(job.state.FilesProcessed.load(), 6u);
    }
    EXPECT_TRUE(exists(t.out + "sub/deeper/d.dng"));
  }
}

TEST(ProcessingJob, SkipPolicyWithEveryFilePresentWritesNoList) {
  Trees t;
  writeBytes(t.in + "a.dng", dngFrame());
  writeText(t.out + "a.dng", "x");
  writeText(t.out + "checksum.tz", "11111111\tkeep\n");
  JobSettings settings = processingSettings();
  settings.SkipExisting = 1;
  JobRecord job{settings};
  runJobAndWait(job.state, t.in, t.out);
  EXPECT_EQ(readText(t.out + "checksum.tz"), "11111111\tkeep\n");  // left as it was
}

TEST(ProcessingJob, InPlaceReplacesRecompressibleFramesWhole) {
  Trees t;
  std::vector<uint8_t> frame = dngFrame(64, 32, testing::SamplePattern::Realistic, 7, 12);
  std::vector<uint8_t> junk(999, 0x33);
  writeBytes(t.in + "f.dng", frame);
  writeBytes(t.in + "junk.dng", junk);
  writeText(t.in + "notes.txt", "keep me");
  makeFolder(t.in + "sub");
  writeBytes(t.in + "sub/g.dng", frame);
  chmod((t.in + "f.dng").c_str(), 0640);
  // Old timestamps, so that any rewrite would show.
  struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  for (const char* name : {"junk.dng", "notes.txt"})
    utimensat(AT_FDCWD, (t.in + name).c_str(), old, 0);

  JobSettings settings = processingSettings();
  JobRecord job{settings};
  job.state.InPlace = 1;
  JobRunReport report = runJobAndWait(job.state, t.in, t.in);
  expectPoolWhole(report);
  EXPECT_EQ(job.state.ErrorPrompts.load(), 0u);

  const std::vector<uint8_t> recompressed = expectedOutput(frame, false);
  ASSERT_NE(recompressed, frame);
  EXPECT_EQ(readBytes(t.in + "f.dng"), recompressed);
  EXPECT_EQ(readBytes(t.in + "sub/g.dng"), recompressed);
  EXPECT_EQ(readBytes(t.in + "junk.dng"), junk);
  struct stat st;
  ASSERT_EQ(stat((t.in + "f.dng").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // the replacement keeps the original's permissions
  for (const char* name : {"junk.dng", "notes.txt"}) {
    ASSERT_EQ(stat((t.in + name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1000000000) << name;
  }
  // Nothing else appeared: no temporaries, no copies.
  std::vector<std::string> names;
  for (const char* folder : {"", "sub/"}) {
    DIR* dir = opendir((t.in + folder).c_str());
    while (dirent* e = readdir(dir)) names.push_back(std::string(folder) + e->d_name);
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{".", "..", "checksum.tz", "f.dng", "junk.dng", "notes.txt",
                                      "sub", "sub/.", "sub/..", "sub/checksum.tz", "sub/g.dng"}));
  // The list holds the DNG files only, with the checksums of what is on disk now.
  EXPECT_EQ(readList(t.in), (std::map<std::string, uint32_t>{{"f.dng", crcOf(recompressed)},
                                                             {"junk.dng", crcOf(junk)}}));
  EXPECT_EQ(job.state.FilesProcessed.load(), 4u);  // notes.txt counted, left alone
  EXPECT_EQ(job.state.DngCompressed.load(), 2u);
}

// In place, a frame replaces its original only in one rename; when the rename is refused (an
// immutable original) the user is asked, Skip leaves the original whole and no temporary
// behind, Retry after the obstacle is gone replaces it.
TEST(ProcessingJob, InPlaceRenameFailureIsAWritePromptAndNeverHalfReplaces) {
  for (PromptAnswer answer : {PromptAnswer::Skip, PromptAnswer::Retry}) {
    SCOPED_TRACE(answer == PromptAnswer::Skip ? "Skip" : "Retry");
    Trees t;
    std::vector<uint8_t> frame = dngFrame(64, 32, testing::SamplePattern::Gradient, 11);
    const std::string path = t.in + "f.dng";
    writeBytes(path, frame);
    const std::string lock = "chattr +i '" + path + "' 2>/dev/null";
    const std::string unlock = "chattr -i '" + path + "' 2>/dev/null";
    if (std::system(lock.c_str()) != 0) GTEST_SKIP() << "no immutable files on this file system";
    JobRecord job{processingSettings()};
    job.state.InPlace = 1;
    PromptAnswerer ui(job.state);
    ui.setScript([&](const ErrorPrompt& p) {
      EXPECT_EQ(p.kind, PromptKind::Write);
      EXPECT_EQ(std::string(p.path), path);
      EXPECT_EQ(p.errorCode, EPERM);
      if (answer == PromptAnswer::Retry) {
        EXPECT_EQ(std::system(unlock.c_str()), 0);
      }
      return answer;
    });
    JobRunReport report = runJobAndWait(job.state, t.in, t.in);
    std::system(unlock.c_str());
    expectPoolWhole(report);
    EXPECT_EQ(ui.seen().size(), 1u);
    EXPECT_EQ(readBytes(path), answer == PromptAnswer::Skip ? frame : expectedOutput(frame, false));
    EXPECT_FALSE(exists(path + ".tamzel-partial"));
  }
}

TEST(ProcessingJob, PremiereLayoutReachesTheOutput) {
  Trees t;
  // Tall enough that the ordinary grid has more than one tile row.
  std::vector<uint8_t> frame = dngFrame(512, 512, testing::SamplePattern::Gradient, 4, 12);
  writeBytes(t.in + "p.dng", frame);
  const std::vector<uint8_t> premiere = expectedOutput(frame, true);
  const std::vector<uint8_t> ordinary = expectedOutput(frame, false);
  ASSERT_NE(premiere, frame);
  for (uint8_t compat : {1, 0}) {
    removeTree(t.out + "p.dng");
    JobSettings settings = processingSettings();
    settings.PremiereCCCompat = compat;
    JobRecord job{settings};
    runJobAndWait(job.state, t.in, t.out);
    EXPECT_EQ(readBytes(t.out + "p.dng"), compat ? premiere : ordinary);
  }
  TileLayout tall = computeTileLayout(512, 512, true);
  EXPECT_EQ(tall.tilesDown, 1u);
  if (computeTileLayout(512, 512, false).tilesDown != 1u) {
    EXPECT_NE(premiere, ordinary);
  }
}

// The size limit: a DNG name over 200,000,000 bytes is copied by the walker (sparse files keep
// the disk use small), one of exactly 200,000,000 bytes is loaded for the workers.
TEST(ProcessingJob, DngFilesOverTheSizeLimitAreCopiedNotQueued) {
  struct Case {
    off_t size;
    bool queued;
  };
  for (const Case& c : {Case{200000001, false}, Case{200000000, true}}) {
    SCOPED_TRACE(c.size);
    Trees t(true);
    int fd = open((t.in + "huge.dng").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, c.size), 0);
    ASSERT_EQ(pwrite(fd, "II*\0", 4, 0), 4);  // not a valid DNG: passed through either way
    close(fd);
    JobSettings settings = processingSettings();
    settings.CopyAll = 0;
    JobRecord job{settings};
    JobRunReport report = runJobAndWait(job.state, t.in, t.out);
    expectPoolWhole(report);
    struct stat st;
    ASSERT_EQ(stat((t.out + "huge.dng").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, c.size);
    EXPECT_EQ(job.state.DngDispatched.load(), 1u);
    EXPECT_EQ(job.state.DngCompressed.load(), 0u);
    EXPECT_EQ(job.state.FilesProcessed.load(), 1u);
    EXPECT_EQ(readList(t.out).size(), 1u);
    removeTree(t.out + "huge.dng");
    removeTree(t.in + "huge.dng");
  }
}

TEST(ProcessingJob, AbortDuringTheCountingPassBuildsNoPipeline) {
  SampleTree t;
  JobRecord job{processingSettings()};
  job.state.Pause.store(true);  // the count waits at its first entry
  JobRunReport report;
  std::thread runner([&] { runJob(t.in.c_str(), t.out.c_str(), job.state, nullptr, &report); });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  job.state.Abort.store(true);
  job.state.Pause.store(false);
  runner.join();
  EXPECT_TRUE(job.state.Finished.load());
  EXPECT_TRUE(job.state.EnumerationDone.load());
  EXPECT_FALSE(report.pipelineBuilt);
  EXPECT_EQ(job.state.FilesProcessed.load(), 0u);
  EXPECT_EQ(job.state.FoldersProcessed.load(), 0u);
  EXPECT_FALSE(exists(t.out + "a.dng"));
}

// The way a front end runs a job: the folder texts may go away as soon as the thread is started.
TEST(JobThread, StartsWithCopiesOfTheFolderTextsAndEndsWithFinished) {
  SampleTree t;
  JobRecord job{processingSettings()};
  // Given without the trailing "/" a folder path normally has.
  std::string* source = new std::string(t.in.substr(0, t.in.size() - 1));
  std::string* destination = new std::string(t.out.substr(0, t.out.size() - 1));
  std::thread thread = startJobThread(source->c_str(), destination->c_str(), job.state);
  delete source;
  delete destination;
  ASSERT_TRUE(thread.joinable());
  while (!job.state.Finished.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  thread.join();
  EXPECT_FALSE(job.state.hasFatalError());
  EXPECT_EQ(job.state.FilesProcessed.load(), 6u);
  EXPECT_TRUE(exists(t.out + "sub/deeper/d.dng"));
  EXPECT_GT(job.state.EndTime, 0);
}

TEST(VerifyOnlyJob, CountsEveryEntryOfListedFoldersButTheList) {
  Trees t;
  writeText(t.in + "checksum.tz", "00000000\tx\n");
  writeText(t.in + "x", "");
  writeText(t.in + ".DS_Store", "");
  makeFolder(t.in + "nolist");
  writeText(t.in + "nolist/y", "");
  JobSettings settings = processingSettings();
  JobRecord job{settings, true, t.base / "err.log"};
  runJobAndWait(job.state, t.in, nullptr);
  EXPECT_EQ(job.state.FilesTotal.load(), 2u);  // x and .DS_Store
}

// ---------------------------------------------------------------------------------------------
// File-system faults

TEST(WalkerFaults, AFileInTheWayOfAnOutputFolderAsksAndSkipFolderLeavesTheSubtreeOut) {
  for (PromptAnswer answer : {PromptAnswer::Skip, PromptAnswer::Retry, PromptAnswer::Abort}) {
    SCOPED_TRACE(static_cast<int>(answer));
    SampleTree t;
    writeText(t.out + "sub", "in the way");
    JobRecord job{processingSettings()};
    PromptAnswerer ui(job.state);
    ui.setScript([&](const ErrorPrompt& p) {
      if (answer == PromptAnswer::Retry) removeTree(t.out + "sub");  // the user made room
      EXPECT_EQ(p.kind, PromptKind::CreateFolder);
      EXPECT_EQ(std::string(p.path), t.out + "sub");
      EXPECT_EQ(p.errorCode, ENOTDIR);
      return answer;
    });
    JobRunReport report = runJobAndWait(job.state, t.in, t.out);
    expectPoolWhole(report);
    EXPECT_EQ(ui.seen().size(), 1u);
    if (answer == PromptAnswer::Skip) {
      EXPECT_EQ(readText(t.out + "sub"), "in the way");
      EXPECT_EQ(job.state.FoldersProcessed.load(), 2u);  // top and empty/
      EXPECT_TRUE(exists(t.out + "a.dng"));
      EXPECT_EQ(readList(t.out).size(), 3u);
    } else if (answer == PromptAnswer::Retry) {
      EXPECT_TRUE(exists(t.out + "sub/deeper/d.dng"));
      EXPECT_EQ(job.state.FoldersProcessed.load(), 4u);
    } else {
      EXPECT_TRUE(job.state.Abort.load());
      EXPECT_EQ(report.checksumListsDiscarded + (exists(t.out + "checksum.tz") ? 1u : 0u), 1u);
    }
  }
}

// FIFOs, sockets, links to folders (one of them a loop back to the top) and link loops: the
// count and the walk neither hang nor recurse, special files are left alone, broken links are
// reported and can be skipped.
TEST(WalkerFaults, SpecialFilesNeitherHangNorLoopTheJob) {
  Trees t;
  writeBytes(t.in + "a.dng", dngFrame());
  writeText(t.in + "real.txt", "real");
  ASSERT_EQ(mkfifo((t.in + "pipe.dng").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo((t.in + "pipe.txt").c_str(), 0644), 0);
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", (t.in + "sock.txt").c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  makeFolder(t.in + "sub");
  writeText(t.in + "sub/inner.txt", "inner");
  ASSERT_EQ(symlink("..", (t.in + "sub/up").c_str()), 0);             // loop to the top
  ASSERT_EQ(symlink("../sub", (t.in + "sub/again.dng").c_str()), 0);  // folder link, DNG name
  ASSERT_EQ(symlink("loopB.dng", (t.in + "loopA.dng").c_str()), 0);
  ASSERT_EQ(symlink("loopA.dng", (t.in + "loopB.dng").c_str()), 0);
  ASSERT_EQ(symlink("real.txt", (t.in + "link.txt").c_str()), 0);   // a link to a file is a file
  ASSERT_EQ(symlink("/dev/null", (t.in + "null.dng").c_str()), 0);  // a device

  JobRecord job{processingSettings()};
  PromptAnswerer ui(job.state);
  ui.answerAlways(PromptAnswer::Skip);
  JobRunReport report = runJobAndWait(job.state, t.in, t.out);
  close(sock);
  expectPoolWhole(report);

  // The two link-loop names are DNG names whose size cannot be read: asked and skipped.
  std::vector<SeenPrompt> seen = ui.seen();
  ASSERT_EQ(seen.size(), 2u);
  for (const SeenPrompt& p : seen) {
    EXPECT_EQ(p.kind, PromptKind::QueryFile);
    EXPECT_EQ(p.errorCode, ELOOP);
  }
  EXPECT_EQ(job.state.FilesSkipped.load(), 2u);
  EXPECT_TRUE(exists(t.out + "a.dng"));
  EXPECT_EQ(readText(t.out + "link.txt"), "real");
  EXPECT_EQ(readText(t.out + "sub/inner.txt"), "inner");
  for (const char* name :
       {"pipe.dng", "pipe.txt", "sock.txt", "null.dng", "sub/up", "sub/again.dng"})
    EXPECT_FALSE(exists(t.out + name)) << name;
  EXPECT_EQ(job.state.FoldersProcessed.load(), 2u);
  // What the count expected is what the walk took up.
  EXPECT_EQ(job.state.FilesTotal.load(), 6u);  // a.dng real.txt link.txt loopA loopB inner.txt
  EXPECT_EQ(job.state.FilesProcessed.load(), 6u);
  EXPECT_EQ(readList(t.out).size(), 3u);
}

// A read error in the middle of a copy, and a DNG that yields fewer bytes than its size, are
// reported on the input; Skip leaves the file out of the list and the list still completes.
TEST(WalkerFaults, ReadErrorsAreReportedAndSkippedFilesAreNotListed) {
  struct stat st;
  const char* shortFile = "/sys/kernel/mm/transparent_hugepage/enabled";  // size 4096, less to read
  if (stat("/proc/self/mem", &st) != 0 || stat(shortFile, &st) != 0 || st.st_size != 4096)
    GTEST_SKIP() << "no pseudo files to produce read errors with";
  Trees t;
  writeBytes(t.in + "a.dng", dngFrame());
  writeText(t.in + "b.txt", "bee");
  ASSERT_EQ(symlink("/proc/self/mem", (t.in + "mem.bin").c_str()), 0);  // every read fails (EIO)
  ASSERT_EQ(symlink(shortFile, (t.in + "short.dng").c_str()), 0);

  for (bool retryFirst : {false, true}) {
    SCOPED_TRACE(retryFirst ? "Retry, then Skip" : "Skip");
    removeTree(t.out);
    makeFolder(t.out);
    JobRecord job{processingSettings()};
    PromptAnswerer ui(job.state);
    std::map<std::string, int> asked;
    ui.setScript([&](const ErrorPrompt& p) {
      int n = ++asked[p.path];
      return retryFirst && n == 1 ? PromptAnswer::Retry : PromptAnswer::Skip;
    });
    JobRunReport report = runJobAndWait(job.state, t.in, t.out);
    expectPoolWhole(report);
    std::vector<SeenPrompt> seen = ui.seen();
    ASSERT_EQ(seen.size(), retryFirst ? 4u : 2u);
    for (const SeenPrompt& p : seen) {
      EXPECT_EQ(p.kind, PromptKind::OpenRead);
      EXPECT_TRUE(p.path == t.in + "mem.bin" || p.path == t.in + "short.dng") << p.path;
    }
    EXPECT_EQ(readList(t.out),
              (std::map<std::string, uint32_t>{{"a.dng", crcOf(readBytes(t.out + "a.dng"))},
                                               {"b.txt", crcOf(readBytes(t.in + "b.txt"))}}));
    EXPECT_FALSE(exists(t.out + "short.dng"));
    EXPECT_EQ(job.state.FilesSkipped.load(), 1u);  // the DNG; a skipped copy is not counted
    EXPECT_EQ(report.checksumListsDiscarded, 0u);
  }
}

// Paths that would not fit the 1024-byte buffers are reported, never overflowed.
TEST(WalkerFaults, PathsBeyondTheBuffersAreReportedAsTooLong) {
  Trees t;
  // Output base longer than the input base, so the input side fits where the output does not.
  std::string outBase = t.base / (std::string(200, 'o') + "/");
  makeFolder(outBase);
  std::string name(240, 'n');
  std::string longFile = std::string(100, 'f') + ".txt";
  std::string longFrame = std::string(100, 'g') + ".dng";
  std::string folder = t.in;
  std::string outFolder = outBase;
  std::vector<std::string> fitting;  // output paths that fit and must exist afterwards
  for (;;) {
    writeText(folder + longFile, "deep");
    writeBytes(folder + longFrame, dngFrame());
    if (outFolder.size() + longFile.size() < 1024) fitting.push_back(outFolder + longFile);
    if (folder.size() + name.size() + 1 >= 1000) break;
    folder += name + "/";
    outFolder += name + "/";
    makeFolder(folder);
  }
  JobRecord job{processingSettings()};
  PromptAnswerer ui(job.state);
  ui.answerAlways(PromptAnswer::Skip);
  JobRunReport report = runJobAndWait(job.state, t.in, outBase);
  expectPoolWhole(report);
  std::set<PromptKind> kinds;
  for (const SeenPrompt& p : ui.seen()) {
    EXPECT_EQ(p.errorCode, ENAMETOOLONG) << p.path;
    kinds.insert(p.kind);
  }
  // A folder that cannot be made and files that cannot be written, each asked about.
  EXPECT_EQ(kinds, (std::set<PromptKind>{PromptKind::CreateFolder, PromptKind::OpenWrite}));
  ASSERT_GE(fitting.size(), 2u);
  for (const std::string& path : fitting) EXPECT_EQ(readText(path), "deep") << path.size();
  EXPECT_FALSE(job.state.Abort.load());
}

// An allocation that fails ends the job with a message instead of a crash.
TEST(WalkerFaults, ABufferThatCannotBeAllocatedStopsTheJobWithAMessage) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "address-space limits do not mix with sanitizers";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  GTEST_SKIP() << "address-space limits do not mix with sanitizers";
#endif
#endif
  Trees t;
  int fd = open((t.in + "big.dng").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 190000000), 0);
  close(fd);
  writeBytes(t.in + "small.dng", dngFrame());
  JobSettings settings = processingSettings();
  JobRecord job{settings};
  PipelineSizes sizes = pipelineSizesForWorkers(1);
  // Room for the job's threads but not for a 190 MB record.
  long pages = 0;
  {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fscanf(f, "%ld", &pages), 1);
    std::fclose(f);
  }
  rlimit saved;
  getrlimit(RLIMIT_AS, &saved);
  rlimit limited = saved;
  limited.rlim_cur = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + 150u * 1048576u;
  ASSERT_EQ(setrlimit(RLIMIT_AS, &limited), 0);
  JobRunReport report = runJobAndWait(job.state, t.in, t.out, &sizes);
  setrlimit(RLIMIT_AS, &saved);
  EXPECT_TRUE(job.state.Abort.load());
  EXPECT_TRUE(job.state.hasFatalError());
  EXPECT_NE(job.state.fatalError().find("memory"), std::string::npos) << job.state.fatalError();
  EXPECT_TRUE(report.poolConsistent);
  EXPECT_EQ(report.recordsInPool, report.recordsCreated);
}

}  // namespace
}  // namespace tamzel
