// The main window's commands: refused starts and verifications, the same-folder question, the
// running state, Pause/Resume, Abort and quitting with their confirmations.
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "ui_test_support.h"

namespace uitest {
namespace {

using CommandsTest = UiTest;

const char* const kNotFoundTail =
    "\n\nPossible reasons: the folder might have been deleted; or if it was located on an "
    "external drive, the drive might have been disconnected.";
const long kWarning = wxOK | wxICON_EXCLAMATION;

void expectIdle(TheFrame* frame) {
  EXPECT_FALSE(frame->JobRunning());
  for (wxWindow* w :
       {static_cast<wxWindow*>(frame->InputChooseButton),
        static_cast<wxWindow*>(frame->OutputChooseButton),
        static_cast<wxWindow*>(frame->InputVerifyButton),
        static_cast<wxWindow*>(frame->OutputVerifyButton),
        static_cast<wxWindow*>(frame->RecurseBox), static_cast<wxWindow*>(frame->CopyAllBox),
        static_cast<wxWindow*>(frame->PolicyBox), static_cast<wxWindow*>(frame->PremiereBox),
        static_cast<wxWindow*>(frame->GenerateChecksBox)}) {
    EXPECT_TRUE(w->IsEnabled()) << w->GetLabel();
  }
  EXPECT_EQ(frame->VerificationPassBox->IsEnabled(), frame->GenerateChecksBox->GetValue());
  EXPECT_FALSE(frame->PauseButton->IsShown());
  EXPECT_EQ(frame->StartButton->GetLabel(), "Start Job");
}

void expectRunning(TheFrame* frame) {
  EXPECT_TRUE(frame->JobRunning());
  for (wxWindow* w :
       {static_cast<wxWindow*>(frame->InputChooseButton),
        static_cast<wxWindow*>(frame->OutputChooseButton),
        static_cast<wxWindow*>(frame->InputVerifyButton),
        static_cast<wxWindow*>(frame->OutputVerifyButton),
        static_cast<wxWindow*>(frame->RecurseBox), static_cast<wxWindow*>(frame->CopyAllBox),
        static_cast<wxWindow*>(frame->PolicyBox), static_cast<wxWindow*>(frame->PremiereBox),
        static_cast<wxWindow*>(frame->GenerateChecksBox),
        static_cast<wxWindow*>(frame->VerificationPassBox)}) {
    EXPECT_FALSE(w->IsEnabled()) << w->GetLabel();
  }
  EXPECT_TRUE(frame->PauseButton->IsShown());
  EXPECT_EQ(frame->StartButton->GetLabel(), "Abort Job");
}

// A stand-in job that runs until the test releases it or the job is aborted.
std::atomic<bool> release{false};
std::atomic<bool> fakeJobEnded{false};
void holdUntilReleased(tamzel::JobState& state) {
  while (!release.load() && !state.Abort.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  fakeJobEnded.store(true);
}

class RunningJobTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    release = false;
    fakeJobEnded = false;
    TheFrame::StartJobThread = &fakeStarter;
    fakeBody = holdUntilReleased;
    in_ = scratch_ + "/in";
    out_ = scratch_ + "/out";
    std::filesystem::create_directories(in_);
    std::filesystem::create_directories(out_);
    startApp();
    setFolder(true, in_);
    setFolder(false, out_);
    click(frame_->StartButton);
    ASSERT_TRUE(frame_->JobRunning());
  }
  void TearDown() override {
    release = true;
    UiTest::TearDown();
  }
  std::string in_, out_;
};

// Every refusal: the message box's text and title, and no job.
TEST_F(CommandsTest, RefusedStartsAndVerificationsShowTheirMessageAndStartNothing) {
  TheFrame::StartJobThread = &fakeStarter;
  const std::string in = scratch_ + "/in";
  const std::string out = scratch_ + "/out";
  const std::string gone = scratch_ + "/gone";
  const std::string sameAsIn = scratch_ + "/in/../in";
  const std::string inside = scratch_ + "/in/rendered";
  for (const std::string& d : {in, out, inside}) std::filesystem::create_directories(d);

  struct RefusalCase {
    const char* name;
    const char* input;   // nullptr: not chosen
    const char* output;  // nullptr: not chosen
    int policy;
    int button;  // 4, 5 verify; 6 start
    std::string text;
    std::string title;
    long style;
    int answer;
  };
  const std::string sameSkip =
      "Input and output folders seem to be identical!\n\nYour existing files policy is set to "
      "Skip. Set it to Overwrite if you want to overwrite the original files with the "
      "compressed files.";
  const std::string sameOverwrite =
      "Input and output folders seem to be identical!\n\nProceeding will overwrite the original "
      "files with the compressed files.\n\nContinue?";
  const std::string noVerify =
      "No folder selected yet. First select a folder to run checksum verification on.";
  const RefusalCase cases[] = {
      {"no folders", nullptr, nullptr, 0, 6, "Please select input and output folders!", "Start Job",
       wxOK, wxOK},
      {"only input", in.c_str(), nullptr, 0, 6, "Please select input and output folders!",
       "Start Job", wxOK, wxOK},
      {"only output", nullptr, out.c_str(), 0, 6, "Please select input and output folders!",
       "Start Job", wxOK, wxOK},
      {"input missing", gone.c_str(), out.c_str(), 0, 6,
       "Folder not found!\n\nCannot find the selected input folder:\n" + gone + kNotFoundTail,
       "Warning", kWarning, wxOK},
      {"output missing", in.c_str(), gone.c_str(), 0, 6,
       "Folder not found!\n\nCannot find the selected output folder:\n" + gone + kNotFoundTail,
       "Warning", kWarning, wxOK},
      {"same folder, skip", in.c_str(), sameAsIn.c_str(), 0, 6, sameSkip, "Warning", kWarning,
       wxOK},
      {"same folder, overwrite, cancel", in.c_str(), sameAsIn.c_str(), 1, 6, sameOverwrite,
       "Warning", wxOK | wxCANCEL | wxCANCEL_DEFAULT | wxICON_EXCLAMATION, wxCANCEL},
      {"output inside input", in.c_str(), inside.c_str(), 0, 6,
       "The output folder is a subfolder of the input folder!\n\nCurrently this leads to "
       "infinite program execution. Please select another location to save files.",
       "Warning", kWarning, wxOK},
      // The file-system root contains every other folder.
      {"output inside the root", "/", out.c_str(), 0, 6,
       "The output folder is a subfolder of the input folder!\n\nCurrently this leads to "
       "infinite program execution. Please select another location to save files.",
       "Warning", kWarning, wxOK},
      {"verify input not chosen", nullptr, out.c_str(), 0, 4, noVerify, "Verify", wxOK, wxOK},
      {"verify output not chosen", in.c_str(), nullptr, 0, 5, noVerify, "Verify", wxOK, wxOK},
      {"verify folder missing", gone.c_str(), nullptr, 0, 4,
       "Folder not found!\n\nCannot find the selected folder:\n" + gone + kNotFoundTail, "Warning",
       kWarning, wxOK},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(settingsFile());  // no folder restored from the last round
    TheFrame* frame = startApp();
    if (c.input) setFolder(true, c.input);
    if (c.output) setFolder(false, c.output);
    frame->PolicyBox->SetSelection(c.policy);
    wxWindow* button = frame->FindWindow(c.button);
    ASSERT_NE(button, nullptr);
    wxTEST_DIALOG(click(button), ExpectMessage(c.text, c.title, c.answer, c.style));
    EXPECT_EQ(fakeLog.starts.load(), 0);
    expectIdle(frame);
    quitApp();
  }
}

TEST_F(CommandsTest, FoldersThatOnlyLookRelatedStartAJob) {
  TheFrame::StartJobThread = &fakeStarter;
  struct Case {
    std::string input, output;
  };
  const Case cases[] = {
      // A sibling whose name extends the input folder's name.
      {scratch_ + "/shoot", scratch_ + "/shoot2"},
      // The input path appears inside the output path, but not at its beginning.
      {scratch_ + "/a", scratch_ + "/b" + scratch_ + "/a/x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    std::filesystem::remove(settingsFile());
    std::filesystem::create_directories(c.input);
    std::filesystem::create_directories(c.output);
    TheFrame* frame = startApp();
    setFolder(true, c.input);
    setFolder(false, c.output);
    fakeLog.starts = 0;
    click(frame->StartButton);
    EXPECT_EQ(fakeLog.starts.load(), 1);
    EXPECT_EQ(fakeLog.source, c.input + "/");
    EXPECT_EQ(fakeLog.destination, c.output + "/");
    EXPECT_FALSE(fakeLog.inPlace);
    EXPECT_FALSE(fakeLog.verifyOnly);
    EXPECT_TRUE(pumpUntil([&] { return !frame->JobRunning(); }));
    quitApp();
  }
}

TEST_F(CommandsTest, SameFolderWithOverwriteAndOkStartsAnInPlaceJob) {
  TheFrame::StartJobThread = &fakeStarter;
  const std::string in = scratch_ + "/footage";
  std::filesystem::create_directories(in);
  TheFrame* frame = startApp();
  setFolder(true, in);
  setFolder(false, in + "/.");
  frame->PolicyBox->SetSelection(1);
  wxTEST_DIALOG(click(frame->StartButton),
                ExpectMessage("Input and output folders seem to be identical!\n\nProceeding "
                              "will overwrite the original files with the compressed "
                              "files.\n\nContinue?",
                              "Warning", wxOK));
  EXPECT_EQ(fakeLog.starts.load(), 1);
  EXPECT_TRUE(fakeLog.inPlace);
  EXPECT_EQ(fakeLog.source, in + "/");
  EXPECT_EQ(fakeLog.destination, in + "/./");
  EXPECT_TRUE(pumpUntil([&] { return !frame->JobRunning(); }));
  expectIdle(frame);
}

TEST_F(CommandsTest, VerifyStartsAVerificationOnlyJobWithTheCurrentSubfolderSetting) {
  TheFrame::StartJobThread = &fakeStarter;
  const std::string out = scratch_ + "/out/";  // already ends in a separator
  std::filesystem::create_directories(out);
  TheFrame* frame = startApp();
  setFolder(false, out);
  frame->RecurseBox->SetValue(false);
  click(frame->OutputVerifyButton);
  EXPECT_EQ(fakeLog.starts.load(), 1);
  EXPECT_EQ(fakeLog.source, out);
  EXPECT_FALSE(fakeLog.destinationGiven);
  EXPECT_TRUE(fakeLog.verifyOnly);
  EXPECT_FALSE(fakeLog.recurse);
  expectRunning(frame);
  EXPECT_TRUE(pumpUntil([&] { return !frame->JobRunning(); }));
  expectIdle(frame);
}

TEST_F(CommandsTest, VerificationPassIsOffWithoutChecksumsAndFollowsTheCheckBox) {
  TheFrame::StartJobThread = &fakeStarter;
  writeSettings("VerificationPass=1\nGenerateChecks=0\n");
  std::filesystem::create_directories(scratch_ + "/in");
  std::filesystem::create_directories(scratch_ + "/out");
  TheFrame* frame = startApp();
  setFolder(true, scratch_ + "/in");
  setFolder(false, scratch_ + "/out");
  click(frame->StartButton);
  EXPECT_FALSE(fakeLog.verificationPass) << "no pass without checksums";
  ASSERT_TRUE(pumpUntil([&] { return !frame->JobRunning(); }));

  click(frame->GenerateChecksBox);
  EXPECT_TRUE(frame->VerificationPassBox->IsEnabled());
  EXPECT_TRUE(frame->VerificationPassBox->GetValue()) << "its value is untouched";
  click(frame->GenerateChecksBox);
  EXPECT_FALSE(frame->VerificationPassBox->IsEnabled());
  EXPECT_TRUE(frame->VerificationPassBox->GetValue());
  click(frame->GenerateChecksBox);
  click(frame->StartButton);
  EXPECT_TRUE(fakeLog.verificationPass);
  EXPECT_FALSE(frame->VerificationPassBox->IsEnabled()) << "disabled while running";
  ASSERT_TRUE(pumpUntil([&] { return !frame->JobRunning(); }));
  EXPECT_TRUE(frame->VerificationPassBox->IsEnabled());
}

TEST_F(CommandsTest, AThreadThatCannotBeCreatedLeavesTheWindowIdle) {
  TheFrame::StartJobThread = &failingStarter;
  std::filesystem::create_directories(scratch_ + "/in");
  std::filesystem::create_directories(scratch_ + "/out");
  TheFrame* frame = startApp();
  setFolder(true, scratch_ + "/in");
  setFolder(false, scratch_ + "/out");
  wxTEST_DIALOG(
      click(frame->StartButton),
      ExpectMessage("The job could not be started.\n\nThe system could not create the job "
                    "thread (thread: Resource temporarily unavailable).",
                    "Start Job", wxOK, wxOK | wxICON_ERROR));
  expectIdle(frame);
}

TEST_F(RunningJobTest, RunningStateAndPauseResumeLabels) {
  expectRunning(frame_);
  tamzel::JobState& state = frame_->Job();
  EXPECT_EQ(frame_->PauseButton->GetLabel(), "Pause Job");
  EXPECT_FALSE(state.WasPaused);
  click(frame_->PauseButton);
  EXPECT_TRUE(state.Pause.load());
  EXPECT_TRUE(state.WasPaused);
  EXPECT_EQ(frame_->PauseButton->GetLabel(), "Resume Job");
  pumpRounds(2);
  const std::string notice = "\n\nProcessing is paused! Click Resume Job to continue.\n";
  const std::string text = frame_->ProgressText->GetValue().ToStdString();
  ASSERT_GE(text.size(), notice.size());
  EXPECT_EQ(text.substr(text.size() - notice.size()), notice);
  EXPECT_EQ(colourOf(*frame_->ProgressText, "Processing is paused!"), wxColour(0, 0, 255));
  EXPECT_NE(colourOf(*frame_->ProgressText, "Time elapsed: "), wxColour(0, 0, 255));

  click(frame_->PauseButton);
  EXPECT_FALSE(state.Pause.load());
  EXPECT_EQ(frame_->PauseButton->GetLabel(), "Pause Job");
  pumpRounds(2);
  EXPECT_EQ(frame_->ProgressText->GetValue().Find("Processing is paused!"), wxNOT_FOUND);

  // Progress lines while counting and while working.
  state.FilesTotal = 5;
  pumpRounds(2);
  EXPECT_TRUE(frame_->ProgressText->GetValue().EndsWith("Enumerating files: 5"))
      << frame_->ProgressText->GetValue();
  state.FilesTotal = 7;
  state.FilesProcessed = 3;
  state.EnumerationDone = true;
  pumpRounds(2);
  EXPECT_NE(frame_->ProgressText->GetValue().Find("Files processed: 3 of 7\nProgress: 42%"),
            wxNOT_FOUND)
      << frame_->ProgressText->GetValue();
  release = true;
  ASSERT_TRUE(pumpUntil([&] { return !frame_->JobRunning(); }));
  expectIdle(frame_);
  EXPECT_EQ(colourOf(*frame_->ProgressText, "Done!"), wxColour(0, 0, 255));
}

TEST_F(RunningJobTest, AbortAsksWithTheJobPausedAndOnlyYesAborts) {
  tamzel::JobState& state = frame_->Job();
  const std::string question =
      "The processing job is not finished yet.\n\nAre you sure you want to abort it?";
  const long style = wxYES_NO | wxNO_DEFAULT | wxICON_EXCLAMATION;
  const auto pausedWhileOpen = [&state](wxMessageDialog& dialog) {
    EXPECT_TRUE(state.Pause.load()) << "the job waits while the question is open";
    EXPECT_EQ(dialog.GetParent(), MainFrame);
  };

  // Not paused: paused for the question, running again after No.
  wxTEST_DIALOG(click(frame_->StartButton),
                ExpectMessage(question, "Confirm abort", wxNO, style).With(pausedWhileOpen));
  EXPECT_FALSE(state.Pause.load());
  EXPECT_TRUE(state.WasPaused);
  EXPECT_FALSE(state.Abort.load());

  // Paused by the user: still paused after No.
  click(frame_->PauseButton);
  wxTEST_DIALOG(click(frame_->StartButton),
                ExpectMessage(question, "Confirm abort", wxNO, style).With(pausedWhileOpen));
  EXPECT_TRUE(state.Pause.load());
  EXPECT_FALSE(state.Abort.load());

  // Yes: aborted and woken up.
  wxTEST_DIALOG(click(frame_->StartButton),
                ExpectMessage(question, "Confirm abort", wxYES, style).With(pausedWhileOpen));
  EXPECT_TRUE(state.Abort.load());
  EXPECT_FALSE(state.Pause.load());

  // Afterwards Pause does nothing and Abort asks again. The stand-in job has ended by now but
  // the window only notices in its idle handler.
  const wxString pauseLabel = frame_->PauseButton->GetLabel();
  click(frame_->PauseButton);
  EXPECT_FALSE(state.Pause.load());
  EXPECT_EQ(frame_->PauseButton->GetLabel(), pauseLabel);
  wxTEST_DIALOG(click(frame_->StartButton), ExpectMessage(question, "Confirm abort", wxNO, style));

  ASSERT_TRUE(pumpUntil([&] { return !frame_->JobRunning(); }));
  expectIdle(frame_);
  const std::string text = frame_->ProgressText->GetValue().ToStdString();
  EXPECT_NE(text.find("\nJob was aborted!\n"), std::string::npos) << text;
  EXPECT_EQ(colourOf(*frame_->ProgressText, "Job was aborted!"), wxColour(255, 0, 0));
}

TEST_F(RunningJobTest, CloseAndExitAskWhileAJobRunsAndNoKeepsBoth) {
  const std::string question =
      "The processing job is not finished yet.\n\nQuitting will abort processing. Are you sure "
      "you want to quit?";
  const long style = wxYES_NO | wxNO_DEFAULT | wxICON_EXCLAMATION;
  tamzel::JobState& state = frame_->Job();
  const auto pausedWhileOpen = [&state](wxMessageDialog&) { EXPECT_TRUE(state.Pause.load()); };

  wxTEST_DIALOG(frame_->Close(),
                ExpectMessage(question, "Confirm quit", wxNO, style).With(pausedWhileOpen));
  pumpRounds(2);
  EXPECT_EQ(MainFrame, frame_);
  EXPECT_TRUE(frame_->JobRunning());
  EXPECT_FALSE(state.Pause.load());
  EXPECT_FALSE(state.Abort.load());

  // Exit queues a close request that is handled like the close box.
  const auto chooseExit = [this] {
    wxCommandEvent exitCommand(wxEVT_MENU, wxID_EXIT);
    frame_->GetEventHandler()->ProcessEvent(exitCommand);
    EXPECT_EQ(MainFrame, frame_) << "the close request is queued, not handled at once";
    wxTheApp->ProcessPendingEvents();
  };
  wxTEST_DIALOG(chooseExit(), ExpectMessage(question, "Confirm quit", wxNO, style));
  pumpRounds(2);
  EXPECT_EQ(MainFrame, frame_);
  EXPECT_TRUE(frame_->JobRunning());
  EXPECT_FALSE(fakeJobEnded.load());
}

TEST_F(CommandsTest, ConfirmedQuitStopsAndJoinsTheJobBeforeTheWindowGoes) {
  // The job waits in a prompt when the user quits: the prompt is answered Abort unseen, the
  // job ends, and only then does the window go.
  release = false;
  fakeJobEnded = false;
  std::atomic<int> answer{0};
  TheFrame::StartJobThread = &fakeStarter;
  fakeBody = [&answer](tamzel::JobState& state) {
    answer =
        static_cast<int>(tamzel::askUser("/out/frame_0001.dng", tamzel::PromptKind::Write, 28));
    holdUntilReleased(state);
  };
  std::filesystem::create_directories(scratch_ + "/in");
  std::filesystem::create_directories(scratch_ + "/out");
  TheFrame* frame = startApp();
  setFolder(true, scratch_ + "/in");
  setFolder(false, scratch_ + "/out");
  frame->PremiereBox->SetValue(true);
  click(frame->StartButton);
  ASSERT_TRUE(frame->JobRunning());
  // Wait for the prompt to be queued without letting the idle handler show it.
  const tamzel::JobState& state = frame->Job();
  for (int i = 0; i < 400 && state.ErrorPrompts.load() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(state.ErrorPrompts.load(), 1u);
  wxTEST_DIALOG(frame->Close(),
                ExpectMessage("The processing job is not finished yet.\n\nQuitting will abort "
                              "processing. Are you sure you want to quit?",
                              "Confirm quit", wxYES));
  // The close handler returned only after the job thread was joined.
  EXPECT_TRUE(fakeJobEnded.load());
  EXPECT_EQ(answer.load(), static_cast<int>(tamzel::PromptAnswer::Abort));
  EXPECT_TRUE(pumpUntil([] { return MainFrame == nullptr; }, 10));
  app().WriteSettingsAndRelease();
  const std::string text = readText(settingsFile());
  EXPECT_NE(text.find("PremiereCCCompat=1\n"), std::string::npos) << text;
}

TEST_F(CommandsTest, AFailureThatEndedTheJobIsNamedInRedBelowTheSummary) {
  TheFrame::StartJobThread = &fakeStarter;
  fakeBody = [](tamzel::JobState& state) {
    tamzel::failJob(state, "Not enough memory for the file buffers.");
  };
  std::filesystem::create_directories(scratch_ + "/in");
  std::filesystem::create_directories(scratch_ + "/out");
  TheFrame* frame = startApp();
  setFolder(true, scratch_ + "/in");
  setFolder(false, scratch_ + "/out");
  click(frame->StartButton);
  ASSERT_TRUE(pumpUntil([frame] { return !frame->JobRunning(); }));
  const std::string text = frame->ProgressText->GetValue().ToStdString();
  EXPECT_NE(text.find("\nJob was aborted!\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Not enough memory for the file buffers.\n"), std::string::npos) << text;
  EXPECT_EQ(colourOf(*frame->ProgressText, "Not enough memory"), wxColour(255, 0, 0));
}

TEST_F(CommandsTest, PhaseEndHookReachesTheWindowAndTheVerificationPassIsShown) {
  TheFrame::StartJobThread = &fakeStarter;
  release = false;
  fakeBody = [](tamzel::JobState& state) {
    state.FilesTotal = 4;
    state.FoldersProcessed = 1;
    state.FilesProcessed = 4;
    state.EnumerationDone = true;
    state.OnPhaseEnd();  // as the job thread does before its verification pass
    state.FilesTotal = 4;
    state.FilesProcessed = 1;
    state.FilesOk = 1;
    holdUntilReleased(state);
  };
  writeSettings("GenerateChecks=1\nVerificationPass=1\n");
  std::filesystem::create_directories(scratch_ + "/in");
  std::filesystem::create_directories(scratch_ + "/out");
  TheFrame* frame = startApp();
  setFolder(true, scratch_ + "/in");
  setFolder(false, scratch_ + "/out");
  click(frame->StartButton);
  ASSERT_TRUE(pumpUntil([frame] { return frame->Job().hasSummary(); }, 10));
  pumpRounds(2);
  const std::string text = frame->ProgressText->GetValue().ToStdString();
  EXPECT_EQ(text.rfind("Processing finished in ", 0), 0u) << text;
  EXPECT_NE(text.find("Files processed: 4\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nNow verifying output...\nTime elapsed: "), std::string::npos) << text;
  EXPECT_NE(text.find("Files verified: 1 of 4\nProgress: 25%"), std::string::npos) << text;
  release = true;
  ASSERT_TRUE(pumpUntil([frame] { return !frame->JobRunning(); }));
  const std::string summary = frame->ProgressText->GetValue().ToStdString();
  EXPECT_EQ(summary.rfind("Processing finished in ", 0), 0u) << summary;
  EXPECT_NE(summary.find("\nChecksum verification finished in "), std::string::npos) << summary;
}

TEST_F(CommandsTest, CloseWithoutAJobAsksNothingAndWritesTheSettings) {
  TheFrame* frame = startApp();
  frame->RecurseBox->SetValue(false);
  frame->Close();  // the fallback hook fails the test if anything is asked
  EXPECT_TRUE(pumpUntil([] { return MainFrame == nullptr; }, 10));
  app().WriteSettingsAndRelease();
  EXPECT_EQ(readText(settingsFile()).rfind("Recurse=0\n", 0), 0u);
}

}  // namespace
}  // namespace uitest
