// The About dialog: logo, version, credits and a link to the web site. Built anew each time.
#pragma once

#include <wx/bitmap.h>
#include <wx/dialog.h>
#include <wx/hyperlink.h>

class AboutDialog : public wxDialog {
 public:
  // A hyperlink that never takes the keyboard focus.
  class UnfocusableHyperlinkCtrl : public wxHyperlinkCtrl {
   public:
    UnfocusableHyperlinkCtrl(wxWindow* parent, const wxString& label, const wxString& url);
    ~UnfocusableHyperlinkCtrl() override;
    bool AcceptsFocus() const override { return false; }
  };

  explicit AboutDialog(wxWindow* parent);
  ~AboutDialog() override;
};

// Texts shown by the dialog.
extern const char* const kAboutWebSiteHost;
extern const char* const kAboutWebSiteUrl;
wxString aboutVersionText();

// The "logoabout" PNG: on macOS from the bundle's resources; elsewhere the file
// "logoabout.png" next to the executable or in <prefix>/share/tamzel. An empty bitmap when the
// file cannot be found.
wxBitmap loadLogoResource();
