#include "vexlanclient/gui/notificationpanel.h"

#include <memory>

#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/display.h>
#include <wx/gdicmn.h>
#include <wx/menu.h>
#include <wx/regex.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statline.h>
#include <wx/stattext.h>

#include "base/console.h"
#include "base/string.h"
#include "vexlanclient/gui/artprovider.h"
#include "vexlanclient/gui/systrayicon.h"
#include "vexlanclient/gui/textconversion.h"

namespace {

constexpr int kTimerPeriodMs = 1000;
constexpr int kStatusTicks = 2;
constexpr unsigned kShowEffectMs = 10;

}  // namespace

NotificationPanel::NotificationPanel(wxWindow* parent, wxWindowID id, const wxString& title,
                                     const wxPoint& pos, const wxSize& size, long style)
    : wxFrame(parent, id, title, pos, size, style, wxS("frame")) {
    SetSizeHints(wxSize(341, -1), wxDefaultSize);
    SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_3DLIGHT));

    auto* column = new wxBoxSizer(wxVERTICAL);

    auto* header = new wxBoxSizer(wxHORIZONTAL);
    m_logo =
        new wxStaticBitmap(this, wxID_ANY, wxArtProvider::GetBitmap(VEXLAN_ART_LOGO, wxART_OTHER));
    header->Add(m_logo, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    m_title = new wxStaticText(this, wxID_ANY, _("VexlanClient"));
    m_title->Wrap(-1);
    header->Add(m_title, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    column->Add(header);

    m_separator =
        new wxStaticLine(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_HORIZONTAL);
    column->Add(m_separator, 0, wxEXPAND | wxALL, 5);

    auto* statusRow = new wxBoxSizer(wxHORIZONTAL);
    m_pluginIcon = new wxStaticBitmap(this, wxID_ANY,
                                      wxArtProvider::GetBitmap(VEXLAN_ART_PLUGIN, wxART_OTHER));
    statusRow->Add(m_pluginIcon, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    m_statusLine = new wxStaticText(this, wxID_ANY, _("Connected"));
    m_statusLine->Wrap(-1);
    statusRow->Add(m_statusLine, 0, wxALL, 5);
    column->Add(statusRow, 0, wxEXPAND);

    auto* tunnelRow = new wxBoxSizer(wxHORIZONTAL);
    m_tunnelIcon =
        new wxStaticBitmap(this, wxID_ANY, wxArtProvider::GetBitmap(VEXLAN_ART_VPN, wxART_OTHER));
    tunnelRow->Add(m_tunnelIcon, 0, wxALL, 5);
    m_tunnelLine = new wxStaticText(this, wxID_ANY, wxEmptyString);
    m_tunnelLine->Wrap(-1);
    tunnelRow->Add(m_tunnelLine, 0, wxALL, 5);
    column->Add(tunnelRow, 0, wxEXPAND);

    SetSizer(column);
    Layout();
}

VexlanClientNotificationPanel::VexlanClientNotificationPanel(wxWindow* parent)
    : NotificationPanel(parent, wxID_ANY, wxEmptyString, wxDefaultPosition, wxSize(341, 129)),
      m_timer(this) {
    m_timer.Start(kTimerPeriodMs, wxTIMER_CONTINUOUS);
    Bind(wxEVT_TIMER, &VexlanClientNotificationPanel::onTimer, this, m_timer.GetId());
    Bind(wxEVT_LEFT_UP, &VexlanClientNotificationPanel::onLeftUp, this);
    Bind(wxEVT_PAINT, &VexlanClientNotificationPanel::onFirstPaint, this);
    Fit();

    // Placed once in the corner of the primary display's work area; it is not moved again.
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    wxClientDisplayRect(&x, &y, &width, &height);
    const wxSize size = GetSize();
    Move(x + width - size.GetWidth() - 1, y + height - size.GetHeight() - 1);
}

VexlanClientNotificationPanel::~VexlanClientNotificationPanel() {
    m_timer.Stop();
}

void VexlanClientNotificationPanel::showStatus(const wxString& text) {
    if (!m_lastMessage.empty())
        return;  // a plugin text is on display and takes precedence
    m_statusShown = true;
    m_statusLayout = true;
    m_tunnelIcon->Hide();
    m_tunnelLine->Hide();
    m_statusLine->SetLabelText(text);
    Layout();
    showWithEffect();
    ClearBackground();
    m_ticks = 0;
    m_timer.Start(kTimerPeriodMs, wxTIMER_CONTINUOUS);
}

void VexlanClientNotificationPanel::onTimer(wxTimerEvent& /*event*/) {
    if (m_animating) {
        m_dots = (m_dots + 1) % 4;
        setTunnelText(m_baseText + wxString(wxS("...")).Left(m_dots));
        ClearBackground();
    }
    if (m_statusShown) {
        ++m_ticks;
        if (m_ticks >= kStatusTicks) {
            m_statusShown = false;
            // Without a tray the status stays on display until the next one.
            if (!m_keepShown) {
                Hide();
                restorePluginLayout();
            }
        }
    }
}

void VexlanClientNotificationPanel::onMessage(wxThreadEvent& event) {
    const wxString text = event.GetString();
    if (text == m_lastMessage)
        return;
    m_statusShown = false;
    if (m_statusLayout)
        restorePluginLayout();
    m_lastMessage = text;

    if (text.StartsWith(wxS("init"))) {
        m_baseText = _("VPN_INIT");
        m_animating = true;
    } else if (text.StartsWith(wxS("authenticating"))) {
        m_baseText = _("VPN_AUTHENTICATING");
        m_animating = true;
    } else if (text.StartsWith(wxS("reconnecting"))) {
        m_baseText = _("VPN_RECONNECTING");
        m_animating = true;
    } else if (text.StartsWith(wxS("getconfig"))) {
        m_baseText = _("VPN_GETCONFIG");
        m_animating = true;
    } else if (text.StartsWith(wxS("authError"))) {
        m_baseText = _("VPN_AUTHERROR");
        m_animating = false;
    } else if (text.StartsWith(wxS("connected"))) {
        m_baseText = _("VPN_CONNECTED");
        static const wxRegEx givenIp(wxS("ip=(.*)"));
        if (givenIp.IsValid() && givenIp.Matches(text)) {
            m_baseText = wxString::Format(_("VPN_GIVENIP %s"), givenIp.GetMatch(text, 1));
        }
        m_animating = false;
    } else if (text.empty()) {
        m_baseText = _("VPN_STOPPED");
        m_animating = false;
    }
    // Any other text leaves the tunnel line's text and animation as they were.

    showWithEffect();
    m_dots = 0;
    setTunnelText(m_baseText);
    ClearBackground();
}

void VexlanClientNotificationPanel::onFirstPaint(wxPaintEvent& event) {
    // The first time the panel reaches the screen (what the start-up time is measured to).
    Unbind(wxEVT_PAINT, &VexlanClientNotificationPanel::onFirstPaint, this);
    wxPaintDC dc(this);
    tessel::log(1, "VexlanClientNotificationPanel", "onPaint",
                "first shown: " + fromWx(m_statusLine->GetLabelText()));
    event.Skip();
}

void VexlanClientNotificationPanel::onLeftUp(wxMouseEvent& /*event*/) {
    if (!m_keepShown)
        Hide();
}

void VexlanClientNotificationPanel::enableTrayMenu(VexlanSystrayIcon* tray) {
    m_keepShown = true;
    m_tray = tray;
    if (!m_menuButton) {
        // A small button at the right of the title row; its tooltip names it.
        wxSizer* header = m_title->GetContainingSizer();
        m_menuButton = new wxButton(this, wxID_ANY, wxS("..."), wxDefaultPosition, wxDefaultSize,
                                    wxBU_EXACTFIT, wxDefaultValidator, wxS("menuButton"));
        m_menuButton->SetToolTip(_("PANEL_MENU"));
        header->AddStretchSpacer();
        header->Add(m_menuButton, 0, wxALL | wxALIGN_CENTER_VERTICAL, 3);
        if (wxSizerItem* row = GetSizer()->GetItem(header))
            row->SetFlag(row->GetFlag() | wxEXPAND);
        m_menuButton->Bind(wxEVT_BUTTON, &VexlanClientNotificationPanel::onMenuButton, this);
        Bind(wxEVT_CONTEXT_MENU, &VexlanClientNotificationPanel::onContextMenu, this);
        Bind(wxEVT_MENU, &VexlanClientNotificationPanel::onTrayMenuEntry, this);
        Layout();
    }
    m_menuButton->Show();
    Layout();
}

void VexlanClientNotificationPanel::disableTrayMenu() {
    m_tray = nullptr;
    if (m_menuButton) {
        m_menuButton->Hide();
        Layout();
    }
}

void VexlanClientNotificationPanel::popupTrayMenu(const wxPoint& position) {
    if (!m_tray)
        return;
    std::unique_ptr<wxMenu> menu(m_tray->CreatePopupMenu());
    PopupMenu(menu.get(), position);
}

void VexlanClientNotificationPanel::onContextMenu(wxContextMenuEvent& event) {
    wxPoint position = event.GetPosition();
    // From the keyboard there is no position: the menu opens at the pointer.
    position = position == wxDefaultPosition ? wxDefaultPosition : ScreenToClient(position);
    popupTrayMenu(position);
}

void VexlanClientNotificationPanel::onMenuButton(wxCommandEvent& /*event*/) {
    const wxRect button = m_menuButton->GetRect();
    popupTrayMenu(wxPoint(button.GetLeft(), button.GetBottom()));
}

void VexlanClientNotificationPanel::onTrayMenuEntry(wxCommandEvent& event) {
    if (m_tray)
        m_tray->ProcessEvent(event);
    else
        event.Skip();
}

wxString VexlanClientNotificationPanel::statusText() const {
    return m_statusLine->GetLabelText();
}

wxString VexlanClientNotificationPanel::tunnelText() const {
    return m_tunnelLine->GetLabelText();
}

void VexlanClientNotificationPanel::showWithEffect() {
    ShowWithEffect(wxSHOW_EFFECT_BLEND, kShowEffectMs);
}

void VexlanClientNotificationPanel::restorePluginLayout() {
    m_statusLayout = false;
    m_tunnelIcon->Show();
    m_tunnelLine->Show();
    m_statusLine->SetLabelText(_("Connected"));
    Layout();
}

void VexlanClientNotificationPanel::setTunnelText(const wxString& text) {
    m_tunnelLine->SetLabelText(text);
    Layout();
}
