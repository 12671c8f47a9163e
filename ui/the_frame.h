// The main window: two folder rows, the job options, Start/Pause and the text area in which the
// program talks to the user. It owns the one JobState and the job thread.
#pragma once

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/frame.h>
#include <wx/radiobox.h>
#include <wx/stattext.h>

#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "engine/job_state.h"
#include "engine/summary.h"
#include "ui/unfocusable_text_ctrl.h"

struct SAppSettings;

// Ids the event table refers to.
enum : int {
  ID_INPUT_CHOOSE = 2,
  ID_OUTPUT_CHOOSE = 3,
  ID_INPUT_VERIFY = 4,
  ID_OUTPUT_VERIFY = 5,
  ID_START = 6,
  ID_PAUSE = 7,
  ID_GENERATE_CHECKS = 8,
};

class TheFrame : public wxFrame {
 public:
  TheFrame(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
           const wxSize& size, long style = wxDEFAULT_FRAME_STYLE,
           const wxString& name = wxASCII_STR(wxFrameNameStr));
  ~TheFrame() override;

  // Creates every control below the frame (start-up step 10).
  void BuildControls();
  // Copies the stored settings into the controls and restores existing folders (steps 11, 12).
  void ApplySettings(const SAppSettings& settings);
  // Copies the controls (and chosen folders) into the stored settings (close handler).
  void StoreSettings(SAppSettings& settings) const;

  void EnterRunningState();
  void ReturnToIdle();
  // kind: 0 input, 1 output, 2 folder to verify.
  void ShowFolderNotFound(const wxString& path, int kind);

  // Creates the job thread. Replaceable so that tests can observe or fail the start; the default
  // starts the engine's job thread. May throw std::system_error like std::thread does.
  using JobThreadStarter = std::unique_ptr<std::thread> (*)(const char* source,
                                                            const char* destination,
                                                            tamzel::JobState& state);
  static JobThreadStarter StartJobThread;
  static std::unique_ptr<std::thread> StartEngineJobThread(const char* source,
                                                           const char* destination,
                                                           tamzel::JobState& state);

  // Shows one prompt's dialog and returns the answer.
  tamzel::PromptAnswer answerPrompt(const tamzel::ErrorPrompt& prompt);
  // The routine installed as OnPhaseEnd: runs on the job thread before a verification pass.
  static void phaseEndHook();

  bool JobRunning() const { return JobThread != nullptr; }
  tamzel::JobState& Job() { return State; }

  wxStaticText* InputLabel = nullptr;
  wxStaticText* OutputLabel = nullptr;
  wxButton* InputChooseButton = nullptr;
  wxButton* OutputChooseButton = nullptr;
  wxButton* InputVerifyButton = nullptr;
  wxButton* OutputVerifyButton = nullptr;
  wxButton* StartButton = nullptr;
  wxButton* PauseButton = nullptr;
  wxCheckBox* RecurseBox = nullptr;
  wxCheckBox* CopyAllBox = nullptr;
  wxRadioBox* PolicyBox = nullptr;
  wxCheckBox* PremiereBox = nullptr;
  wxCheckBox* GenerateChecksBox = nullptr;
  wxCheckBox* VerificationPassBox = nullptr;
  CUnfocusableTextCtrl* ProgressText = nullptr;
  bool InputChosen = false;
  bool OutputChosen = false;

 private:
  void OnMenuExit(wxCommandEvent& event);
  void OnMenuAbout(wxCommandEvent& event);
  void OnButton(wxCommandEvent& event);
  void OnGenerateChecks(wxCommandEvent& event);
  void OnIdle(wxIdleEvent& event);
  void OnCloseWindow(wxCloseEvent& event);

  void ChooseFolder(bool input);
  void StartVerify(bool input);
  void StartProcessing();
  void AbortJob();
  int AskWhilePaused(const std::function<int()>& ask);
  void PauseOrResume();
  void StartThread(const char* source, const char* destination);
  void ResetJob(bool verifyOnly);
  void ShowProgress();
  void ShowStyledText(const std::vector<tamzel::TextSegment>& text);
  void EndOfJob();
  void StopJobForQuit(bool tellUser);
  bool CopyToBuffer(const wxString& path, char* buffer);

  std::unique_ptr<std::thread> JobThread;
  tamzel::JobState State;
  tamzel::PromptQueue* Prompts = nullptr;
  tamzel::IssueLog* Issues = nullptr;
  bool AnsweringPrompts = false;  // a prompt dialog is open (its modal loop sends idle events)
  bool StoppingJob = false;       // a confirmed quit is waiting for the job thread

  wxDECLARE_EVENT_TABLE();
};
