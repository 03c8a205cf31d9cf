// The dialog shown when the gateway could not be reached: the error details and the choice
// between Settings, Retry and Quit.
#pragma once

#include <wx/dialog.h>
#include <wx/event.h>
#include <wx/string.h>

class wxButton;
class wxStaticBitmap;
class wxStaticText;

// The form: controls and layout; its handlers only skip their events.
class ConnectionErrorDialog : public wxDialog {
public:
    // Window id of the Settings button; the main frame binds its click.
    static constexpr int ID_SETTINGS_BUTTON = 1000;

    ConnectionErrorDialog(wxWindow* parent, wxWindowID id = wxID_ANY,
                          const wxString& title = wxEmptyString,
                          const wxPoint& pos = wxDefaultPosition,
                          const wxSize& size = wxDefaultSize, long style = wxDEFAULT_DIALOG_STYLE);
    ~ConnectionErrorDialog() override = default;

protected:
    virtual void onClose(wxCloseEvent& event) { event.Skip(); }
    virtual void onInitDialog(wxInitDialogEvent& event) { event.Skip(); }
    virtual void onRetry(wxCommandEvent& event) { event.Skip(); }
    virtual void onQuit(wxCommandEvent& event) { event.Skip(); }

    wxStaticBitmap* m_warningBitmap;
    wxStaticText* m_message;
    wxStaticText* m_detailsLabel;
    wxStaticText* m_details;
    wxButton* m_settingsButton;
    wxButton* m_retryButton;
    wxButton* m_quitButton;
};

// Shown modally by the main frame: ShowModal gives kQuit, kRetry, or wxID_CANCEL when the
// dialog is closed with its close box.
class VexlanClientConnectionErrorDialog : public ConnectionErrorDialog {
public:
    static constexpr int kQuit = 1;
    static constexpr int kRetry = 2;

    explicit VexlanClientConnectionErrorDialog(wxWindow* parent);

    // The error text of the failed request, shown as it is in the details box.
    void setDetails(const wxString& text);

protected:
    void onInitDialog(wxInitDialogEvent& event) override;
    void onRetry(wxCommandEvent& event) override;
    void onQuit(wxCommandEvent& event) override;
};
