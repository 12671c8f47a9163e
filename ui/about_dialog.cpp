#include "ui/about_dialog.h"

#include <wx/filename.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/stdpaths.h>

#include "ui/texts.h"

const char* const kAboutWebSiteHost = "tamzel.example.com";
const char* const kAboutWebSiteUrl = "https://tamzel.example.com/";

wxString aboutVersionText() {
  wxString text = "version ";
  text += kTamzelVersion;
  text += "\n\n\n";
  text += "Developed by Ana Lindqvist\n";
  text += "Logo design by Tomas Reyes\n";
  text += "Thanks to Mira Okafor and Jon Halvorsen\n";
  return text;
}

wxBitmap loadLogoResource() {
#ifdef __WXOSX__
  return wxBitmap("logoabout", wxBITMAP_TYPE_PNG_RESOURCE);
#else
  const wxFileName exe(wxStandardPaths::Get().GetExecutablePath());
  wxArrayString candidates;
  candidates.Add(exe.GetPath() + "/logoabout.png");
  candidates.Add(exe.GetPath() + "/../share/tamzel/logoabout.png");
#ifdef TAMZEL_INSTALL_DATADIR
  candidates.Add(wxString(TAMZEL_INSTALL_DATADIR) + "/logoabout.png");
#endif
  for (const wxString& path : candidates) {
    if (wxFileName::FileExists(path)) {
      wxBitmap logo;
      if (logo.LoadFile(path, wxBITMAP_TYPE_PNG)) return logo;
    }
  }
  return wxNullBitmap;
#endif
}

AboutDialog::UnfocusableHyperlinkCtrl::UnfocusableHyperlinkCtrl(wxWindow* parent,
                                                                const wxString& label,
                                                                const wxString& url)
    : wxHyperlinkCtrl(parent, wxID_ANY, label, url, wxDefaultPosition, wxDefaultSize,
                      wxHL_DEFAULT_STYLE) {
  // Keep the native widget out of the focus chain as well, so clicks do not focus it either.
  SetCanFocus(false);
}

AboutDialog::UnfocusableHyperlinkCtrl::~UnfocusableHyperlinkCtrl() = default;

AboutDialog::AboutDialog(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "About", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);

  auto* logo = new wxStaticBitmap(this, wxID_ANY, loadLogoResource());
  sizer->Add(logo, 0, 0, 0);

  auto* version = new wxStaticText(this, wxID_ANY, aboutVersionText(), wxDefaultPosition,
                                   wxDefaultSize, wxALIGN_CENTRE);
  sizer->Add(version, 0, wxALIGN_CENTER | wxTOP | wxBOTTOM, 15);

  auto* link = new UnfocusableHyperlinkCtrl(this, kAboutWebSiteHost, kAboutWebSiteUrl);
  sizer->Add(link, 0, wxALIGN_CENTER | wxBOTTOM, 15);

  sizer->Add(CreateStdDialogButtonSizer(wxCLOSE), 0, wxEXPAND | wxALL, 10);
  // Close is the affirmative button: it ends the dialog, and so do Escape and the close box.
  SetAffirmativeId(wxID_CLOSE);

  SetSizerAndFit(sizer);
}

AboutDialog::~AboutDialog() = default;
