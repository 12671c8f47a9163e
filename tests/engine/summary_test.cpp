// The texts a front end shows: elapsed time, processing summary (units, ratio, speed rule),
// progress text, final summaries with their colours, the 20-issue limit, prompt dialog texts.

#include "engine/summary.h"

#include <gtest/gtest.h>

#include <string>

namespace tamzel {
namespace {

constexpr int64_t kSecond = 1000000000;

TEST(SummaryTest, ElapsedTime) {
  struct Case {
    double seconds;
    const char* text;
  } cases[] = {
      {3725.5, "01h : 02m : 5.50s"}, {59.999, "00h : 00m : 60.00s"},  {0.0, "00h : 00m : 0.00s"},
      {60.0, "00h : 01m : 0.00s"},   {36061.25, "10h : 01m : 1.25s"}, {-1.0, "00h : 00m : 0.00s"},
  };
  for (const Case& c : cases) EXPECT_EQ(formatElapsed(c.seconds), c.text) << c.seconds;
  EXPECT_DOUBLE_EQ(elapsedSeconds(kSecond, 3 * kSecond + kSecond / 2), 2.5);
}

// A processing job of 10 seconds with the given counters.
struct Processing {
  uint32_t folders = 1, files = 0, skipped = 0, dispatched = 0, compressed = 0, prompts = 0;
  uint64_t before = 0, after = 0;
  bool aborted = false, paused = false;
};

void fill(JobState& s, const Processing& p) {
  s.StartTime.store(5 * kSecond);
  s.EndTime = 15 * kSecond;
  s.FoldersProcessed.store(p.folders);
  s.FilesProcessed.store(p.files);
  s.FilesSkipped.store(p.skipped);
  s.DngDispatched.store(p.dispatched);
  s.DngCompressed.store(p.compressed);
  s.ErrorPrompts.store(p.prompts);
  s.BytesBefore.store(p.before);
  s.BytesAfter.store(p.after);
  s.Abort.store(p.aborted);
  s.WasPaused = p.paused;
}

TEST(SummaryTest, ProcessingSummary) {
  const std::string head = "Processing finished in 00h : 00m : 10.00s\n";
  struct Case {
    const char* what;
    Processing p;
    std::string text;
  } cases[] = {
      {"nothing to do", {}, head + "Folders processed: 1\nFiles processed: 0\n"},
      {"one billion bytes stay MB",
       {.folders = 2,
        .files = 3,
        .skipped = 1,
        .dispatched = 3,
        .compressed = 2,
        .before = 1000000000,
        .after = 500000000},
       head + "Folders processed: 2\nFiles processed: 3\nFiles skipped: 1\n"
              "DNG files copied without compressing: 1\n"
              "DNG files compressed: 2\n"
              "    Total size of DNG files before compression: 1000.00 MB\n"
              "    Total size of DNG files after compression: 500.00 MB\n"
              "    Files reduced to 50.0% of the original size, a compression ratio of 2.00:1\n"},
      {"one more byte is GB",
       {.files = 1, .dispatched = 1, .compressed = 1, .before = 1000000001, .after = 600000000},
       head + "Folders processed: 1\nFiles processed: 1\n"
              "DNG files compressed: 1\n"
              "    Total size of DNG files before compression: 1.00 GB\n"
              "    Total size of DNG files after compression: 0.60 GB\n"
              "    Files reduced to 60.0% of the original size, a compression ratio of 1.67:1\n"},
      {"aborted: no copied line",
       {.files = 4,
        .dispatched = 4,
        .compressed = 2,
        .before = 2000000000,
        .after = 1000000000,
        .aborted = true},
       head + "Folders processed: 1\nFiles processed: 4\n"
              "DNG files compressed: 2\n"
              "    Total size of DNG files before compression: 2.00 GB\n"
              "    Total size of DNG files after compression: 1.00 GB\n"
              "    Files reduced to 50.0% of the original size, a compression ratio of 2.00:1\n"},
      {"51 frames show the speed",
       {.files = 51, .dispatched = 51, .compressed = 51, .before = 51000000, .after = 25500000},
       head + "Folders processed: 1\nFiles processed: 51\n"
              "DNG files compressed: 51\n"
              "    Total size of DNG files before compression: 51.00 MB\n"
              "    Total size of DNG files after compression: 25.50 MB\n"
              "    Files reduced to 50.0% of the original size, a compression ratio of 2.00:1\n"
              "    Processing speed: 5.1 fps\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JobState s;
    fill(s, c.p);
    EXPECT_EQ(buildProcessingSummary(s), c.text);
  }
}

TEST(SummaryTest, SpeedOnlyForCleanRunsOfMoreThanFiftyFrames) {
  struct Case {
    const char* what;
    Processing p;
    bool speed;
  } cases[] = {
      {"51 frames",
       {.files = 51, .dispatched = 51, .compressed = 51, .before = 1, .after = 1},
       true},
      {"50 frames",
       {.files = 50, .dispatched = 50, .compressed = 50, .before = 1, .after = 1},
       false},
      {"paused",
       {.files = 60, .dispatched = 60, .compressed = 60, .before = 1, .after = 1, .paused = true},
       false},
      {"a prompt",
       {.files = 60, .dispatched = 60, .compressed = 60, .prompts = 1, .before = 1, .after = 1},
       false},
      {"a file copied",
       {.files = 61, .dispatched = 61, .compressed = 60, .before = 1, .after = 1},
       false},
  };
  for (const Case& c : cases) {
    JobState s;
    fill(s, c.p);
    EXPECT_EQ(buildProcessingSummary(s).find("Processing speed") != std::string::npos, c.speed)
        << c.what;
  }
}

TEST(SummaryTest, ProgressText) {
  JobState s;
  s.StartTime.store(0);
  s.FilesTotal.store(12);
  EXPECT_EQ(plainText(buildProgressText(s, 3725 * kSecond + kSecond / 2)),
            "Time elapsed: 01h : 02m : 5.50s\nEnumerating files: 12");

  s.EnumerationDone.store(true);
  s.FilesTotal.store(7);
  s.FilesProcessed.store(3);
  EXPECT_EQ(plainText(buildProgressText(s, kSecond)),
            "Time elapsed: 00h : 00m : 1.00s\nFiles processed: 3 of 7\nProgress: 42%");

  s.FilesTotal.store(0);
  s.FilesProcessed.store(0);
  EXPECT_EQ(plainText(buildProgressText(s, kSecond)),
            "Time elapsed: 00h : 00m : 1.00s\nFiles processed: 0 of 0\n");

  // Large counts: the percentage must not overflow.
  s.FilesTotal.store(4000000000u);
  s.FilesProcessed.store(3999999999u);
  EXPECT_NE(plainText(buildProgressText(s, kSecond)).find("Progress: 99%"), std::string::npos);

  // A verification pass: the processing summary, then the pass's own counts.
  s.setSummary("SUMMARY\n");
  s.FilesTotal.store(4);
  s.FilesProcessed.store(2);
  s.FoldersProcessed.store(1);
  s.FilesOk.store(1);
  s.ChecksumErrors.store(1);
  s.FilesMissing.store(0);
  EXPECT_EQ(plainText(buildProgressText(s, 2 * kSecond)),
            "SUMMARY\n\nNow verifying output...\nTime elapsed: 00h : 00m : 2.00s\n"
            "Files verified: 2 of 4\nProgress: 50%\nFolders processed: 1\nFiles OK: 1\n"
            "Checksum errors encountered: 1");
  s.FilesMissing.store(3);
  s.Pause.store(true);
  StyledText paused = buildProgressText(s, 2 * kSecond);
  ASSERT_EQ(paused.size(), 2u);
  EXPECT_TRUE(paused[0].text.ends_with("Checksum errors encountered: 1\nFiles missing: 3"));
  EXPECT_EQ(paused[1].text, "\n\nProcessing is paused! Click Resume Job to continue.\n");
  EXPECT_EQ(paused[1].colour, TextColour::Blue);
}

std::string issues(int count) {
  std::string text;
  for (int i = 1; i <= count; ++i) text += "\nChecksum error: /out/f" + std::to_string(i);
  return text;
}

class FinalSummaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    s.Issues = &log;
    s.StartTime.store(0);
    s.EndTime = 90 * kSecond + kSecond / 4;
  }
  void addIssues(int count) {
    for (int i = 1; i <= count; ++i) {
      appendIssue(log, ("\nChecksum error: /out/f" + std::to_string(i)).c_str());
    }
  }
  JobState s;
  IssueLog log;
};

TEST_F(FinalSummaryTest, VerificationWithoutErrors) {
  s.VerifyOnly = 1;
  s.FoldersProcessed.store(2);
  s.FilesProcessed.store(5);
  s.FilesOk.store(5);
  StyledText text = buildFinalSummary(s, "/home/u/.Tamzel/TamzelError.log");
  ASSERT_EQ(text.size(), 2u);
  EXPECT_EQ(text[0].colour, TextColour::Default);
  EXPECT_EQ(text[0].text,
            "Checksum verification finished in 00h : 01m : 30.25s\n"
            "Folders with checksum lists verified: 2\nChecksum entries processed: 5\n"
            "Files OK: 5\nNo checksum errors encountered.\n");
  EXPECT_EQ(text[1].text, "\nDone!\n");
  EXPECT_EQ(text[1].colour, TextColour::Blue);
  EXPECT_FALSE(s.hasSummary());  // a verification-only job has no processing summary
}

TEST_F(FinalSummaryTest, VerificationWithProblemsIsRed) {
  s.VerifyOnly = 1;
  s.FoldersProcessed.store(1);
  s.FoldersWithoutLists.store(2);
  s.FilesProcessed.store(6);
  s.FilesSkipped.store(1);
  s.FilesOk.store(2);
  s.ChecksumErrors.store(3);
  s.FilesMissing.store(4);
  s.CorruptedLists.store(1);
  addIssues(2);
  StyledText text = buildFinalSummary(s, "/log");
  ASSERT_EQ(text.size(), 4u);
  EXPECT_EQ(text[0].text,
            "Checksum verification finished in 00h : 01m : 30.25s\n"
            "Folders with checksum lists verified: 1\nFolders without checksum lists: 2\n"
            "Checksum entries processed: 6\nFiles skipped by user: 1\nFiles OK: 2");
  EXPECT_EQ(text[1].colour, TextColour::Red);
  EXPECT_EQ(text[1].text,
            "\nChecksum errors encountered: 3\nFiles missing: 4\nCorrupted checksum lists: 1\n");
  EXPECT_EQ(text[2].colour, TextColour::Default);
  EXPECT_EQ(text[2].text, "\nError log:" + issues(2));
  EXPECT_EQ(text[3].text, "\nDone!\n");
}

// The missing-files line alone also turns red.
TEST_F(FinalSummaryTest, MissingFilesAloneAreRed) {
  s.VerifyOnly = 1;
  s.FilesMissing.store(1);
  StyledText text = buildFinalSummary(s, "/log");
  ASSERT_GE(text.size(), 3u);
  EXPECT_TRUE(text[0].text.ends_with("Files OK: 0\nNo checksum errors encountered.\n"));
  EXPECT_EQ(text[1].text, "Files missing: 1\n");
  EXPECT_EQ(text[1].colour, TextColour::Red);
}

TEST_F(FinalSummaryTest, TwentyIssuesShownInFullTwentyFiveCut) {
  for (int count : {20, 25}) {
    SCOPED_TRACE(count);
    resetIssueLog(log);
    addIssues(count);
    std::string expected = "\nError log:" + issues(20);
    if (count > 20) {
      expected +=
          "\n\nOnly displaying the first 20 issues. Full error log saved in /u/TamzelError.log";
    }
    EXPECT_EQ(formatIssues(log, "/u/TamzelError.log"), expected);
  }
  resetIssueLog(log);
  EXPECT_EQ(formatIssues(log, "/u/TamzelError.log"), "");
}

TEST_F(FinalSummaryTest, ProcessingWithVerificationPass) {
  s.setSummary("Processing finished in 00h : 00m : 1.00s\n");
  s.FoldersProcessed.store(1);
  s.FilesProcessed.store(1);
  s.FilesOk.store(1);
  std::string text = plainText(buildFinalSummary(s, "/log"));
  EXPECT_EQ(text,
            "Processing finished in 00h : 00m : 1.00s\n\n"
            "Checksum verification finished in 00h : 01m : 30.25s\n"
            "Folders with checksum lists verified: 1\nChecksum entries processed: 1\n"
            "Files OK: 1\nNo checksum errors encountered.\n\nDone!\n");
}

TEST_F(FinalSummaryTest, ProcessingOnlyAndAborted) {
  s.FoldersProcessed.store(3);
  s.FilesProcessed.store(2);
  s.Abort.store(true);
  StyledText text = buildFinalSummary(s, "/log");
  ASSERT_EQ(text.size(), 2u);
  EXPECT_EQ(text[0].text,
            "Processing finished in 00h : 01m : 30.25s\nFolders processed: 3\n"
            "Files processed: 2\n");
  EXPECT_EQ(text[1].text, "\nJob was aborted!\n");
  EXPECT_EQ(text[1].colour, TextColour::Red);
  EXPECT_TRUE(s.hasSummary());
}

TEST(SummaryTest, PhaseEndRestartsCountersAndClock) {
  JobState s;
  Processing p{.files = 2, .dispatched = 2, .compressed = 2, .before = 10, .after = 5};
  fill(s, p);
  s.FilesTotal.store(2);
  s.ChecksumErrors.store(9);
  s.EnumerationDone.store(true);
  int64_t before = steadyNowNs();
  performPhaseEnd(s);
  EXPECT_TRUE(s.hasSummary());
  EXPECT_NE(s.summary().find("DNG files compressed: 2"), std::string::npos);
  EXPECT_EQ(s.FilesProcessed.load(), 0u);
  EXPECT_EQ(s.DngCompressed.load(), 0u);
  EXPECT_EQ(s.BytesBefore.load(), 0u);
  EXPECT_EQ(s.ChecksumErrors.load(), 0u);
  EXPECT_EQ(s.FilesTotal.load(), 2u);
  EXPECT_TRUE(s.EnumerationDone.load());
  EXPECT_GE(s.StartTime.load(), before);
  EXPECT_GE(s.EndTime, before);
}

TEST(SummaryTest, PromptTexts) {
  struct Case {
    PromptKind kind;
    int32_t error;
    const char* title;
    const char* skip;
    std::string message;
  } cases[] = {
      {PromptKind::OpenRead, 2, "Error opening file for reading", "Skip File",
       "Cannot open file for reading:\n/p\n\nThe system reported: why"},
      {PromptKind::OpenWrite, 13, "Error opening file for writing", "Skip File",
       "Cannot open file for writing:\n/p\n\nThe system reported: why\n\nThe file may be opened "
       "in another application or you may not have permissions to write this file."},
      {PromptKind::Write, 28, "Error writing file", "Skip File",
       "Error while attempting to write file:\n/p\n\nThe system reported: why\n\nYou can free "
       "some drive space and Retry."},
      {PromptKind::Write, 12, "Error writing file", "Skip File",
       "Error while attempting to write file:\n/p\n\nThe system reported: why\n\nYou can free "
       "some drive space and Retry."},
      {PromptKind::Write, 5, "Error writing file", "Skip File",
       "Error while attempting to write file:\n/p\n\nThe system reported: why\n\nYou can "
       "attempt to resolve the problem and Retry."},
      {PromptKind::CreateFolder, 17, "Error creating folder", "Skip Folder",
       "Cannot create folder:\n/p\n\nThe system reported: why\n\nYou may try to resolve the "
       "problem and click Retry or you can Skip this folder. Skipping will also skip any "
       "subfolders of this folder."},
      {PromptKind::QueryFile, 2, "Error querying file", "Skip File",
       "Cannot get file info:\n/p\n\nThe system reported: why"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    EXPECT_STREQ(promptTitle(c.kind), c.title);
    EXPECT_STREQ(promptSkipLabel(c.kind), c.skip);
    EXPECT_EQ(promptMessage(c.kind, "/p", "why", c.error), c.message);
  }
}

}  // namespace
}  // namespace tamzel
