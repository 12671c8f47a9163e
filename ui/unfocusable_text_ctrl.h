// A text control that never takes the keyboard focus: the main window's read-only text area.
#pragma once

#include <wx/textctrl.h>

class CUnfocusableTextCtrl : public wxTextCtrl {
 public:
  CUnfocusableTextCtrl(wxWindow* parent, const wxString& value, const wxSize& size, long style,
                       const wxValidator& validator = wxDefaultValidator,
                       const wxString& name = wxASCII_STR(wxTextCtrlNameStr));

  bool AcceptsFocus() const override { return false; }

 private:
  // GTK focuses the native text view on a mouse click whatever the toolkit is told; the focus
  // is handed back to where it came from (or to the next control) right away.
  void OnSetFocus(wxFocusEvent& event);
};
