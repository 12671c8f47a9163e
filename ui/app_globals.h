// Process-wide state shared between the application object (app/) and the main window (ui/):
// the in-memory settings, the error log path, the pointer to the main window and the three
// fixed path buffers the start command fills before a job is started.
#pragma once

#include <wx/string.h>

#include "engine/job_state.h"

class TheFrame;

// In-memory copy of the settings file "Tamzel.cfg".
struct SAppSettings {
  wxString InputDir;
  wxString OutputDir;
  bool Recurse = true;
  bool CopyAll = true;
  bool SkipExisting = true;
  bool PremiereCCCompat = false;
  bool GenerateChecks = false;
  bool VerificationPass = false;
};

// Created by TheApp::OnInit before anything reads it, released by TheApp::OnExit.
extern SAppSettings* AppSettings;

// Full path of "TamzelError.log" in the per-user data folder; set at start-up.
extern wxString ErrorLogPath;

// The one main window; set at start-up, cleared when the window is destroyed.
extern TheFrame* MainFrame;

// The start command's path buffers: NUL-terminated, ending in "/" once a job has been started.
extern char InputFolderBuffer[tamzel::kPathBufferSize];
extern char OutputFolderBuffer[tamzel::kPathBufferSize];
extern char VerifyFolderBuffer[tamzel::kPathBufferSize];
