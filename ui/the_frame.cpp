#include "ui/the_frame.h"

#include <sys/stat.h>
#include <unistd.h>
#include <wx/dirdlg.h>
#include <wx/msgdlg.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/statline.h>
#include <wx/utils.h>

#include <chrono>
#include <cstring>
#include <system_error>

#include "ui/about_dialog.h"
#include "ui/app_globals.h"
#include "ui/texts.h"

SAppSettings* AppSettings = nullptr;
wxString ErrorLogPath;
TheFrame* MainFrame = nullptr;
char InputFolderBuffer[tamzel::kPathBufferSize];
char OutputFolderBuffer[tamzel::kPathBufferSize];
char VerifyFolderBuffer[tamzel::kPathBufferSize];

TheFrame::JobThreadStarter TheFrame::StartJobThread = &TheFrame::StartEngineJobThread;

namespace {

const char* const kVerifyToolTip =
    "Verify this folder's content against its previously generated checksums. (The Process "
    "subfolders setting applies.)";

// Engine texts are bytes in the platform's multibyte encoding (file names, system messages).
// Fall back to UTF-8 and then Latin-1 so that no text is ever dropped.
wxString toWx(const std::string& text) {
  wxString converted(text.c_str(), *wxConvFileName);
  if (converted.empty() && !text.empty()) converted = wxString::FromUTF8(text.c_str());
  if (converted.empty() && !text.empty()) converted = wxString(text.c_str(), wxConvISO8859_1);
  return converted;
}

bool pathExists(const char* path) {
  return ::access(path, F_OK) == 0;
}

bool endsInSeparator(const char* path) {
  const std::size_t length = std::strlen(path);
  return length > 0 && (path[length - 1] == '/' || path[length - 1] == '\\');
}

// Appends "/" unless the path already ends in a separator; the buffer has room (see
// CopyToBuffer, which leaves two bytes free).
void appendSeparator(char* buffer) {
  if (!endsInSeparator(buffer)) std::strcat(buffer, "/");
}

bool sameFolder(const char* a, const char* b) {
  struct stat sa {};
  struct stat sb {};
  if (::stat(a, &sa) != 0 || ::stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino && sa.st_size == sb.st_size &&
         sa.st_mtime == sb.st_mtime;
}

bool isSeparator(char c) {
  return c == '/' || c == '\\';
}

// The output folder lies inside the input folder when the input path is a leading part of it
// followed by a separator. An input path that itself ends in a separator (the file-system root)
// contains every longer path that starts with it.
bool outputInsideInput(const char* input, const char* output) {
  const std::size_t length = std::strlen(input);
  if (length == 0 || std::strncmp(input, output, length) != 0) return false;
  if (isSeparator(input[length - 1])) return output[length] != '\0';
  return isSeparator(output[length]);
}

void showPathTooLong(const wxString& path) {
  wxMessageBox("The folder path is too long:\n\n" + path +
                   "\n\nPlease choose a folder whose path is shorter than 1023 bytes.",
               "Warning", wxOK | wxICON_EXCLAMATION);
}

wxColour segmentColour(tamzel::TextColour colour) {
  return colour == tamzel::TextColour::Red ? wxColour(255, 0, 0) : wxColour(0, 0, 255);
}

}  // namespace

TheFrame::TheFrame(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                   const wxSize& size, long style, const wxString& name)
    : wxFrame(parent, id, title, pos, size, style, name) {}

TheFrame::~TheFrame() {
  // Engine threads use State, the prompt queue and the issue log: they must be gone first.
  if (JobThread) StopJobForQuit(false);
  delete Prompts;
  delete Issues;
  if (MainFrame == this) MainFrame = nullptr;
}

void TheFrame::BuildControls() {
  auto* panel =
      new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER);

