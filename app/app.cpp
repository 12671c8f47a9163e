#include "app/app.h"

#include <sys/stat.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/stdpaths.h>

#include "ui/app_globals.h"
#include "ui/the_frame.h"

TheApp::TheApp() = default;

TheApp::~TheApp() = default;

bool TheApp::OnInit() {
  StartUp();
  return true;
}

int TheApp::OnExit() {
  WriteSettingsAndRelease();
  return wxApp::OnExit();
}

void TheApp::StartUp() {
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);

  delete AppSettings;
  AppSettings = new SAppSettings;

  SetAppName("Tamzel");

  ConfigPath = wxStandardPaths::Get().GetUserDataDir();
  // A folder that exists already, or one that cannot be created, changes nothing here.
  ::mkdir(ConfigPath.fn_str(), 0777);
  ConfigPath += "/Tamzel.cfg";

  // An explicit absolute local file: never the default "~/.Tamzel" file, which would collide
  // with the data folder of the same name.
  Config = new wxFileConfig(wxString(), wxString(), ConfigPath, wxString(), wxCONFIG_USE_LOCAL_FILE,
                            wxConvAuto());
  // Folder paths are stored verbatim; a "$" in a folder name is not an environment variable.
  Config->SetExpandEnvVars(false);

  Config->Read("Recurse", &AppSettings->Recurse, true);
  Config->Read("CopyAll", &AppSettings->CopyAll, true);
  Config->Read("SkipExisting", &AppSettings->SkipExisting, true);
  Config->Read("PremiereCCCompat", &AppSettings->PremiereCCCompat, false);
  Config->Read("GenerateChecks", &AppSettings->GenerateChecks, false);
  Config->Read("VerificationPass", &AppSettings->VerificationPass, false);
  Config->Read("InputDir", &AppSettings->InputDir, wxString());
  Config->Read("OutputDir", &AppSettings->OutputDir, wxString());

  ErrorLogPath = wxStandardPaths::Get().GetUserDataDir() + "/TamzelError.log";
  ::ErrorLogPath = ErrorLogPath;

  auto* frame = new TheFrame(nullptr, wxID_ANY, "Tamzel", wxPoint(50, 50), wxSize(950, 780));

  auto* fileMenu = new wxMenu;
  fileMenu->Append(wxID_ABOUT);
  fileMenu->AppendSeparator();
  fileMenu->Append(wxID_EXIT);
  auto* menuBar = new wxMenuBar;
  menuBar->Append(fileMenu, "&File");
  frame->SetMenuBar(menuBar);

  frame->BuildControls();
  frame->ApplySettings(*AppSettings);

  MainFrame = frame;

  frame->SetMinSize(wxSize(950, 780));
  frame->Show();
}

void TheApp::WriteSettingsAndRelease() {
  if (Config && AppSettings) {
    Config->Write("Recurse", AppSettings->Recurse);
    Config->Write("CopyAll", AppSettings->CopyAll);
    Config->Write("SkipExisting", AppSettings->SkipExisting);
    Config->Write("PremiereCCCompat", AppSettings->PremiereCCCompat);
    Config->Write("GenerateChecks", AppSettings->GenerateChecks);
    Config->Write("VerificationPass", AppSettings->VerificationPass);
    Config->Write("InputDir", AppSettings->InputDir);
    Config->Write("OutputDir", AppSettings->OutputDir);
  }
  {
    // Deleting the store flushes the file; whether that worked is not reported.
    wxLogNull quiet;
    delete Config;
    Config = nullptr;
  }
  delete AppSettings;
  AppSettings = nullptr;
}
