// Error prompts raised by engine threads, shown by the window's idle handler; the About dialog.
#include <wx/button.h>
#include <wx/hyperlink.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "ui/about_dialog.h"
#include "ui_test_support.h"

namespace uitest {
namespace {

class PromptTest : public UiTest {
 protected:
  void startFakeJob(std::function<void(tamzel::JobState&)> body) {
    TheFrame::StartJobThread = &fakeStarter;
    fakeBody = std::move(body);
    std::filesystem::create_directories(scratch_ + "/in");
    std::filesystem::create_directories(scratch_ + "/out");
    startApp();
    setFolder(true, scratch_ + "/in");
    setFolder(false, scratch_ + "/out");
    click(frame_->StartButton);
    ASSERT_TRUE(frame_->JobRunning());
  }
};

std::string systemText(int code) {
  return std::string("\n\nThe system reported: ") + std::strerror(code);
}

// What a prompt dialog must look like besides its text: three buttons, Retry the default, the
// error icon, the main window as parent.
std::function<void(wxMessageDialog&)> promptButtons(const std::string& skip) {
  return [skip](wxMessageDialog& dialog) {
    EXPECT_EQ(plainLabel(dialog.GetYesLabel()), "Retry");
    EXPECT_EQ(plainLabel(dialog.GetNoLabel()), skip);
    EXPECT_EQ(plainLabel(dialog.GetCancelLabel()), "Abort Job");
    EXPECT_FALSE(dialog.GetMessageDialogStyle() & (wxNO_DEFAULT | wxCANCEL_DEFAULT));
    EXPECT_EQ(dialog.GetParent(), MainFrame);
  };
}

TEST_F(PromptTest, EachKindShowsItsTitleMessageAndButtonsAndAbortEndsTheAsking) {
  using tamzel::PromptAnswer;
  using tamzel::PromptKind;
  struct Asked {
    const char* path;
    PromptKind kind;
    int code;
  };
  const Asked asked[] = {
      {"/in/a.dng", PromptKind::OpenRead, ENOENT},
      {"/out/a.dng", PromptKind::OpenWrite, EACCES},
      {"/out/b.dng", PromptKind::Write, ENOSPC},
      {"/out/b.dng", PromptKind::Write, EIO},
      {"/out/sub/", PromptKind::CreateFolder, EACCES},
      {"/in/c.dng", PromptKind::QueryFile, ENOENT},
      {"/in/d.dng", PromptKind::OpenRead, ENOENT},  // after Abort: answered without a dialog
  };
  auto answers = std::make_shared<std::vector<PromptAnswer>>();
  startFakeJob([answers, &asked](tamzel::JobState&) {
    for (const Asked& a : asked) answers->push_back(tamzel::askUser(a.path, a.kind, a.code));
  });
  const long style = wxYES_NO | wxCANCEL | wxICON_ERROR;
  const std::string writeTail = "\n\nYou can free some drive space and Retry.";
  wxTEST_DIALOG(
      EXPECT_TRUE(pumpUntil([this] { return !frame_->JobRunning(); })),
      ExpectMessage("Cannot open file for reading:\n/in/a.dng" + systemText(ENOENT),
                    "Error opening file for reading", wxYES, style)
          .With(promptButtons("Skip File")),
      ExpectMessage("Cannot open file for writing:\n/out/a.dng" + systemText(EACCES) +
                        "\n\nThe file may be opened in another application or you may not have "
                        "permissions to write this file.",
                    "Error opening file for writing", wxNO, style)
          .With(promptButtons("Skip File")),
      ExpectMessage(
          "Error while attempting to write file:\n/out/b.dng" + systemText(ENOSPC) + writeTail,
          "Error writing file", wxYES, style)
          .With(promptButtons("Skip File")),
      ExpectMessage("Error while attempting to write file:\n/out/b.dng" + systemText(EIO) +
                        "\n\nYou can attempt to resolve the problem and Retry.",
                    "Error writing file", wxNO, style)
          .With(promptButtons("Skip File")),
      ExpectMessage("Cannot create folder:\n/out/sub/" + systemText(EACCES) +
                        "\n\nYou may try to resolve the problem and click Retry or you can Skip "
                        "this folder. Skipping will also skip any subfolders of this folder.",
                    "Error creating folder", wxNO, style)
          .With(promptButtons("Skip Folder")),
      ExpectMessage("Cannot get file info:\n/in/c.dng" + systemText(ENOENT), "Error querying file",
                    wxCANCEL, style)
          .With(promptButtons("Skip File")));
  const std::vector<PromptAnswer> expected = {
      PromptAnswer::Retry, PromptAnswer::Skip,  PromptAnswer::Retry, PromptAnswer::Skip,
      PromptAnswer::Skip,  PromptAnswer::Abort, PromptAnswer::Abort};
  EXPECT_EQ(*answers, expected);
  const tamzel::JobState& state = frame_->Job();
  EXPECT_TRUE(state.Abort.load());
  EXPECT_EQ(state.ErrorPrompts.load(), 7u) << "prompts answered without a dialog count too";
  EXPECT_NE(frame_->ProgressText->GetValue().Find("Job was aborted!"), wxNOT_FOUND);
}

TEST_F(PromptTest, AbortToOnePromptAnswersTheQueuedOnesUnseen) {
  auto answers = std::make_shared<std::vector<int>>(2, 0);
  startFakeJob([answers](tamzel::JobState&) {
    std::thread other([answers] {
      (*answers)[1] = static_cast<int>(
          tamzel::askUser("/out/list/checksum.tz", tamzel::PromptKind::Write, ENOSPC));
    });
    // Both prompts are queued before the window looks (the test waits for two below).
    (*answers)[0] =
        static_cast<int>(tamzel::askUser("/out/x.dng", tamzel::PromptKind::OpenWrite, EACCES));
    other.join();
  });
  const tamzel::JobState& state = frame_->Job();
  for (int i = 0; i < 400 && state.ErrorPrompts.load() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(state.ErrorPrompts.load(), 2u);
  // Exactly one dialog: the fallback hook fails the test if a second one is shown.
  wxTEST_DIALOG(EXPECT_TRUE(pumpUntil([this] { return !frame_->JobRunning(); })),
                ExpectMessage(std::string(), std::string(), wxCANCEL)
                    .With([](wxMessageDialog& dialog) {
                      EXPECT_TRUE(dialog.GetTitle() == "Error opening file for writing" ||
                                  dialog.GetTitle() == "Error writing file");
                    })
                    .Loose());
  EXPECT_EQ((*answers)[0], static_cast<int>(tamzel::PromptAnswer::Abort));
  EXPECT_EQ((*answers)[1], static_cast<int>(tamzel::PromptAnswer::Abort));
}

// ---------------------------------------------------------------------------------------------
// About

struct AboutSeen {
  int shown = 0;
  std::vector<std::string> problems;
};

class ExpectAbout : public wxExpectModalBase<AboutDialog, ExpectAbout> {
 public:
  explicit ExpectAbout(std::shared_ptr<AboutSeen> seen) : seen_(std::move(seen)) {}

 protected:
  int OnInvoked(AboutDialog* dialog) const override {
    ++seen_->shown;
    EXPECT_EQ(dialog->GetTitle(), "About");
    EXPECT_EQ(dialog->GetParent(), MainFrame);
    int dialogs = 0;
    for (wxWindow* top : wxTopLevelWindows) dialogs += dynamic_cast<AboutDialog*>(top) != nullptr;
    EXPECT_EQ(dialogs, 1) << "the previous dialog is gone";

    const wxWindowList& children = dialog->GetChildren();
    wxStaticBitmap* logo = nullptr;
    wxStaticText* version = nullptr;
    wxHyperlinkCtrl* link = nullptr;
    wxButton* close = nullptr;
    for (wxWindow* child : children) {
      if (!logo) logo = dynamic_cast<wxStaticBitmap*>(child);
      if (!version) version = dynamic_cast<wxStaticText*>(child);
      if (!link) link = dynamic_cast<wxHyperlinkCtrl*>(child);
      if (auto* b = dynamic_cast<wxButton*>(child); b && b->GetId() == wxID_CLOSE) close = b;
    }
    EXPECT_EQ(children.size(), 4u) << "logo, text, link, Close: nothing left from before";
    if (!logo || !version || !link || !close) {
      ADD_FAILURE() << "About dialog is missing a control";
      return wxID_CLOSE;
    }
    EXPECT_TRUE(logo->GetBitmap().IsOk()) << "logoabout.png next to the executable";
    EXPECT_EQ(logo->GetBitmap().GetSize(), wxSize(340, 120));
    const std::string text = version->GetLabel().ToStdString();
    EXPECT_EQ(text.rfind("version 1.1.1\n\n\nDeveloped by ", 0), 0u) << text;
    EXPECT_NE(text.find("\nLogo design by "), std::string::npos);
    EXPECT_NE(text.find("\nThanks to "), std::string::npos);
    EXPECT_NE(text.find(" and "), std::string::npos);
    EXPECT_EQ(link->GetURL(), kAboutWebSiteUrl);
    EXPECT_EQ(link->GetLabel(), kAboutWebSiteHost);
    EXPECT_FALSE(link->AcceptsFocus());
    EXPECT_FALSE(link->AcceptsFocusFromKeyboard());
    EXPECT_EQ(dialog->GetAffirmativeId(), wxID_CLOSE);

    // Tab through the shown dialog: the focus never lands on the link.
    dialog->Show();
    pumpRounds(2);
    close->SetFocus();
    for (int i = 0; i < 6; ++i) {
      dialog->Navigate(wxNavigationKeyEvent::IsForward);
      pumpRounds(1);
      EXPECT_NE(wxWindow::FindFocus(), nullptr) << "the focus moves between the controls";
      EXPECT_NE(wxWindow::FindFocus(), link) << "after " << i + 1 << " tabs";
    }
    // Close ends the dialog (shown modeless here, ending it hides it).
    wxCommandEvent press(wxEVT_BUTTON, wxID_CLOSE);
    press.SetEventObject(close);
    close->GetEventHandler()->ProcessEvent(press);
    EXPECT_FALSE(dialog->IsShown());
    // And so does the close box.
    dialog->Show();
    dialog->Close();
    EXPECT_FALSE(dialog->IsShown());
    return wxID_CLOSE;
  }

 private:
  std::shared_ptr<AboutSeen> seen_;
};

using AboutTest = UiTest;

TEST_F(AboutTest, BuiltFromScratchEachTimeAndItsLinkNeverTakesFocus) {
  TheFrame* frame = startApp();
  auto seen = std::make_shared<AboutSeen>();
  const auto about = [frame] {
    wxCommandEvent command(wxEVT_MENU, wxID_ABOUT);
    frame->GetEventHandler()->ProcessEvent(command);
  };
  wxTEST_DIALOG(about(), ExpectAbout(seen));
  wxTEST_DIALOG(about(), ExpectAbout(seen));
  EXPECT_EQ(seen->shown, 2);
  int dialogs = 0;
  for (wxWindow* top : wxTopLevelWindows) dialogs += dynamic_cast<AboutDialog*>(top) != nullptr;
  EXPECT_EQ(dialogs, 0);
}

}  // namespace
}  // namespace uitest
