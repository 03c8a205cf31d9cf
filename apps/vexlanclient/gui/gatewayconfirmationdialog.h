// The question asked before the window program contacts a gateway that the user has not
// confirmed before: a link can name any gateway, and the program downloads components from it
// and runs them. Connect or Cancel; Cancel is the default, so that a reflexive Enter sends
// nothing.
#pragma once

#include <wx/dialog.h>
#include <wx/event.h>
#include <wx/string.h>

class wxButton;
class wxStaticBitmap;
class wxStaticText;

// The form: controls and layout; its handlers only skip their events.
class GatewayConfirmationDialog : public wxDialog {
public:
    // Window id of the Connect button.
    static constexpr int ID_CONNECT_BUTTON = 1001;

    GatewayConfirmationDialog(wxWindow* parent, wxWindowID id = wxID_ANY,
                              const wxString& title = wxEmptyString,
                              const wxPoint& pos = wxDefaultPosition,
                              const wxSize& size = wxDefaultSize,
                              long style = wxDEFAULT_DIALOG_STYLE);
    ~GatewayConfirmationDialog() override = default;

protected:
    virtual void onConnect(wxCommandEvent& event) { event.Skip(); }
    virtual void onCancel(wxCommandEvent& event) { event.Skip(); }

    wxStaticBitmap* m_warningBitmap;
    wxStaticText* m_question;
    wxStaticText* m_gateway;
    wxStaticText* m_warning;
    wxButton* m_connectButton;
    wxButton* m_cancelButton;
};

// Shown modally before the first run: ShowModal gives kConnect, or wxID_CANCEL after Cancel,
// Escape or the close box.
class VexlanClientGatewayConfirmationDialog : public GatewayConfirmationDialog {
public:
    static constexpr int kConnect = 1;

    // `gateway`: the host (and port) of the link, shown as text.
    VexlanClientGatewayConfirmationDialog(wxWindow* parent, const wxString& gateway);

protected:
    void onConnect(wxCommandEvent& event) override;
    void onCancel(wxCommandEvent& event) override;
};
