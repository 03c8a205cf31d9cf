// The about box: the logo, the product name, the version and the copyright line.
#pragma once

#include <wx/dialog.h>
#include <wx/event.h>
#include <wx/string.h>

class wxButton;
class wxStaticBitmap;
class wxStaticText;

// The form: controls and layout; its handler only skips its event.
class AboutDialog : public wxDialog {
public:
    AboutDialog(wxWindow* parent, wxWindowID id = wxID_ANY, const wxString& title = wxEmptyString,
                const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize,
                long style = wxDEFAULT_DIALOG_STYLE);
    ~AboutDialog() override = default;

protected:
    virtual void onCloseButton(wxCommandEvent& event) { event.Skip(); }

    wxStaticBitmap* m_logo;
    wxStaticText* m_productName;
    wxStaticText* m_version;
    wxStaticText* m_copyright;
    wxButton* m_closeButton;
};

// Shown modally, without parent; ShowModal gives 0 after Close, wxID_CANCEL after the close box.
class VexlanClientAboutDialog : public AboutDialog {
public:
    // The product version shown in the box.
    static const char* const kVersion;

    VexlanClientAboutDialog();

protected:
    void onCloseButton(wxCommandEvent& event) override;
};