  // Created in keyboard navigation order.
  InputChooseButton = new wxButton(panel, ID_INPUT_CHOOSE, "Choose Folder...");
  InputLabel = new wxStaticText(panel, wxID_ANY, kNoFolderSelected, wxDefaultPosition,
                                wxDefaultSize, wxST_ELLIPSIZE_END);
  InputVerifyButton = new wxButton(panel, ID_INPUT_VERIFY, "V", wxDefaultPosition,
                                   wxSize(35, InputChooseButton->GetSize().GetHeight()));
  OutputChooseButton = new wxButton(panel, ID_OUTPUT_CHOOSE, "Choose Folder...");
  OutputLabel = new wxStaticText(panel, wxID_ANY, kNoFolderSelected, wxDefaultPosition,
                                 wxDefaultSize, wxST_ELLIPSIZE_END);
  OutputVerifyButton = new wxButton(panel, ID_OUTPUT_VERIFY, "V", wxDefaultPosition,
                                    wxSize(35, OutputChooseButton->GetSize().GetHeight()));
  auto* groupBox = new wxStaticBox(panel, wxID_ANY, wxString());
  auto* inputText =
      new wxStaticText(panel, wxID_ANY, "Choose a folder containing footage to compress:");
  auto* line = new wxStaticLine(panel, wxID_ANY, wxDefaultPosition, wxSize(10, 1), wxLI_HORIZONTAL);
  auto* outputText =
      new wxStaticText(panel, wxID_ANY, "Choose a location to store processed files:");
  RecurseBox = new wxCheckBox(panel, wxID_ANY, "Process subfolders");
  CopyAllBox = new wxCheckBox(panel, wxID_ANY, "Copy non-DNG files");
  const wxString policies[] = {"Skip", "Overwrite"};
  PolicyBox = new wxRadioBox(panel, wxID_ANY, "Existing files policy", wxDefaultPosition,
                             wxDefaultSize, 2, policies, 0, wxRA_SPECIFY_ROWS);
  PremiereBox = new wxCheckBox(panel, wxID_ANY, "Premiere CC compatibility");
  GenerateChecksBox = new wxCheckBox(panel, ID_GENERATE_CHECKS, "Generate checksums");
  VerificationPassBox = new wxCheckBox(panel, wxID_ANY, "Run a verification pass");
  PauseButton = new wxButton(panel, ID_PAUSE, "Resume Job");
  StartButton = new wxButton(panel, ID_START, "Start Job");
  wxString greeting = "Tamzel v";
  greeting += kTamzelVersion;
  greeting += "\n\nReady!\n";
  ProgressText = new CUnfocusableTextCtrl(panel, greeting, wxSize(100, 60),
                                          wxTE_MULTILINE | wxTE_READONLY | wxTE_RICH);
  ProgressText->SetCanFocus(false);

  // The folder labels take whatever width is left and shorten long paths with an ellipsis; a
  // small minimum width keeps a long path from widening the window.
  InputLabel->SetMinSize(wxSize(50, -1));
  OutputLabel->SetMinSize(wxSize(50, -1));

  RecurseBox->SetValue(true);
  CopyAllBox->SetValue(true);
  PolicyBox->SetSelection(0);
  VerificationPassBox->Disable();

  InputVerifyButton->SetToolTip(kVerifyToolTip);
  OutputVerifyButton->SetToolTip(kVerifyToolTip);
  RecurseBox->SetToolTip("Recursively process all subfolders of the selected input folder.");
  CopyAllBox->SetToolTip("Copy all files accompanying your DNG sequences to the output folder(s).");
  PolicyBox->SetToolTip(
      "Choose how to handle any input filenames already existing at the output location.");
  PremiereBox->SetToolTip(
      "Output Adobe Premiere Pro CC and Adobe Speedgrade CC compatible cinemaDNG files but "
      "sacrificing a little bit of compression.");
  GenerateChecksBox->SetToolTip(
      "Generate checksums to facilitate tracking data integrity through post and archiving.");
  VerificationPassBox->SetToolTip("After processing is finished verify data in the output folder.");

  auto* mainSizer = new wxBoxSizer(wxVERTICAL);

  auto* topRow = new wxBoxSizer(wxHORIZONTAL);
  mainSizer->Add(topRow, 0, wxEXPAND, 0);

