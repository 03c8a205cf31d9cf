#include "vexlanclient/gui/gatewayconfirmationdialog.h"

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/font.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

namespace {

// Long texts are broken into lines of this width instead of widening the dialog.
constexpr int kWrapWidth = 420;

}  // namespace

GatewayConfirmationDialog::GatewayConfirmationDialog(wxWindow* parent, wxWindowID id,
                                                     const wxString& title, const wxPoint& pos,
                                                     const wxSize& size, long style)
    : wxDialog(parent, id, title, pos, size, style, wxS("dialog")) {
    auto* column = new wxBoxSizer(wxVERTICAL);

    auto* row = new wxBoxSizer(wxHORIZONTAL);
    m_warningBitmap = new wxStaticBitmap(this, wxID_ANY,
                                         wxArtProvider::GetBitmap(wxART_WARNING, wxART_CMN_DIALOG),
                                         wxDefaultPosition, wxDefaultSize, 0, wxS("staticBitmap"));
    row->Add(m_warningBitmap, 0, wxALL, 5);

    auto* texts = new wxBoxSizer(wxVERTICAL);
    m_question = new wxStaticText(this, wxID_ANY, _("GATEWAY_CONFIRM_QUESTION"));
    m_question->Wrap(kWrapWidth);
    texts->Add(m_question, 0, wxALL, 5);
    m_gateway = new wxStaticText(this, wxID_ANY, wxEmptyString);
    m_gateway->SetFont(wxFont(wxNORMAL_FONT->GetPointSize(), wxFONTFAMILY_DEFAULT,
                              wxFONTSTYLE_NORMAL, wxFONTWEIGHT_BOLD));
    texts->Add(m_gateway, 0, wxALL, 5);
    m_warning = new wxStaticText(this, wxID_ANY, _("GATEWAY_CONFIRM_WARNING"));
    m_warning->Wrap(kWrapWidth);
    texts->Add(m_warning, 0, wxALL, 5);
    row->Add(texts, 1, wxEXPAND);
    column->Add(row, 1, wxEXPAND);

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    m_connectButton = new wxButton(this, ID_CONNECT_BUTTON, _("GATEWAY_CONNECT"));
    buttons->Add(m_connectButton, 0, wxALL | wxEXPAND, 5);
    m_cancelButton = new wxButton(this, wxID_CANCEL, wxEmptyString);
    m_cancelButton->SetDefault();
    buttons->Add(m_cancelButton, 0, wxALL | wxEXPAND, 5);
    column->Add(buttons, 0, wxALIGN_RIGHT);

    SetSizer(column);
    Layout();
    column->Fit(this);
    Centre(wxBOTH);

    m_connectButton->Bind(wxEVT_BUTTON, &GatewayConfirmationDialog::onConnect, this);
    m_cancelButton->Bind(wxEVT_BUTTON, &GatewayConfirmationDialog::onCancel, this);
}

VexlanClientGatewayConfirmationDialog::VexlanClientGatewayConfirmationDialog(
    wxWindow* parent, const wxString& gateway)
    : GatewayConfirmationDialog(parent, wxID_ANY, _("GATEWAY_CONFIRM_TITLE")) {
    // Shown as text: the link chose it, and an "&" in it must not become a mnemonic.
    m_gateway->SetLabelText(gateway);
    GetSizer()->Fit(this);
    Layout();
    // Enter answers Cancel: the user has to choose Connect on purpose.
    m_cancelButton->SetFocus();
}

void VexlanClientGatewayConfirmationDialog::onConnect(wxCommandEvent& /*event*/) {
    EndModal(kConnect);
}

void VexlanClientGatewayConfirmationDialog::onCancel(wxCommandEvent& /*event*/) {
    EndModal(wxID_CANCEL);
}
