// Real jobs started from the window: a processing job with a verification pass over a small
// tree of DNG files, then a verification-only job that finds a damaged file.
#include <filesystem>

#include "support/dng_writer.h"
#include "ui_test_support.h"

namespace uitest {
namespace {

class JobTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    in_ = scratch_ + "/in";
    out_ = scratch_ + "/out";
    std::filesystem::create_directories(in_ + "/sub");
    std::filesystem::create_directories(out_);
    tamzel::testing::FixtureOptions options;
    options.width = 128;
    options.height = 64;
    options.bitsPerSample = 16;
    const auto samples =
        tamzel::testing::makeSamples(options.width, options.height, options.bitsPerSample,
                                     tamzel::testing::SamplePattern::Gradient);
    const auto dng = tamzel::testing::writeFixtureDng(options, samples);
    for (const char* name : {"/a_0001.dng", "/a_0002.dng", "/sub/b_0001.DNG"}) {
      tamzel::testing::writeFile(in_ + name, dng);
    }
    writeText(in_ + "/notes.txt", "slate: scene 4, take 2\n");
  }
  std::string in_, out_;
};

std::string textOf(TheFrame* frame) {
  return frame->ProgressText->GetValue().ToStdString();
}

void expectContains(const std::string& text, const std::string& piece) {
  EXPECT_NE(text.find(piece), std::string::npos) << "\"" << piece << "\" not in:\n" << text;
}

TEST_F(JobTest, ProcessingWithVerificationRunsToTheEndAndReportsInColour) {
  writeSettings("GenerateChecks=1\nVerificationPass=1\n");
  TheFrame* frame = startApp();
  setFolder(true, in_);
  setFolder(false, out_);
  // The job starts paused, so its progress can be looked at before it ends.
  TheFrame::StartJobThread = &pausedEngineStarter;
  click(frame->StartButton);
  ASSERT_TRUE(frame->JobRunning());
  pumpRounds(3);
  const std::string progress = textOf(frame);
  EXPECT_EQ(progress.rfind("Time elapsed: 00h : 00m : ", 0), 0u) << progress;
  expectContains(progress, "\n\nProcessing is paused! Click Resume Job to continue.\n");
  EXPECT_EQ(colourOf(*frame->ProgressText, "Processing is paused!"), wxColour(0, 0, 255));

  // The Pause button resumes the job: Pause is set (before the thread started), so it clears.
  click(frame->PauseButton);
  EXPECT_FALSE(frame->Job().Pause.load());
  EXPECT_EQ(frame->PauseButton->GetLabel(), "Pause Job");
  ASSERT_TRUE(pumpUntil([frame] { return !frame->JobRunning(); }, 30));

  const std::string summary = textOf(frame);
  EXPECT_EQ(summary.rfind("Processing finished in 00h : 00m : ", 0), 0u) << summary;
  expectContains(summary, "\nFolders processed: 2\nFiles processed: 4\n");
  expectContains(summary,
                 "DNG files compressed: 3\n    Total size of DNG files before compression: ");
  expectContains(summary, "\n\nChecksum verification finished in 00h : 00m : ");
  expectContains(summary,
                 "Folders with checksum lists verified: 2\nChecksum entries processed: 4\n");
  expectContains(summary, "Files OK: 4\nNo checksum errors encountered.\n");
  EXPECT_TRUE(summary.size() >= 7 && summary.substr(summary.size() - 7) == "\nDone!\n") << summary;
  EXPECT_EQ(summary.find("Processing speed"), std::string::npos) << "the job was paused";
  EXPECT_EQ(colourOf(*frame->ProgressText, "Done!"), wxColour(0, 0, 255));
  EXPECT_NE(colourOf(*frame->ProgressText, "No checksum errors"), wxColour(255, 0, 0));
  EXPECT_NE(colourOf(*frame->ProgressText, "Files OK"), wxColour(255, 0, 0));
  for (const char* name : {"/a_0001.dng", "/a_0002.dng", "/sub/b_0001.DNG", "/notes.txt",
                           "/checksum.tz", "/sub/checksum.tz"}) {
    EXPECT_TRUE(exists(out_ + name)) << name;
  }
  EXPECT_FALSE(frame->PauseButton->IsShown());
  EXPECT_EQ(frame->StartButton->GetLabel(), "Start Job");
  EXPECT_TRUE(frame->VerificationPassBox->IsEnabled());
  EXPECT_TRUE(frame->InputChooseButton->IsEnabled());

  // Damage one output file and verify the output folder on its own.
  {
    auto bytes = tamzel::testing::readFile(out_ + "/a_0002.dng");
    ASSERT_GT(bytes.size(), 100u);
    bytes[bytes.size() / 2] ^= 0x5a;
    tamzel::testing::writeFile(out_ + "/a_0002.dng", bytes);
  }
  TheFrame::StartJobThread = &TheFrame::StartEngineJobThread;
  click(frame->OutputVerifyButton);
  ASSERT_TRUE(frame->JobRunning());
  ASSERT_TRUE(pumpUntil([frame] { return !frame->JobRunning(); }, 30));
  const std::string verified = textOf(frame);
  EXPECT_EQ(verified.rfind("Checksum verification finished in ", 0), 0u) << verified;
  EXPECT_EQ(verified.find("Processing finished"), std::string::npos);
  expectContains(verified, "Files OK: 3\nChecksum errors encountered: 1\n");
  EXPECT_EQ(colourOf(*frame->ProgressText, "Checksum errors encountered"), wxColour(255, 0, 0));
  EXPECT_NE(colourOf(*frame->ProgressText, "Files OK"), wxColour(255, 0, 0));
  expectContains(verified, "\nError log:");
  EXPECT_EQ(colourOf(*frame->ProgressText, "Done!"), wxColour(0, 0, 255));
  EXPECT_TRUE(exists(settingsFolder() + "/TamzelError.log"));
}

TEST_F(JobTest, ConfirmedQuitDuringAPausedJobStopsTheEngineFirst) {
  TheFrame* frame = startApp();
  setFolder(true, in_);
  setFolder(false, out_);
  TheFrame::StartJobThread = &pausedEngineStarter;
  click(frame->StartButton);
  ASSERT_TRUE(frame->JobRunning());
  pumpRounds(2);
  const tamzel::JobState& state = frame->Job();
  EXPECT_FALSE(state.Finished.load()) << "the job waits at its first checkpoint";
  wxTEST_DIALOG(frame->Close(),
                ExpectMessage("The processing job is not finished yet.\n\nQuitting will abort "
                              "processing. Are you sure you want to quit?",
                              "Confirm quit", wxYES)
                    .With([&state](wxMessageDialog&) { EXPECT_TRUE(state.Pause.load()); }));
  // The close handler has joined the job thread: the job saw Abort and ended.
  EXPECT_TRUE(state.Finished.load());
  EXPECT_TRUE(state.Abort.load());
  EXPECT_FALSE(frame->JobRunning());
  // The window (destroyed at the next idle round) told the user while it waited.
  EXPECT_NE(
      frame->ProgressText->GetValue().Find("Stopping the job before quitting, please wait..."),
      wxNOT_FOUND);
  EXPECT_TRUE(pumpUntil([] { return MainFrame == nullptr; }, 10));
  app().WriteSettingsAndRelease();
  EXPECT_NE(readText(settingsFile()).find("InputDir=" + in_ + "\n"), std::string::npos);
}

}  // namespace
}  // namespace uitest
