#include "vexlanclient/gui/connectionerrordialog.h"

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "vexlanclient/gui/artprovider.h"

namespace {

// Long error texts are broken into lines of this width instead of widening the dialog.
constexpr int kDetailsWrapWidth = 420;

}  // namespace

ConnectionErrorDialog::ConnectionErrorDialog(wxWindow* parent, wxWindowID id, const wxString& title,
                                             const wxPoint& pos, const wxSize& size, long style)
    : wxDialog(parent, id, title, pos, size, style, wxS("dialog")) {
    auto* column = new wxBoxSizer(wxVERTICAL);

    auto* messageRow = new wxBoxSizer(wxHORIZONTAL);
    m_warningBitmap = new wxStaticBitmap(this, wxID_ANY,
                                         wxArtProvider::GetBitmap(wxART_WARNING, wxART_CMN_DIALOG),
                                         wxDefaultPosition, wxDefaultSize, 0, wxS("staticBitmap"));
    messageRow->Add(m_warningBitmap, 0, wxALL, 5);
    m_message = new wxStaticText(this, wxID_ANY, _("CONNECTION_ERROR"));
    messageRow->Add(m_message, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    column->Add(messageRow, 1, wxEXPAND);

    m_detailsLabel = new wxStaticText(this, wxID_ANY, _("Details:"));
    column->Add(m_detailsLabel, 0, wxALL, 5);

    m_details = new wxStaticText(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                 wxBORDER_STATIC);
    m_details->SetMinSize(wxSize(-1, 100));
    column->Add(m_details, 0, wxALL | wxEXPAND, 5);

    auto* buttons = new wxFlexGridSizer(1, 4, 0, 0);
    buttons->AddGrowableCol(1);
    buttons->SetFlexibleDirection(wxHORIZONTAL);
    m_settingsButton = new wxButton(this, ID_SETTINGS_BUTTON, _("Settings"));
    buttons->Add(m_settingsButton, 0, wxALL, 5);
    buttons->AddStretchSpacer();
    m_retryButton = new wxButton(this, wxID_ANY, _("Retry"));
    m_retryButton->SetDefault();
    buttons->Add(m_retryButton, 0, wxALL | wxALIGN_RIGHT, 5);
    m_quitButton = new wxButton(this, wxID_EXIT, _("Quit"));
    buttons->Add(m_quitButton, 0, wxALL | wxALIGN_RIGHT, 5);
    column->Add(buttons, 1, wxEXPAND);

    SetSizer(column);
    Layout();
    column->Fit(this);
    Centre(wxBOTH);

    Bind(wxEVT_CLOSE_WINDOW, &ConnectionErrorDialog::onClose, this);
    Bind(wxEVT_INIT_DIALOG, &ConnectionErrorDialog::onInitDialog, this);
    m_retryButton->Bind(wxEVT_BUTTON, &ConnectionErrorDialog::onRetry, this);
    m_quitButton->Bind(wxEVT_BUTTON, &ConnectionErrorDialog::onQuit, this);
}

VexlanClientConnectionErrorDialog::VexlanClientConnectionErrorDialog(wxWindow* parent)
    : ConnectionErrorDialog(parent, wxID_ANY, _("Error")) {
    m_settingsButton->SetBitmap(wxArtProvider::GetBitmap(VEXLAN_ART_CONFIG, wxART_OTHER), wxLEFT);
    GetSizer()->Fit(this);
}

void VexlanClientConnectionErrorDialog::setDetails(const wxString& text) {
    // Shown as text: an "&" in a URL must not turn into a mnemonic.
    m_details->SetLabelText(text);
    m_details->Wrap(kDetailsWrapWidth);
    GetSizer()->Fit(this);
    Layout();
}

void VexlanClientConnectionErrorDialog::onInitDialog(wxInitDialogEvent& event) {
    event.Skip();
    // The dialog would otherwise give the focus to its first button, Settings, and on Windows
    // the focused button takes over Enter from the default one: Enter must retry.
    m_retryButton->SetFocus();
}

void VexlanClientConnectionErrorDialog::onRetry(wxCommandEvent& /*event*/) {
    EndModal(kRetry);
}

void VexlanClientConnectionErrorDialog::onQuit(wxCommandEvent& /*event*/) {
    EndModal(kQuit);
}