  auto* group = new wxStaticBoxSizer(groupBox, wxVERTICAL);
  topRow->Add(group, 1, wxALL, 5);
  // Alignment flags along a box sizer's own direction have no effect there (and the toolkit
  // asserts on them), so only the flags that act are given.
  const auto addInstruction = [group](wxStaticText* text) {
#ifdef __WXGTK__
    // GTK draws the group box's frame flush with what the sizer puts in it; keep the
    // instruction texts off the frame line.
    auto* indented = new wxBoxSizer(wxHORIZONTAL);
    indented->AddSpacer(6);
    indented->Add(text, 0, 0, 0);
    group->Add(indented, 0, wxTOP, 2);
#else
    group->Add(text, 0, wxTOP, 2);
#endif
  };
  addInstruction(inputText);
  auto* inputRow = new wxBoxSizer(wxHORIZONTAL);
  group->Add(inputRow, 0, wxEXPAND | wxALL, 8);
  inputRow->Add(InputChooseButton, 0, wxRIGHT, 8);
  inputRow->Add(InputLabel, 1, wxBOTTOM | wxALIGN_BOTTOM, 2);
  inputRow->Add(InputVerifyButton, 0, wxLEFT | wxRIGHT, 5);
  group->Add(line, 0, wxEXPAND | wxALL, 5);
  addInstruction(outputText);
  auto* outputRow = new wxBoxSizer(wxHORIZONTAL);
  group->Add(outputRow, 0, wxEXPAND | wxALL, 8);
  outputRow->Add(OutputChooseButton, 0, wxRIGHT, 8);
  outputRow->Add(OutputLabel, 1, wxBOTTOM | wxALIGN_BOTTOM, 2);
  outputRow->Add(OutputVerifyButton, 0, wxLEFT | wxRIGHT, 5);

  auto* options = new wxBoxSizer(wxVERTICAL);
  topRow->Add(options, 0, wxALL, 5);
  options->Add(RecurseBox, 0, wxALL, 15);
  options->Add(CopyAllBox, 0, wxLEFT | wxBOTTOM, 15);
  options->Add(PolicyBox, 0, wxEXPAND | wxALL, 10);
  options->Add(PremiereBox, 0, wxLEFT | wxBOTTOM, 15);
  options->Add(GenerateChecksBox, 0, wxLEFT | wxBOTTOM, 15);
  options->Add(VerificationPassBox, 0, wxLEFT, 35);
  options->AddSpacer(15);
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  options->Add(buttons, 0, wxALIGN_RIGHT, 0);
  buttons->Add(PauseButton, 0, wxALL | wxRESERVE_SPACE_EVEN_IF_HIDDEN, 10);
  buttons->Add(StartButton, 0, wxALL, 10);

  auto* textRow = new wxBoxSizer(wxVERTICAL);
  mainSizer->Add(textRow, 1, wxEXPAND, 0);
  textRow->Add(ProgressText, 1, wxEXPAND | wxALL, 4);

  panel->SetSizerAndFit(mainSizer);
  PauseButton->Hide();
}

void TheFrame::ApplySettings(const SAppSettings& settings) {
  RecurseBox->SetValue(settings.Recurse);
  CopyAllBox->SetValue(settings.CopyAll);
  PolicyBox->SetSelection(settings.SkipExisting ? 0 : 1);
  PremiereBox->SetValue(settings.PremiereCCCompat);
  GenerateChecksBox->SetValue(settings.GenerateChecks);
  VerificationPassBox->SetValue(settings.VerificationPass);
  if (settings.GenerateChecks) VerificationPassBox->Enable();

  if (!settings.InputDir.empty() && pathExists(settings.InputDir.fn_str())) {
    InputLabel->SetLabelText(settings.InputDir);
    InputChosen = true;
  }
  if (!settings.OutputDir.empty() && pathExists(settings.OutputDir.fn_str())) {
    OutputLabel->SetLabelText(settings.OutputDir);
    OutputChosen = true;
  }
  if (InputLabel->GetParent()->GetSizer()) InputLabel->GetParent()->Layout();
}

