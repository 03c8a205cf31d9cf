// The settings dialog: the proxy credentials and the servers whose certificates are not
// checked. It edits values only; the main frame writes them into the local settings and saves
// the settings file when the dialog ends with Save.
#pragma once

#include <wx/arrstr.h>
#include <wx/dialog.h>
#include <wx/event.h>
#include <wx/string.h>

class wxButton;
class wxCheckBox;
class wxListBox;
class wxStaticBitmap;
class wxStaticText;
class wxTextCtrl;

namespace vexlan {
class ClientLocalConfiguration;
}

// The form: controls and layout; its handlers only skip their events.
class ConfigurationDialog : public wxDialog {
public:
    ConfigurationDialog(wxWindow* parent, wxWindowID id = wxID_ANY,
                        const wxString& title = wxEmptyString,
                        const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(-1, -1),
                        long style = wxDEFAULT_DIALOG_STYLE);
    ~ConfigurationDialog() override = default;

protected:
    virtual void onAdd(wxCommandEvent& event) { event.Skip(); }
    virtual void onSelectionChanged(wxCommandEvent& event) { event.Skip(); }
    virtual void onRemove(wxCommandEvent& event) { event.Skip(); }

    wxCheckBox* m_useSystemProxy;
    wxStaticText* m_loginLabel;
    wxTextCtrl* m_login;
    wxStaticText* m_passwordLabel;
    wxTextCtrl* m_password;
    wxStaticText* m_certificateLabel;
    wxTextCtrl* m_domain;
    wxButton* m_addButton;
    wxListBox* m_domains;
    wxButton* m_removeButton;
    wxStaticBitmap* m_warningBitmap;
    wxStaticText* m_warning;
    wxButton* m_cancelButton;
    wxButton* m_saveButton;
};

// Used modally: ShowModal gives wxID_SAVE after Save and wxID_CANCEL after Cancel, Escape or
// the close box. The domain list is sorted; Add (or Enter in the domain field) appends the
// field's text without trailing blanks unless the list has it already, then empties the field.
class VexlanClientConfigurationDialog : public ConfigurationDialog {
public:
    explicit VexlanClientConfigurationDialog(wxWindow* parent);

    // Fills the controls from the local settings: the proxy login and password (the domain
    // part is not shown) and the certificate exceptions.
    void loadSettings(const vexlan::ClientLocalConfiguration& settings);
    // Writes the controls back: new proxy credentials (login, password, empty domain) and the
    // certificate exceptions in display order.
    void storeSettings(vexlan::ClientLocalConfiguration& settings) const;

    // Fills the controls: proxy login and password, and the servers whose certificates are
    // not checked (in any order: the list sorts them).
    void setValues(const wxString& login, const wxString& password, const wxArrayString& domains);
    wxString login() const;
    wxString password() const;
    // The servers in display order (sorted).
    wxArrayString domains() const;

    // The error box shown when the settings could not be written to the settings file.
    static void showSaveFailed(wxWindow* parent);

protected:
    void onAdd(wxCommandEvent& event) override;
    void onSelectionChanged(wxCommandEvent& event) override;
    void onRemove(wxCommandEvent& event) override;
};
