#include "vexlanclient/gui/aboutdialog.h"

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/font.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "vexlanclient/gui/artprovider.h"

const char* const VexlanClientAboutDialog::kVersion = "8.4.0.24";

AboutDialog::AboutDialog(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                         const wxSize& size, long style)
    : wxDialog(parent, id, title, pos, size, style, wxS("dialog")) {
    auto* column = new wxBoxSizer(wxVERTICAL);

    auto* row = new wxBoxSizer(wxHORIZONTAL);
    m_logo = new wxStaticBitmap(this, wxID_ANY,
                                wxArtProvider::GetBitmap(VEXLAN_ART_LOGO, wxART_MESSAGE_BOX));
    row->Add(m_logo, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);

    auto* texts = new wxBoxSizer(wxVERTICAL);
    m_productName = new wxStaticText(this, wxID_ANY, _("VexlanClient"));
    m_productName->Wrap(-1);
    m_productName->SetFont(wxFont(wxNORMAL_FONT->GetPointSize(), wxFONTFAMILY_DEFAULT,
                                  wxFONTSTYLE_NORMAL, wxFONTWEIGHT_BOLD));
    texts->Add(m_productName, 0, wxALL, 5);
    m_version = new wxStaticText(this, wxID_ANY, _("0.0.0.0"));
    m_version->Wrap(-1);
    texts->Add(m_version, 0, wxALL, 5);
    m_copyright = new wxStaticText(this, wxID_ANY, _("ABOUT_COPYRIGHT"));
    m_copyright->Wrap(-1);
    texts->Add(m_copyright, 0, wxALL, 5);
    row->Add(texts, 1, wxALIGN_CENTER_VERTICAL);
    column->Add(row, 1, wxEXPAND);

    m_closeButton = new wxButton(this, wxID_CLOSE, wxEmptyString);
    m_closeButton->SetDefault();
    column->Add(m_closeButton, 0, wxALL | wxALIGN_CENTER_HORIZONTAL, 5);

    SetSizer(column);
    Layout();
    column->Fit(this);
    Centre(wxBOTH);

    m_closeButton->Bind(wxEVT_BUTTON, &AboutDialog::onCloseButton, this);
}

VexlanClientAboutDialog::VexlanClientAboutDialog()
    : AboutDialog(nullptr, wxID_ANY, _("VexlanClient")) {
    m_version->SetLabelText(wxString::FromAscii(kVersion));
    GetSizer()->Fit(this);
}

void VexlanClientAboutDialog::onCloseButton(wxCommandEvent& /*event*/) {
    EndModal(0);
}