void TheFrame::StoreSettings(SAppSettings& settings) const {
  settings.Recurse = RecurseBox->GetValue();
  settings.CopyAll = CopyAllBox->GetValue();
  settings.SkipExisting = PolicyBox->GetSelection() == 0;
  settings.PremiereCCCompat = PremiereBox->GetValue();
  settings.GenerateChecks = GenerateChecksBox->GetValue();
  settings.VerificationPass = VerificationPassBox->GetValue();
  if (InputChosen) settings.InputDir = InputLabel->GetLabelText();
  if (OutputChosen) settings.OutputDir = OutputLabel->GetLabelText();
}

void TheFrame::EnterRunningState() {
  InputChooseButton->Disable();
  OutputChooseButton->Disable();
  InputVerifyButton->Disable();
  OutputVerifyButton->Disable();
  RecurseBox->Disable();
  CopyAllBox->Disable();
  PolicyBox->Disable();
  PremiereBox->Disable();
  GenerateChecksBox->Disable();
  VerificationPassBox->Disable();
  PauseButton->SetLabel("Pause Job");
  PauseButton->Show();
  StartButton->SetLabel("Abort Job");
}

void TheFrame::ReturnToIdle() {
  InputChooseButton->Enable();
  OutputChooseButton->Enable();
  InputVerifyButton->Enable();
  OutputVerifyButton->Enable();
  RecurseBox->Enable();
  CopyAllBox->Enable();
  PolicyBox->Enable();
  PremiereBox->Enable();
  GenerateChecksBox->Enable();
  VerificationPassBox->Enable(GenerateChecksBox->GetValue());
  PauseButton->Hide();
  StartButton->SetLabel("Start Job");
}

void TheFrame::ShowFolderNotFound(const wxString& path, int kind) {
  wxString which;
  switch (kind) {
    case 0:
      which = "Cannot find the selected input folder:\n";
      break;
    case 1:
      which = "Cannot find the selected output folder:\n";
      break;
    default:
      which = "Cannot find the selected folder:\n";
      break;
  }
  wxMessageBox("Folder not found!\n\n" + which + path + "\n\n" +
                   "Possible reasons: the folder might have been deleted; or if it was located "
                   "on an external drive, the drive might have been disconnected.",
               "Warning", wxOK | wxICON_EXCLAMATION);
}

// ---------------------------------------------------------------------------------------------
// Commands

void TheFrame::OnButton(wxCommandEvent& event) {
  switch (event.GetId()) {
    case ID_INPUT_CHOOSE:
      ChooseFolder(true);
      break;
    case ID_OUTPUT_CHOOSE:
      ChooseFolder(false);
      break;
    case ID_INPUT_VERIFY:
      StartVerify(true);
      break;
    case ID_OUTPUT_VERIFY:
      StartVerify(false);
      break;
    case ID_START:
      if (JobThread) {
        AbortJob();
      } else {
        StartProcessing();
      }
      break;
    case ID_PAUSE:
      PauseOrResume();
      break;
    default:
      break;
  }
}

void TheFrame::OnGenerateChecks(wxCommandEvent& event) {
  if (event.GetId() != ID_GENERATE_CHECKS) return;
  VerificationPassBox->Enable(GenerateChecksBox->GetValue());
}

void TheFrame::ChooseFolder(bool input) {
  wxDirDialog chooser(this,
                      input ? "Choose a folder containing files to process"
                            : "Choose a folder to save processed files",
                      wxString(),
                      input ? (wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST) : wxDD_DEFAULT_STYLE);
  if (chooser.ShowModal() != wxID_OK) return;
  const wxString path = chooser.GetPath();
  // The job's path buffers hold 1024 bytes with the "/" and the terminator the start adds.
  const wxCharBuffer bytes = path.fn_str();
  if (path.empty() || !bytes.data() || std::strlen(bytes.data()) + 2 > tamzel::kPathBufferSize) {
    showPathTooLong(path);
    return;
  }
  if (input) {
    InputLabel->SetLabelText(path);
    InputChosen = true;
  } else {
    OutputLabel->SetLabelText(path);
    OutputChosen = true;
  }
  InputLabel->GetParent()->Layout();
}

