// The application object: start-up (settings file, error log path, main window and menu) and
// shutdown (settings written back).
#pragma once

#include <wx/app.h>
#include <wx/fileconf.h>

class TheApp : public wxApp {
 public:
  TheApp();
  ~TheApp() override;

  bool OnInit() override;
  int OnExit() override;

  // The steps of OnInit and of OnExit before the base class's OnExit; separate so that a test
  // application can run them more than once.
  void StartUp();
  void WriteSettingsAndRelease();

  wxFileConfig* Config = nullptr;
  wxString ConfigPath;
  wxString ErrorLogPath;
};

wxDECLARE_APP(TheApp);
