// Shared pieces of the GUI tests: a dialog hook that reports through GoogleTest and never lets
// a real dialog appear, expectations that check message boxes and folder choosers, a fixture
// that runs the application's start-up in a private home folder, and stand-in job threads.
#pragma once

#include <gtest/gtest.h>
#include <wx/dirdlg.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>

// Failures go to GoogleTest; a dialog nobody expected is cancelled instead of being shown.
class GTestModalHook;
#define wxTEST_DIALOG_HOOK_CLASS GTestModalHook
#include <wx/testing.h>

#include <atomic>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/app.h"
#include "engine/job_state.h"
#include "ui/app_globals.h"
#include "ui/the_frame.h"

class GTestModalHook : public wxTestingModalHook {
 public:
  GTestModalHook(const char* file, int line, const char* func)
      : wxTestingModalHook(file, line, func) {}

 protected:
  int Enter(wxDialog* dialog) override {
    const int result = wxTestingModalHook::Enter(dialog);
    return result == wxID_NONE ? wxID_CANCEL : result;
  }
  void ReportFailure(const wxString& message) override {
    ADD_FAILURE() << "dialog: " << message.ToStdString();
  }
};

// Colours print as "RGB(r, g, b)" in failure messages.
inline void PrintTo(const wxColour& colour, std::ostream* out) {
  *out << (colour.IsOk() ? colour.GetAsString(wxC2S_CSS_SYNTAX).ToStdString() : "no colour");
}

namespace uitest {

// Button labels come back with mnemonics ("_Retry" on GTK).
std::string plainLabel(const wxString& label);

// wxYES, wxNO, wxOK, wxCANCEL or a wxID_ value -> the wxID_ value ShowModal returns.
int dialogResult(int answer);

// A message box or message dialog with exactly this text and title; answers `answer`.
class ExpectMessage : public wxExpectModalBase<wxMessageDialog, ExpectMessage> {
 public:
  ExpectMessage(const std::string& text, const std::string& title, int answer, long style = 0)
      : text_(text), title_(title), answer_(answer), style_(style) {}

  // Extra checks while the dialog is "open" (e.g. of the job's flags, or of button labels).
  ExpectMessage With(std::function<void(wxMessageDialog&)> check) const {
    ExpectMessage copy(*this);
    copy.check_ = std::move(check);
    return copy;
  }
  // Text and title are left to the With() check (for dialogs whose order is not fixed).
  ExpectMessage Loose() const {
    ExpectMessage copy(*this);
    copy.loose_ = true;
    return copy;
  }

 protected:
  int OnInvoked(wxMessageDialog* dialog) const override;

 private:
  std::string text_;
  std::string title_;
  int answer_;
  long style_;
  bool loose_ = false;
  std::function<void(wxMessageDialog&)> check_;
};

// A folder chooser with this message; "chooses" `path` and answers `answer`.
class ExpectDirDialog : public wxExpectModalBase<wxDirDialog, ExpectDirDialog> {
 public:
  ExpectDirDialog(const std::string& message, long style, const std::string& path,
                  int answer = wxID_OK)
      : message_(message), style_(style), path_(path), answer_(answer) {}

 protected:
  int OnInvoked(wxDirDialog* dialog) const override;

 private:
  std::string message_;
  long style_;
  std::string path_;
  int answer_;
};

// Temporary folders and files.
std::string makeTempDir(const char* tag);
void removeTree(const std::string& path);
void writeText(const std::string& path, const std::string& text);
std::string readText(const std::string& path);
bool exists(const std::string& path);

// Runs native events, pending events and idle rounds until `done` or `seconds` have passed.
bool pumpUntil(const std::function<bool()>& done, double seconds = 20.0);
// A few idle rounds (each one of a running job sleeps 100 ms).
void pumpRounds(int rounds);

// Stand-in job threads. The body runs on its own thread; Finished is set when it returns.
struct FakeJobLog {
  std::atomic<int> starts{0};
  std::string source;
  std::string destination;  // "" for a verification job
  bool destinationGiven = false;
  bool inPlace = false;
  bool verifyOnly = false;
  bool verificationPass = false;
  bool recurse = false;
};
extern FakeJobLog fakeLog;
extern std::function<void(tamzel::JobState&)> fakeBody;
std::unique_ptr<std::thread> fakeStarter(const char* source, const char* destination,
                                         tamzel::JobState& state);
// A starter that fails like std::thread does when the system has no thread to give.
std::unique_ptr<std::thread> failingStarter(const char*, const char*, tamzel::JobState&);
// The engine's job thread, started with Pause already set so the job waits at its first
// checkpoint until the test resumes it.
std::unique_ptr<std::thread> pausedEngineStarter(const char* source, const char* destination,
                                                 tamzel::JobState& state);

// The colour of the first character of `piece` in the control (invalid colour if not found).
wxColour colourOf(wxTextCtrl& control, const std::string& piece);

// The fixture: a fresh home folder per test (so a fresh settings folder), the application's
// real start-up and shutdown steps, and the engine's job starter restored afterwards.
class UiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  TheApp& app();
  TheFrame* startApp();
  // Closes the window like its close box, lets it be destroyed and writes the settings.
  void quitApp();
  std::string settingsFolder() const { return home_ + "/.Tamzel"; }
  std::string settingsFile() const { return settingsFolder() + "/Tamzel.cfg"; }
  void writeSettings(const std::string& text);

  void click(wxWindow* control);  // sends the button's or check box's command event
  void setFolder(bool input, const std::string& path);

  std::string home_;
  std::string scratch_;  // a folder for test trees
  TheFrame* frame_ = nullptr;
};

}  // namespace uitest