bool TheFrame::CopyToBuffer(const wxString& path, char* buffer) {
  const wxCharBuffer bytes = path.fn_str();
  if (!bytes.data() || std::strlen(bytes.data()) + 2 > tamzel::kPathBufferSize) {
    showPathTooLong(path);
    return false;
  }
  std::strcpy(buffer, bytes.data());
  return true;
}

void TheFrame::ResetJob(bool verifyOnly) {
  tamzel::JobSettings settings;
  settings.Recurse = RecurseBox->GetValue();
  settings.SkipExisting = PolicyBox->GetSelection() == 0;
  settings.InPlace = 0;
  settings.CopyAll = CopyAllBox->GetValue();
  settings.PremiereCCCompat = PremiereBox->GetValue();
  settings.GenerateChecks = GenerateChecksBox->GetValue();
  settings.VerificationPass = VerificationPassBox->GetValue();
  settings.VerifyOnly = verifyOnly;
  const wxCharBuffer logPath = ErrorLogPath.fn_str();
  tamzel::resetJobState(State, settings, verifyOnly, Prompts, Issues,
                        logPath.data() ? logPath.data() : "", &TheFrame::phaseEndHook);
}

void TheFrame::StartVerify(bool input) {
  if (JobThread) return;
  const bool chosen = input ? InputChosen : OutputChosen;
  if (!chosen) {
    wxMessageBox("No folder selected yet. First select a folder to run checksum verification on.",
                 "Verify", wxOK);
    return;
  }
  const wxString path = (input ? InputLabel : OutputLabel)->GetLabelText();
  if (!CopyToBuffer(path, VerifyFolderBuffer)) return;
  if (!pathExists(VerifyFolderBuffer)) {
    ShowFolderNotFound(path, 2);
    return;
  }
  ResetJob(true);
  appendSeparator(VerifyFolderBuffer);
  StartThread(VerifyFolderBuffer, nullptr);
}

void TheFrame::StartProcessing() {
  if (!InputChosen || !OutputChosen) {
    wxMessageBox("Please select input and output folders!", "Start Job", wxOK);
    return;
  }
  const wxString inputPath = InputLabel->GetLabelText();
  const wxString outputPath = OutputLabel->GetLabelText();
  if (!CopyToBuffer(inputPath, InputFolderBuffer) ||
      !CopyToBuffer(outputPath, OutputFolderBuffer)) {
    return;
  }
  if (!pathExists(InputFolderBuffer)) {
    ShowFolderNotFound(inputPath, 0);
    return;
  }
  if (!pathExists(OutputFolderBuffer)) {
    ShowFolderNotFound(outputPath, 1);
    return;
  }
  ResetJob(false);
  bool inPlace = false;
  if (sameFolder(InputFolderBuffer, OutputFolderBuffer)) {
    if (PolicyBox->GetSelection() == 0) {
      wxMessageBox(
          "Input and output folders seem to be identical!\n\nYour existing files policy is set "
          "to Skip. Set it to Overwrite if you want to overwrite the original files with the "
          "compressed files.",
          "Warning", wxOK | wxICON_EXCLAMATION);
      return;
    }
    const int answer = wxMessageBox(
        "Input and output folders seem to be identical!\n\nProceeding will overwrite the "
        "original files with the compressed files.\n\nContinue?",
        "Warning", wxOK | wxCANCEL | wxCANCEL_DEFAULT | wxICON_EXCLAMATION);
    if (answer != wxOK) return;
    inPlace = true;
  } else if (outputInsideInput(InputFolderBuffer, OutputFolderBuffer)) {
    wxMessageBox(
        "The output folder is a subfolder of the input folder!\n\nCurrently this leads to "
        "infinite program execution. Please select another location to save files.",
        "Warning", wxOK | wxICON_EXCLAMATION);
    return;
  }
  State.InPlace = inPlace;
  appendSeparator(InputFolderBuffer);
  appendSeparator(OutputFolderBuffer);
  StartThread(InputFolderBuffer, OutputFolderBuffer);
}

