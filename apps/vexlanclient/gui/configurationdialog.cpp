#include "vexlanclient/gui/configurationdialog.h"

#include <algorithm>

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/listbox.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "vexlanclient/gui/messagebox.h"

namespace {

// The warning under the server list is long: it is broken into lines of this width.
constexpr int kWarningWrapWidth = 340;

}  // namespace

ConfigurationDialog::ConfigurationDialog(wxWindow* parent, wxWindowID id, const wxString& title,
                                         const wxPoint& pos, const wxSize& size, long style)
    : wxDialog(parent, id, title, pos, size, style, wxS("dialog")) {
    SetSizeHints(wxSize(418, 286), wxDefaultSize);
    auto* column = new wxBoxSizer(wxVERTICAL);

    // Proxy
    auto* proxyBox =
        new wxStaticBoxSizer(new wxStaticBox(this, wxID_ANY, _("Proxy"), wxDefaultPosition,
                                             wxDefaultSize, 0, wxS("groupBox")),
                             wxVERTICAL);
    wxWindow* proxyParent = proxyBox->GetStaticBox();
    m_useSystemProxy =
        new wxCheckBox(proxyParent, wxID_ANY, _("SETTINGS_PROXY_USE_SYSTEM_PARAMETERS"),
                       wxDefaultPosition, wxDefaultSize, 0, wxDefaultValidator, wxS("check"));
    // Transfers always start from the system's proxy: the box only says so.
    m_useSystemProxy->SetValue(true);
    m_useSystemProxy->Enable(false);
    proxyBox->Add(m_useSystemProxy, 0, wxALL, 5);
    auto* credentials = new wxFlexGridSizer(0, 2, 0, 0);
    credentials->AddGrowableCol(1);
    credentials->SetFlexibleDirection(wxBOTH);
    m_loginLabel = new wxStaticText(proxyParent, wxID_ANY, _("SETTINGS_PROXY_LOGIN"));
    credentials->Add(m_loginLabel, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    m_login = new wxTextCtrl(proxyParent, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                             0, wxDefaultValidator, wxS("text"));
    credentials->Add(m_login, 0, wxALL | wxEXPAND, 5);
    m_passwordLabel = new wxStaticText(proxyParent, wxID_ANY, _("SETTINGS_PROXY_PASSWORD"));
    credentials->Add(m_passwordLabel, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    m_password = new wxTextCtrl(proxyParent, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                wxDefaultSize, wxTE_PASSWORD);
    credentials->Add(m_password, 0, wxALL | wxEXPAND, 5);
    proxyBox->Add(credentials, 0, wxEXPAND);
    column->Add(proxyBox, 0, wxALL | wxEXPAND, 5);

    // SSL
    auto* sslBox = new wxStaticBoxSizer(new wxStaticBox(this, wxID_ANY, _("SSL"), wxDefaultPosition,
                                                        wxDefaultSize, 0, wxS("groupBox")),
                                        wxVERTICAL);
    wxWindow* sslParent = sslBox->GetStaticBox();
    m_certificateLabel =
        new wxStaticText(sslParent, wxID_ANY, _("SETTINGS_SSL_DO_NOT_CHECK_CERTIFICATES"));
    sslBox->Add(m_certificateLabel, 0, wxALL, 5);
    auto* servers = new wxFlexGridSizer(2, 2, 0, 0);
    servers->AddGrowableCol(0);
    servers->SetFlexibleDirection(wxBOTH);
    m_domain = new wxTextCtrl(sslParent, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                              wxTE_PROCESS_ENTER);
    servers->Add(m_domain, 0, wxALL | wxEXPAND, 5);
    m_addButton = new wxButton(sslParent, wxID_ADD, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                               0, wxDefaultValidator, wxS("button"));
    servers->Add(m_addButton, 0, wxALL, 5);
    m_domains = new wxListBox(sslParent, wxID_ANY, wxDefaultPosition, wxDefaultSize, 0, nullptr,
                              wxLB_SORT | wxLB_EXTENDED, wxDefaultValidator, wxS("listBox"));
    m_domains->SetMaxSize(wxSize(271, 64));
    servers->Add(m_domains, 0, wxALL | wxEXPAND, 5);
    m_removeButton = new wxButton(sslParent, wxID_REMOVE, wxEmptyString);
    m_removeButton->Enable(false);
    servers->Add(m_removeButton, 0, wxALL, 5);
    sslBox->Add(servers, 1, wxEXPAND);
    auto* warningRow = new wxBoxSizer(wxHORIZONTAL);
    m_warningBitmap = new wxStaticBitmap(sslParent, wxID_ANY,
                                         wxArtProvider::GetBitmap(wxART_WARNING, wxART_MENU));
    warningRow->Add(m_warningBitmap, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    m_warning = new wxStaticText(sslParent, wxID_ANY, _("SETTINGS_SSL_NOCHECK_WARNING"));
    m_warning->Wrap(kWarningWrapWidth);
    warningRow->Add(m_warning, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    sslBox->Add(warningRow, 0, wxEXPAND);
    column->Add(sslBox, 1, wxALL | wxEXPAND, 5);

    // Buttons
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    m_cancelButton = new wxButton(this, wxID_CANCEL, wxEmptyString);
    buttons->Add(m_cancelButton, 1, wxALL | wxEXPAND, 5);
    m_saveButton = new wxButton(this, wxID_SAVE, wxEmptyString);
    m_saveButton->SetDefault();
    buttons->Add(m_saveButton, 1, wxALL | wxEXPAND, 5);
    column->Add(buttons, 0, wxALIGN_RIGHT);

    SetSizer(column);
    Layout();
    column->Fit(this);
    Centre(wxBOTH);

    m_domain->Bind(wxEVT_TEXT_ENTER, &ConfigurationDialog::onAdd, this);
    m_addButton->Bind(wxEVT_BUTTON, &ConfigurationDialog::onAdd, this);
    m_domains->Bind(wxEVT_LISTBOX, &ConfigurationDialog::onSelectionChanged, this);
    m_removeButton->Bind(wxEVT_BUTTON, &ConfigurationDialog::onRemove, this);
}

VexlanClientConfigurationDialog::VexlanClientConfigurationDialog(wxWindow* parent)
    : ConfigurationDialog(parent, wxID_ANY, _("Settings"), wxDefaultPosition, wxSize(-1, -1)) {
    Fit();
    SetAffirmativeId(wxID_SAVE);
}

void VexlanClientConfigurationDialog::setValues(const wxString& login, const wxString& password,
                                                const wxArrayString& domains) {
    m_login->ChangeValue(login);
    m_password->ChangeValue(password);
    m_domains->Clear();
    if (!domains.empty())
        m_domains->Append(domains);
    m_removeButton->Enable(false);
    Fit();
}

wxString VexlanClientConfigurationDialog::login() const {
    return m_login->GetValue();
}

wxString VexlanClientConfigurationDialog::password() const {
    return m_password->GetValue();
}

wxArrayString VexlanClientConfigurationDialog::domains() const {
    return m_domains->GetStrings();
}

void VexlanClientConfigurationDialog::showSaveFailed(wxWindow* parent) {
    showMessageBox(MessageBoxRequest{parent, _("SETTINGS_SAVE_FAILED"), _("Error"),
                                     wxOK | wxCENTRE | wxICON_ERROR, wxID_OK});
}

void VexlanClientConfigurationDialog::onAdd(wxCommandEvent& /*event*/) {
    wxString text = m_domain->GetValue();
    text.Trim(true);  // trailing white space only; leading blanks stay
    if (text.empty())
        return;
    if (m_domains->FindString(text, true) == wxNOT_FOUND)
        m_domains->Append(text);
    m_domain->ChangeValue(wxString());
}

void VexlanClientConfigurationDialog::onSelectionChanged(wxCommandEvent& /*event*/) {
    wxArrayInt selected;
    m_removeButton->Enable(m_domains->GetSelections(selected) > 0);
}

void VexlanClientConfigurationDialog::onRemove(wxCommandEvent& event) {
    wxArrayInt selected;
    m_domains->GetSelections(selected);
    std::sort(selected.begin(), selected.end());
    // Each deletion moves the following entries up by one.
    for (size_t i = 0; i < selected.size(); ++i) {
        m_domains->Delete(static_cast<unsigned>(selected[i] - static_cast<int>(i)));
    }
    onSelectionChanged(event);
}
