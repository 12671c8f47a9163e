#include "ui/unfocusable_text_ctrl.h"

#include <wx/weakref.h>

CUnfocusableTextCtrl::CUnfocusableTextCtrl(wxWindow* parent, const wxString& value,
                                           const wxSize& size, long style,
                                           const wxValidator& validator, const wxString& name)
    : wxTextCtrl(parent, wxID_ANY, value, wxDefaultPosition, size, style, validator, name) {
  Bind(wxEVT_SET_FOCUS, &CUnfocusableTextCtrl::OnSetFocus, this);
}

void CUnfocusableTextCtrl::OnSetFocus(wxFocusEvent& event) {
  event.Skip();
  wxWeakRef<wxWindow> previous(event.GetWindow());
  CallAfter([this, previous] {
    if (FindFocus() != this) return;
    wxWindow* back = previous.get();
    if (back && back != this && back->IsShownOnScreen() && back->IsEnabled() &&
        back->AcceptsFocus()) {
      back->SetFocus();
    } else {
      Navigate(wxNavigationKeyEvent::IsForward);
    }
  });
}
