#include "ui_test_support.h"

#include <stdlib.h>
#include <wx/evtloop.h>
#include <wx/textctrl.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

#include "engine/engine.h"

namespace uitest {

std::string plainLabel(const wxString& label) {
  std::string out;
  for (const char c : label.ToStdString()) {
    if (c != '&' && c != '_') out += c;
  }
  return out;
}

int dialogResult(int answer) {
  switch (answer) {
    case wxYES:
      return wxID_YES;
    case wxNO:
      return wxID_NO;
    case wxOK:
      return wxID_OK;
    case wxCANCEL:
      return wxID_CANCEL;
    default:
      return answer;
  }
}

int ExpectMessage::OnInvoked(wxMessageDialog* dialog) const {
  if (!loose_) {
    EXPECT_EQ(dialog->GetMessage().ToStdString(), text_);
    EXPECT_EQ(dialog->GetTitle().ToStdString(), title_);
  }
  if (style_ != 0) {
    EXPECT_EQ(dialog->GetMessageDialogStyle() & style_, style_)
        << "style bits of \"" << title_ << "\"";
  }
  if (check_) check_(*dialog);
  return dialogResult(answer_);
}

int ExpectDirDialog::OnInvoked(wxDirDialog* dialog) const {
  EXPECT_EQ(dialog->GetMessage().ToStdString(), message_);
  EXPECT_EQ(dialog->GetWindowStyleFlag() & (wxDD_DIR_MUST_EXIST | wxDD_NEW_DIR_BUTTON),
            style_ & (wxDD_DIR_MUST_EXIST | wxDD_NEW_DIR_BUTTON));
  // The GTK chooser's own SetPath only moves the native widget; the base keeps GetPath's value.
  dialog->wxDirDialogBase::SetPath(path_);
  return answer_;
}

std::string makeTempDir(const char* tag) {
  std::string pattern = std::string("/tmp/tamzel-ui-") + tag + "-XXXXXX";
  char* made = ::mkdtemp(pattern.data());
  EXPECT_NE(made, nullptr);
  return pattern;
}

void removeTree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

bool exists(const std::string& path) {
  return std::filesystem::exists(path);
}

bool pumpUntil(const std::function<bool()>& done, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    wxTheApp->ProcessPendingEvents();
    wxTheApp->Yield(true);
    wxTheApp->ProcessIdle();
  }
  return true;
}

void pumpRounds(int rounds) {
  for (int i = 0; i < rounds; ++i) {
    wxTheApp->ProcessPendingEvents();
    wxTheApp->Yield(true);
    wxTheApp->ProcessIdle();
  }
}

FakeJobLog fakeLog;
std::function<void(tamzel::JobState&)> fakeBody;

std::unique_ptr<std::thread> fakeStarter(const char* source, const char* destination,
                                         tamzel::JobState& state) {
  fakeLog.starts.fetch_add(1);
  fakeLog.source = source;
  fakeLog.destinationGiven = destination != nullptr;
  fakeLog.destination = destination ? destination : "";
  fakeLog.inPlace = state.InPlace;
  fakeLog.verifyOnly = state.VerifyOnly;
  fakeLog.verificationPass = state.VerificationPass;
  fakeLog.recurse = state.Recurse;
  std::function<void(tamzel::JobState&)> body = fakeBody;
  return std::make_unique<std::thread>([body, &state] {
    tamzel::TheJobState = &state;
    if (body) body(state);
    state.EndTime = tamzel::steadyNowNs();
    state.Finished.store(true);
  });
}

std::unique_ptr<std::thread> failingStarter(const char*, const char*, tamzel::JobState&) {
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                          "thread");
}

std::unique_ptr<std::thread> pausedEngineStarter(const char* source, const char* destination,
                                                 tamzel::JobState& state) {
  fakeLog.starts.fetch_add(1);
  state.Pause.store(true);
  state.WasPaused = true;
  return TheFrame::StartEngineJobThread(source, destination, state);
}

wxColour colourOf(wxTextCtrl& control, const std::string& piece) {
  const std::string value = control.GetValue().ToStdString();
  const std::size_t at = value.find(piece);
  if (at == std::string::npos) return wxColour();
  wxTextAttr attr;
  // Positions count characters; the texts here are ASCII, so bytes and characters agree.
  control.GetStyle(static_cast<long>(at) + 1, attr);
  return attr.HasTextColour() ? attr.GetTextColour() : wxColour();
}

void UiTest::SetUp() {
  home_ = makeTempDir("home");
  scratch_ = makeTempDir("tree");
  ::setenv("HOME", home_.c_str(), 1);
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("XDG_DATA_HOME");
  TheFrame::StartJobThread = &TheFrame::StartEngineJobThread;
  fakeLog.starts = 0;
  fakeLog.source.clear();
  fakeLog.destination.clear();
  fakeLog.destinationGiven = false;
  fakeBody = nullptr;
}

void UiTest::TearDown() {
  if (MainFrame) {
    // Ends any job (the destructor stops and joins it) without asking.
    MainFrame->Destroy();
    pumpUntil([] { return MainFrame == nullptr; }, 10);
  }
  app().WriteSettingsAndRelease();
  TheFrame::StartJobThread = &TheFrame::StartEngineJobThread;
  fakeBody = nullptr;
  removeTree(home_);
  removeTree(scratch_);
}

TheApp& UiTest::app() {
  return *static_cast<TheApp*>(wxTheApp);
}

TheFrame* UiTest::startApp() {
  app().StartUp();
  frame_ = MainFrame;
  return frame_;
}

void UiTest::quitApp() {
  ASSERT_NE(MainFrame, nullptr);
  MainFrame->Close();
  EXPECT_TRUE(pumpUntil([] { return MainFrame == nullptr; }, 10));
  frame_ = nullptr;
  app().WriteSettingsAndRelease();
}

void UiTest::writeSettings(const std::string& text) {
  std::filesystem::create_directories(settingsFolder());
  writeText(settingsFile(), text);
}

void UiTest::click(wxWindow* control) {
  wxEventType type = wxEVT_BUTTON;
  if (auto* box = dynamic_cast<wxCheckBox*>(control)) {
    type = wxEVT_CHECKBOX;
    box->SetValue(!box->GetValue());
  }
  wxCommandEvent event(type, control->GetId());
  event.SetEventObject(control);
  if (type == wxEVT_CHECKBOX) event.SetInt(static_cast<wxCheckBox*>(control)->GetValue());
  control->GetEventHandler()->ProcessEvent(event);
}

void UiTest::setFolder(bool input, const std::string& path) {
  if (input) {
    frame_->InputLabel->SetLabelText(path);
    frame_->InputChosen = true;
  } else {
    frame_->OutputLabel->SetLabelText(path);
    frame_->OutputChosen = true;
  }
}

}  // namespace uitest