void TheFrame::StartThread(const char* source, const char* destination) {
  EnterRunningState();
  State.StartTime.store(tamzel::steadyNowNs());
  wxString failure;
  try {
    JobThread = StartJobThread(source, destination, State);
    if (!JobThread) {
      failure = State.hasFatalError() ? toWx(State.fatalError())
                                      : wxString("The job thread could not be created.");
    }
  } catch (const std::system_error& error) {
    JobThread.reset();
    failure = "The system could not create the job thread (" + wxString(error.what()) + ").";
  }
  if (!failure.empty()) {
    ReturnToIdle();
    wxMessageBox("The job could not be started.\n\n" + failure,
                 destination ? "Start Job" : "Verify", wxOK | wxICON_ERROR);
  }
}

// The engine waits while a confirmation is open, unless the user had paused it already (then
// it stays paused afterwards too).
int TheFrame::AskWhilePaused(const std::function<int()>& ask) {
  if (State.Pause.load()) return ask();
  State.WasPaused = true;
  State.Pause.exchange(true);
  const int answer = ask();
  State.Pause.exchange(false);
  return answer;
}

void TheFrame::AbortJob() {
  const auto confirm = [this] {
    return wxMessageBox(
        "The processing job is not finished yet.\n\nAre you sure you want to abort it?",
        "Confirm abort", wxYES_NO | wxNO_DEFAULT | wxICON_EXCLAMATION | wxCENTRE, this);
  };
  const int answer = AskWhilePaused(confirm);
  if (answer == wxYES) {
    State.Abort.exchange(true);
    State.Pause.exchange(false);
  }
}

void TheFrame::PauseOrResume() {
  if (!JobThread || State.Abort.load()) return;
  if (State.Pause.load()) {
    State.Pause.exchange(false);
    PauseButton->SetLabel("Pause Job");
  } else {
    State.WasPaused = true;
    State.Pause.exchange(true);
    PauseButton->SetLabel("Resume Job");
  }
}

void TheFrame::OnMenuExit(wxCommandEvent&) {
  auto* close = new wxCloseEvent(wxEVT_CLOSE_WINDOW, GetId());
  close->SetEventObject(this);
  close->SetCanVeto(true);
  QueueEvent(close);
}

void TheFrame::OnMenuAbout(wxCommandEvent&) {
  AboutDialog dialog(this);
  dialog.ShowModal();
}

void TheFrame::OnCloseWindow(wxCloseEvent& event) {
  if (event.CanVeto() && JobThread) {
    const auto confirm = [] {
      return wxMessageBox(
          "The processing job is not finished yet.\n\nQuitting will abort processing. Are you "
          "sure you want to quit?",
          "Confirm quit", wxYES_NO | wxNO_DEFAULT | wxICON_EXCLAMATION);
    };
    const int answer = AskWhilePaused(confirm);
    if (answer != wxYES) {
      event.Veto();
      return;
    }
  }
  if (AppSettings) StoreSettings(*AppSettings);
  // The engine threads use this window's JobState: stop the job and wait for it before the
  // window goes away.
  if (JobThread) StopJobForQuit(true);
  Destroy();
}

