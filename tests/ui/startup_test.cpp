// Start-up, the settings file and the main window's layout.
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/statbox.h>
#include <wx/statline.h>
#include <wx/uiaction.h>

#include <filesystem>

#include "ui/texts.h"
#include "ui_test_support.h"

namespace uitest {
namespace {

using StartupTest = UiTest;

const char* const kDefaultsFile =
    "Recurse=1\nCopyAll=1\nSkipExisting=1\nPremiereCCCompat=0\nGenerateChecks=0\n"
    "VerificationPass=0\nInputDir=\nOutputDir=\n";

TEST_F(StartupTest, FirstStartWithoutSettingsFileShowsDefaults) {
  ASSERT_FALSE(exists(settingsFolder()));
  TheFrame* frame = startApp();
  ASSERT_NE(frame, nullptr);
  EXPECT_TRUE(exists(settingsFolder())) << "start-up creates the settings folder";
  EXPECT_EQ(app().ConfigPath.ToStdString(), settingsFile());
  EXPECT_EQ(app().ErrorLogPath.ToStdString(), settingsFolder() + "/TamzelError.log");
  EXPECT_EQ(ErrorLogPath, app().ErrorLogPath);

  EXPECT_TRUE(frame->RecurseBox->GetValue());
  EXPECT_TRUE(frame->CopyAllBox->GetValue());
  EXPECT_EQ(frame->PolicyBox->GetSelection(), 0);
  EXPECT_FALSE(frame->PremiereBox->GetValue());
  EXPECT_FALSE(frame->GenerateChecksBox->GetValue());
  EXPECT_FALSE(frame->VerificationPassBox->GetValue());
  EXPECT_FALSE(frame->VerificationPassBox->IsEnabled());
  EXPECT_EQ(frame->InputLabel->GetLabelText(), kNoFolderSelected);
  EXPECT_EQ(frame->OutputLabel->GetLabelText(), kNoFolderSelected);
  EXPECT_FALSE(frame->InputChosen);
  EXPECT_FALSE(frame->OutputChosen);
  EXPECT_FALSE(frame->JobRunning());
  EXPECT_EQ(frame->ProgressText->GetValue(), "Tamzel v1.1.1\n\nReady!\n");
  EXPECT_FALSE(frame->PauseButton->IsShown());
  EXPECT_EQ(frame->StartButton->GetLabel(), "Start Job");
}

// Counts the errors and warnings logged while it is the active log target.
class CountingLog : public wxLog {
 public:
  int problems = 0;

