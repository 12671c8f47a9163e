// The GUI tests' entry point: GoogleTest first (listing tests needs no display), then the
// toolkit with a test application whose OnInit does nothing; each test runs the real start-up.
#include <gtest/gtest.h>
#include <wx/dialog.h>
#include <wx/log.h>
#include <wx/modalhook.h>

#include <cstdio>

#include "app/app.h"

namespace {

class TestApp : public TheApp {
 public:
  bool OnInit() override { return true; }
  int OnExit() override { return wxApp::OnExit(); }
};

// A dialog shown outside any wxTEST_DIALOG would wait for a user forever: fail and cancel it.
class UnexpectedDialogHook : public wxModalDialogHook {
 protected:
  int Enter(wxDialog* dialog) override {
    ADD_FAILURE() << "unexpected modal dialog \"" << dialog->GetTitle().ToStdString() << "\"";
    return wxID_CANCEL;
  }
  void Exit(wxDialog*) override {}
};

void assertToGTest(const wxString& file, int line, const wxString& func, const wxString& cond,
                   const wxString& msg) {
  ADD_FAILURE_AT(file.ToStdString().c_str(), line)
      << "wx assertion in " << func.ToStdString() << ": " << cond.ToStdString() << " "
      << msg.ToStdString();
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();

  wxApp::SetInstance(new TestApp);
  int wxArgc = 1;
  char* wxArgv[] = {argv[0], nullptr};
  if (!wxEntryStart(wxArgc, wxArgv)) {
    std::fprintf(stderr, "ui_tests: the toolkit could not start (is there an X display?)\n");
    return 2;
  }
  wxSetAssertHandler(assertToGTest);
  delete wxLog::SetActiveTarget(new wxLogStderr);
  wxTheApp->SetExitOnFrameDelete(false);
  wxTheApp->CallOnInit();

  int result = 0;
  {
    UnexpectedDialogHook fallback;
    fallback.Register();
    result = RUN_ALL_TESTS();
    fallback.Unregister();
  }
  wxTheApp->OnExit();
  wxEntryCleanup();
  return result;
}