void TheFrame::StopJobForQuit(bool tellUser) {
  State.Abort.exchange(true);
  State.Pause.exchange(false);
  StoppingJob = true;  // the idle handler leaves the text and the prompts alone from now on
  if (tellUser && ProgressText) {
    ProgressText->AppendText("\n\nStopping the job before quitting, please wait...\n");
    ProgressText->ShowPosition(ProgressText->GetLastPosition());
  }
  const auto abortAll = [](const tamzel::ErrorPrompt&) { return tamzel::PromptAnswer::Abort; };
  while (!State.Finished.load()) {
    // With Abort set every waiting prompt is answered Abort without a dialog.
    tamzel::answerPrompts(State, abortAll);
    // Let the window draw the notice; user input stays blocked meanwhile.
    if (tellUser) wxSafeYield(nullptr, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  JobThread->join();
  JobThread.reset();
}

// ---------------------------------------------------------------------------------------------
// Progress, prompts and the end of a job

void TheFrame::phaseEndHook() {
  if (MainFrame) tamzel::performPhaseEnd(MainFrame->State);
}

void TheFrame::OnIdle(wxIdleEvent& event) {
  if (!JobThread) return;
  // A prompt dialog's modal loop sends idle events too; the prompts are being answered already.
  // While the job is stopped for quitting, the close handler does the waiting.
  if (AnsweringPrompts || StoppingJob) return;
  if (State.Finished.load()) {
    EndOfJob();
    return;
  }
  AnsweringPrompts = true;
  tamzel::answerPrompts(State,
                        [this](const tamzel::ErrorPrompt& prompt) { return answerPrompt(prompt); });
  AnsweringPrompts = false;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  event.RequestMore();
  ShowProgress();
}

tamzel::PromptAnswer TheFrame::answerPrompt(const tamzel::ErrorPrompt& prompt) {
  wxMessageDialog dialog(this, toWx(tamzel::promptMessage(prompt)),
                         tamzel::promptTitle(prompt.kind), wxYES_NO | wxCANCEL | wxICON_ERROR);
  dialog.SetYesNoCancelLabels("Retry", tamzel::promptSkipLabel(prompt.kind), "Abort Job");
  switch (dialog.ShowModal()) {
    case wxID_YES:
      return tamzel::PromptAnswer::Retry;
    case wxID_NO:
      return tamzel::PromptAnswer::Skip;
    default:
      return tamzel::PromptAnswer::Abort;
  }
}

void TheFrame::ShowStyledText(const std::vector<tamzel::TextSegment>& text) {
  ProgressText->Freeze();
  const wxTextAttr normal = ProgressText->GetDefaultStyle();
  ProgressText->ChangeValue(wxString());
  int lines = 0;
  for (const tamzel::TextSegment& segment : text) {
    if (segment.colour == tamzel::TextColour::Default) {
      ProgressText->SetDefaultStyle(normal);
    } else {
      ProgressText->SetDefaultStyle(wxTextAttr(segmentColour(segment.colour)));
    }
    ProgressText->AppendText(toWx(segment.text));
    for (const char c : segment.text) lines += c == '\n';
  }
  ProgressText->SetDefaultStyle(normal);
  ProgressText->ScrollLines(lines + 1);
  ProgressText->ShowPosition(ProgressText->GetLastPosition());
  ProgressText->Thaw();
}

void TheFrame::ShowProgress() {
  ShowStyledText(tamzel::buildProgressText(State, tamzel::steadyNowNs()));
}

void TheFrame::EndOfJob() {
  JobThread->join();
  JobThread.reset();
  const wxCharBuffer logPath = ErrorLogPath.fn_str();
  std::vector<tamzel::TextSegment> summary =
      tamzel::buildFinalSummary(State, logPath.data() ? logPath.data() : "");
  // A failure that ended the job by itself (memory, threads) is named below the summary.
  if (State.hasFatalError()) {
    summary.push_back({State.fatalError() + "\n", tamzel::TextColour::Red});
  }
  ShowStyledText(summary);
  ReturnToIdle();
}

// ---------------------------------------------------------------------------------------------
// Event table (kept last: the macro ends without a semicolon)

// clang-format off
wxBEGIN_EVENT_TABLE(TheFrame, wxFrame)
  EVT_MENU(wxID_EXIT, TheFrame::OnMenuExit)
  EVT_MENU(wxID_ABOUT, TheFrame::OnMenuAbout)
  EVT_BUTTON(ID_INPUT_CHOOSE, TheFrame::OnButton)
  EVT_BUTTON(ID_OUTPUT_CHOOSE, TheFrame::OnButton)
  EVT_BUTTON(ID_INPUT_VERIFY, TheFrame::OnButton)
  EVT_BUTTON(ID_OUTPUT_VERIFY, TheFrame::OnButton)
  EVT_BUTTON(ID_START, TheFrame::OnButton)
  EVT_BUTTON(ID_PAUSE, TheFrame::OnButton)
  EVT_CHECKBOX(ID_GENERATE_CHECKS, TheFrame::OnGenerateChecks)
  EVT_IDLE(TheFrame::OnIdle)
  EVT_CLOSE(TheFrame::OnCloseWindow)
wxEND_EVENT_TABLE()