 protected:
  void DoLogRecord(wxLogLevel level, const wxString& message, const wxLogRecordInfo&) override {
    if (level <= wxLOG_Warning) {
      ++problems;
      ADD_FAILURE() << "logged: " << message.ToStdString();
    }
  }
};

TEST_F(StartupTest, SettingsFolderThatCannotBeCreatedChangesNothingAndIsNotReported) {
  const std::string homeless = scratch_ + "/no such home";
  ::setenv("HOME", homeless.c_str(), 1);
  CountingLog counter;
  wxLog* previous = wxLog::SetActiveTarget(&counter);
  TheFrame* frame = startApp();
  EXPECT_TRUE(frame->RecurseBox->GetValue());
  EXPECT_EQ(frame->PolicyBox->GetSelection(), 0);
  EXPECT_EQ(app().ErrorLogPath.ToStdString(), homeless + "/.Tamzel/TamzelError.log");
  quitApp();
  wxLog::FlushActive();
  wxLog::SetActiveTarget(previous);
  EXPECT_EQ(counter.problems, 0);
  EXPECT_FALSE(exists(homeless));
  ::setenv("HOME", home_.c_str(), 1);
}

TEST_F(StartupTest, NormalQuitWritesAllEightKeysInOrder) {
  startApp();
  quitApp();
  EXPECT_EQ(readText(settingsFile()), kDefaultsFile);
}

// Settings files and the control states they lead to.
struct SettingsCase {
  const char* file;
  bool recurse, copyAll;
  int policy;
  bool premiere, generate, pass, passEnabled;
};

TEST_F(StartupTest, SettingsFileValuesReachTheControls) {
  const SettingsCase cases[] = {
      // Verification pass stored on without checksums: shown on, but disabled.
      {"VerificationPass=1\nGenerateChecks=0\n", true, true, 0, false, false, true, false},
      {"GenerateChecks=1\nVerificationPass=1\n", true, true, 0, false, true, true, true},
      {"GenerateChecks=1\n", true, true, 0, false, true, false, true},
      {"Recurse=0\nCopyAll=0\nSkipExisting=0\nPremiereCCCompat=1\n", false, false, 1, true, false,
       false, false},
      // Not an integer: the default; any non-zero integer: true.
      {"Recurse=yes\nCopyAll=junk\nPremiereCCCompat=7\n", true, true, 0, true, false, false, false},
  };
  for (const SettingsCase& c : cases) {
    SCOPED_TRACE(c.file);
    writeSettings(c.file);
    TheFrame* frame = startApp();
    EXPECT_EQ(frame->RecurseBox->GetValue(), c.recurse);
    EXPECT_EQ(frame->CopyAllBox->GetValue(), c.copyAll);
    EXPECT_EQ(frame->PolicyBox->GetSelection(), c.policy);
    EXPECT_EQ(frame->PremiereBox->GetValue(), c.premiere);
    EXPECT_EQ(frame->GenerateChecksBox->GetValue(), c.generate);
    EXPECT_EQ(frame->VerificationPassBox->GetValue(), c.pass);
    EXPECT_EQ(frame->VerificationPassBox->IsEnabled(), c.passEnabled);
    quitApp();
  }
}

TEST_F(StartupTest, MissingStoredFolderIsHiddenButWrittenBack) {
  const std::string missing = scratch_ + "/disconnected drive/footage";
  const std::string present = scratch_ + "/out $HOME dir";  // stored verbatim, "$" and all
  std::filesystem::create_directories(present);
  writeSettings("InputDir=" + missing + "\nOutputDir=" + present + "\n");
  TheFrame* frame = startApp();
  EXPECT_EQ(frame->InputLabel->GetLabelText(), kNoFolderSelected);
  EXPECT_FALSE(frame->InputChosen);
  EXPECT_EQ(frame->OutputLabel->GetLabelText().ToStdString(), present);
  EXPECT_TRUE(frame->OutputChosen);
  quitApp();
  const std::string text = readText(settingsFile());
  EXPECT_NE(text.find("InputDir=" + missing + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("OutputDir=" + present + "\n"), std::string::npos) << text;
}

TEST_F(StartupTest, ChosenFoldersAndChangedOptionsAreWrittenAtExit) {
  const std::string in = scratch_ + "/in & more";  // "&" must not turn into a mnemonic
  const std::string out = scratch_ + "/out";
  std::filesystem::create_directories(in);
  std::filesystem::create_directories(out);
  TheFrame* frame = startApp();
  wxTEST_DIALOG(click(frame->InputChooseButton),
                ExpectDirDialog("Choose a folder containing files to process",
                                wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST, in));
  wxTEST_DIALOG(
      click(frame->OutputChooseButton),
      ExpectDirDialog("Choose a folder to save processed files", wxDD_DEFAULT_STYLE, out));
  EXPECT_EQ(frame->InputLabel->GetLabelText().ToStdString(), in);
  EXPECT_TRUE(frame->InputChosen);
  EXPECT_TRUE(frame->OutputChosen);
  // A cancelled chooser changes nothing.
  wxTEST_DIALOG(
      click(frame->InputChooseButton),
      ExpectDirDialog("Choose a folder containing files to process",
                      wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST, "/elsewhere", wxID_CANCEL));
  EXPECT_EQ(frame->InputLabel->GetLabelText().ToStdString(), in);
  click(frame->GenerateChecksBox);
  click(frame->VerificationPassBox);
  frame->PolicyBox->SetSelection(1);
  quitApp();
  EXPECT_EQ(readText(settingsFile()),
            "Recurse=1\nCopyAll=1\nSkipExisting=0\nPremiereCCCompat=0\nGenerateChecks=1\n"
            "VerificationPass=1\nInputDir=" +
                in + "\nOutputDir=" + out + "\n");
}

TEST_F(StartupTest, PathTooLongForTheBuffersIsRefused) {
  std::string deep = scratch_;
  while (deep.size() < 1030) deep += "/abcdefghijklmnopqrstuvwxyz0123456789";
  TheFrame* frame = startApp();
  wxTEST_DIALOG(click(frame->InputChooseButton),
                ExpectDirDialog("Choose a folder containing files to process",
                                wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST, deep),
                ExpectMessage("The folder path is too long:\n\n" + deep +
                                  "\n\nPlease choose a folder whose path is shorter than 1023 "
                                  "bytes.",
                              "Warning", wxOK, wxOK | wxICON_EXCLAMATION));
  EXPECT_EQ(frame->InputLabel->GetLabelText(), kNoFolderSelected);
  EXPECT_FALSE(frame->InputChosen);
}

TEST_F(StartupTest, WindowControlsTextsAndToolTips) {
  TheFrame* frame = startApp();
  EXPECT_EQ(frame->GetTitle(), "Tamzel");
  EXPECT_EQ(frame->GetPosition(), wxPoint(50, 50));
  EXPECT_EQ(frame->GetMinSize(), wxSize(950, 780));
  EXPECT_EQ(frame->GetWindowStyleFlag() & wxDEFAULT_FRAME_STYLE, wxDEFAULT_FRAME_STYLE);

  wxMenuBar* bar = frame->GetMenuBar();
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ(bar->GetMenuCount(), 1u);
  EXPECT_EQ(bar->GetMenuLabel(0), "&File");
  wxMenu* file = bar->GetMenu(0);
  ASSERT_EQ(file->GetMenuItemCount(), 3u);
  EXPECT_EQ(file->FindItemByPosition(0)->GetId(), wxID_ABOUT);
  EXPECT_TRUE(file->FindItemByPosition(1)->IsSeparator());
  EXPECT_EQ(file->FindItemByPosition(2)->GetId(), wxID_EXIT);

  struct ControlCase {
    wxWindow* control;
    int id;
    const char* label;
    const char* toolTip;  // nullptr: none
  };
  const char* verifyTip =
      "Verify this folder's content against its previously generated checksums. (The Process "
      "subfolders setting applies.)";
  const ControlCase controls[] = {
      {frame->InputChooseButton, 2, "Choose Folder...", nullptr},
      {frame->OutputChooseButton, 3, "Choose Folder...", nullptr},
      {frame->InputVerifyButton, 4, "V", verifyTip},
      {frame->OutputVerifyButton, 5, "V", verifyTip},
      {frame->StartButton, 6, "Start Job", nullptr},
      {frame->PauseButton, 7, "Resume Job", nullptr},
      {frame->GenerateChecksBox, 8, "Generate checksums",
       "Generate checksums to facilitate tracking data integrity through post and archiving."},
      {frame->RecurseBox, wxID_ANY, "Process subfolders",
       "Recursively process all subfolders of the selected input folder."},
      {frame->CopyAllBox, wxID_ANY, "Copy non-DNG files",
       "Copy all files accompanying your DNG sequences to the output folder(s)."},
      {frame->PolicyBox, wxID_ANY, "Existing files policy",
       "Choose how to handle any input filenames already existing at the output location."},
      {frame->PremiereBox, wxID_ANY, "Premiere CC compatibility",
       "Output Adobe Premiere Pro CC and Adobe Speedgrade CC compatible cinemaDNG files but "
       "sacrificing a little bit of compression."},
      {frame->VerificationPassBox, wxID_ANY, "Run a verification pass",
       "After processing is finished verify data in the output folder."},
  };
  for (const ControlCase& c : controls) {
    SCOPED_TRACE(c.label);
    if (c.id != wxID_ANY) {
      EXPECT_EQ(c.control->GetId(), c.id);
    } else {
      EXPECT_TRUE(c.control->GetId() < 0 || c.control->GetId() > 8) << "an automatic id";
    }
    EXPECT_EQ(c.control->GetLabel(), c.label);
    EXPECT_EQ(c.control->GetToolTipText().ToStdString(), c.toolTip ? c.toolTip : "");
  }
  EXPECT_EQ(frame->PolicyBox->GetCount(), 2u);
  EXPECT_EQ(frame->PolicyBox->GetString(0), "Skip");
  EXPECT_EQ(frame->PolicyBox->GetString(1), "Overwrite");
  EXPECT_EQ(frame->InputVerifyButton->GetSize().GetWidth(), 35);
  EXPECT_EQ(frame->InputVerifyButton->GetSize().GetHeight(),
            frame->InputChooseButton->GetSize().GetHeight());
  EXPECT_TRUE(frame->InputLabel->HasFlag(wxST_ELLIPSIZE_END));
  EXPECT_TRUE(frame->ProgressText->IsMultiLine());
  EXPECT_FALSE(frame->ProgressText->IsEditable());
  EXPECT_TRUE(frame->ProgressText->HasFlag(wxTE_RICH));
  EXPECT_FALSE(frame->ProgressText->AcceptsFocus());
  EXPECT_FALSE(frame->ProgressText->AcceptsFocusFromKeyboard());

  // Creation order is the keyboard navigation order.
  wxWindow* panel = frame->InputChooseButton->GetParent();
  std::vector<wxWindow*> order;
  for (wxWindow* child : panel->GetChildren()) order.push_back(child);
  ASSERT_EQ(order.size(), 19u);
  const std::vector<wxWindow*> members = {frame->InputChooseButton, frame->InputLabel,
                                          frame->InputVerifyButton, frame->OutputChooseButton,
                                          frame->OutputLabel,       frame->OutputVerifyButton};
  for (std::size_t i = 0; i < members.size(); ++i) EXPECT_EQ(order[i], members[i]) << i;
  EXPECT_NE(dynamic_cast<wxStaticBox*>(order[6]), nullptr);
  EXPECT_EQ(order[7]->GetLabel(), "Choose a folder containing footage to compress:");
  EXPECT_NE(dynamic_cast<wxStaticLine*>(order[8]), nullptr);
  EXPECT_EQ(order[9]->GetLabel(), "Choose a location to store processed files:");
  const std::vector<wxWindow*> rest = {
      frame->RecurseBox,  frame->CopyAllBox,        frame->PolicyBox,
      frame->PremiereBox, frame->GenerateChecksBox, frame->VerificationPassBox,
      frame->PauseButton, frame->StartButton,       frame->ProgressText};
  for (std::size_t i = 0; i < rest.size(); ++i) EXPECT_EQ(order[10 + i], rest[i]) << i;
}

TEST_F(StartupTest, LayoutGivesSpareRoomToFoldersAndTextAndKeepsStartInPlace) {
  TheFrame* frame = startApp();
  pumpRounds(3);
  const wxPoint startAt = frame->StartButton->GetPosition();
  frame->PauseButton->Show();
  frame->PauseButton->GetParent()->Layout();
  EXPECT_EQ(frame->StartButton->GetPosition(), startAt) << "Pause reserves its space";
  frame->PauseButton->Hide();
  frame->PauseButton->GetParent()->Layout();
  EXPECT_EQ(frame->StartButton->GetPosition(), startAt);
  // The pause button sits left of the start button in the options column.
  EXPECT_LT(frame->PauseButton->GetPosition().x, startAt.x);
  EXPECT_GT(frame->ProgressText->GetPosition().y, startAt.y);

  const wxSize labelBefore = frame->InputLabel->GetSize();
  const wxSize textBefore = frame->ProgressText->GetSize();
  const wxSize optionsBefore = frame->RecurseBox->GetSize();
  frame->SetSize(1250, 1000);
  pumpRounds(3);
  EXPECT_EQ(frame->InputLabel->GetSize().GetWidth() - labelBefore.GetWidth(), 300);
  EXPECT_EQ(frame->ProgressText->GetSize().GetHeight() - textBefore.GetHeight(), 220);
  EXPECT_EQ(frame->RecurseBox->GetSize(), optionsBefore);
  frame->SetSize(600, 400);
  pumpRounds(3);
  EXPECT_GE(frame->GetSize().GetWidth(), 950);
  EXPECT_GE(frame->GetSize().GetHeight(), 780);

  // A long path is shortened on screen; the label keeps the whole path for the commands.
  std::string longPath = "/media/archive";
  while (longPath.size() < 400) longPath += "/a rather long folder name";
  setFolder(true, longPath);
  frame->InputLabel->GetParent()->Layout();
  EXPECT_EQ(frame->InputLabel->GetLabelText().ToStdString(), longPath);
  EXPECT_LE(frame->InputLabel->GetSize().GetWidth(), frame->InputVerifyButton->GetPosition().x);
  EXPECT_LE(frame->GetSize().GetWidth(), 1250) << "a long path does not widen the window";
}

TEST_F(StartupTest, TextAreaNeverTakesTheKeyboardFocus) {
  TheFrame* frame = startApp();
  ASSERT_TRUE(pumpUntil([frame] { return frame->IsShownOnScreen(); }, 5));
  pumpRounds(5);
  frame->InputChooseButton->SetFocus();
  pumpRounds(2);
  wxWindow* panel = frame->InputChooseButton->GetParent();
  int focused = 0;
  for (int i = 0; i < 25; ++i) {
    panel->NavigateIn(wxNavigationKeyEvent::IsForward);
    pumpRounds(1);
    wxWindow* focus = wxWindow::FindFocus();
    focused += focus != nullptr;
    EXPECT_NE(focus, frame->ProgressText) << "after " << i + 1 << " tabs";
  }
  EXPECT_GT(focused, 0) << "tabbing moved the focus at all";

  // A mouse click into the text.
  wxUIActionSimulator mouse;
  const wxRect area = frame->ProgressText->GetScreenRect();
  mouse.MouseMove(area.GetLeft() + 40, area.GetTop() + 30);
  pumpRounds(2);
  mouse.MouseClick();
  pumpRounds(5);
  EXPECT_NE(wxWindow::FindFocus(), frame->ProgressText);
}

}  // namespace
}  // namespace uitest
