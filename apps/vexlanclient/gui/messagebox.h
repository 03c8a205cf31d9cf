// Message boxes of the program go through one function, so that tests can answer them
// instead of a user.
#pragma once

#include <functional>

#include <wx/defs.h>
#include <wx/string.h>
#include <wx/window.h>

// What a box shows: parent (may be null), message, caption, style (wxOK, wxICON_ERROR, ...)
// and the stock id whose label the OK button carries (wxID_OK for the usual one).
struct MessageBoxRequest {
    wxWindow* parent;
    wxString message;
    wxString caption;
    long style;
    wxWindowID okLabel;
};

// Replaces the real boxes while set; an empty function restores them. User-interface thread.
using MessageBoxHook = std::function<int(const MessageBoxRequest&)>;
void setMessageBoxHook(MessageBoxHook hook);

// Shows the box modally and returns its result (wxID_OK, ...).
int showMessageBox(const MessageBoxRequest& request);
