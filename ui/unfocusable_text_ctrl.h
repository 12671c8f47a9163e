// A text control that never takes the keyboard focus: the main window's read-only text area.
#pragma once

#include <wx/textctrl.h>

class CUnfocusableTextCtrl : public wxTextCtrl {
 public:
  CUnfocusableTextCtrl(wxWindow* parent, const wxString& value, const wxSize& size, long style,
                       const wxValidator& validator = wxDefaultValidator,
                       const wxString& name = wxASCII_STR(wxTextCtrlNameStr))
      : wxTextCtrl(parent, wxID_ANY, value, wxDefaultPosition, size, style, validator, name) {}

  bool AcceptsFocus() const override { return false; }
};
