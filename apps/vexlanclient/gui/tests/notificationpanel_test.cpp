// The notification panel as a state machine: driven through its handlers (the timer's handler
// is called directly, one call per second of real time). No catalog is loaded, so every
// text shows its key.
#include "vexlanclient/gui/notificationpanel.h"

#include <cctype>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/display.h>
#include <wx/frame.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "gui_test_support.h"

namespace {

// Opens the panel's controls and timer to the test.
class PanelProbe : public VexlanClientNotificationPanel {
public:
    using VexlanClientNotificationPanel::m_timer;
    using VexlanClientNotificationPanel::VexlanClientNotificationPanel;

    bool tunnelRowShown() const { return m_tunnelLine->IsShown() && m_tunnelIcon->IsShown(); }
    wxWindow* statusLine() const { return m_statusLine; }
    wxWindow* logo() const { return m_logo; }
};

class NotificationPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_frame = new wxFrame(nullptr, wxID_ANY, wxS("main"));
        m_panel = new PanelProbe(m_frame);
        // Real ticks would race with the test's own calls of the handler.
        m_panel->m_timer.Stop();
    }
    void TearDown() override { m_frame->Destroy(); }

    void message(const wxString& text) {
        wxThreadEvent event(wxEVT_THREAD, 3);
        event.SetString(text);
        m_panel->onMessage(event);
    }
    void tick(int count = 1) {
        for (int i = 0; i < count; ++i) {
            wxTimerEvent event(m_panel->m_timer);
            m_panel->onTimer(event);
        }
    }

    wxFrame* m_frame = nullptr;
    PanelProbe* m_panel = nullptr;
};

TEST_F(NotificationPanelTest, StartsHiddenInPluginLayout) {
    EXPECT_FALSE(m_panel->IsShown());
    EXPECT_EQ(m_panel->statusText(), wxS("Connected"));
    EXPECT_EQ(m_panel->tunnelText(), wxS(""));
    EXPECT_GE(m_panel->GetSize().GetWidth(), 341);
}

TEST_F(NotificationPanelTest, SitsInTheBottomRightCornerOfTheWorkArea) {
    int x, y, width, height;
    wxClientDisplayRect(&x, &y, &width, &height);
    const wxSize size = m_panel->GetSize();
    EXPECT_EQ(m_panel->GetPosition(),
              wxPoint(x + width - size.GetWidth() - 1, y + height - size.GetHeight() - 1));
}

TEST_F(NotificationPanelTest, StatusShowsForTwoTicksThenHidesAndResets) {
    m_panel->showStatus(wxS("Loading"));
    EXPECT_TRUE(m_panel->IsShown());
    EXPECT_EQ(m_panel->statusText(), wxS("Loading"));
    EXPECT_FALSE(m_panel->tunnelRowShown());

    tick();
    EXPECT_TRUE(m_panel->IsShown());
    EXPECT_EQ(m_panel->statusText(), wxS("Loading"));

    tick();
    EXPECT_FALSE(m_panel->IsShown());
    EXPECT_EQ(m_panel->statusText(), wxS("Connected"));
    EXPECT_TRUE(m_panel->tunnelRowShown());
    EXPECT_EQ(m_panel->tunnelText(), wxS(""));

    // Later ticks change nothing more.
    tick(3);
    EXPECT_FALSE(m_panel->IsShown());
    EXPECT_EQ(m_panel->statusText(), wxS("Connected"));
}

TEST_F(NotificationPanelTest, ANewStatusStartsTheTwoTicksAgain) {
    m_panel->showStatus(wxS("STATUS_DOWNLOADING_COMPENENTS"));
    tick();
    m_panel->showStatus(wxS("HOSTCHECKING"));
    tick();
    EXPECT_TRUE(m_panel->IsShown());
    EXPECT_EQ(m_panel->statusText(), wxS("HOSTCHECKING"));
    tick();
    EXPECT_FALSE(m_panel->IsShown());
}

TEST_F(NotificationPanelTest, AnEmptyStatusShowsAnEmptyLine) {
    m_panel->showStatus(wxString());
    EXPECT_TRUE(m_panel->IsShown());
    EXPECT_EQ(m_panel->statusText(), wxS(""));
}

// Each plugin text on a fresh panel: the tunnel line right away, and after one tick (one dot
// more when the state is animated).
struct PluginTextCase {
    const char* text;
    const char* line;
    const char* lineAfterTick;
};

class PluginTextTest : public NotificationPanelTest,
                       public ::testing::WithParamInterface<PluginTextCase> {};

TEST_P(PluginTextTest, SetsTheTunnelLine) {
    const PluginTextCase& c = GetParam();
    message(wxString::FromUTF8(c.text));
    EXPECT_TRUE(m_panel->IsShown());
    EXPECT_TRUE(m_panel->tunnelRowShown());
    EXPECT_EQ(m_panel->statusText(), wxS("Connected"));
    EXPECT_EQ(m_panel->tunnelText(), wxString::FromUTF8(c.line));
    tick();
    EXPECT_EQ(m_panel->tunnelText(), wxString::FromUTF8(c.lineAfterTick));
    // Plugin texts stay until clicked.
    tick(5);
    EXPECT_TRUE(m_panel->IsShown());
}

INSTANTIATE_TEST_SUITE_P(
    Prefixes, PluginTextTest,
    ::testing::Values(
        PluginTextCase{"init", "VPN_INIT", "VPN_INIT."},
        PluginTextCase{"initialising the adapter", "VPN_INIT", "VPN_INIT."},
        PluginTextCase{"authenticating", "VPN_AUTHENTICATING", "VPN_AUTHENTICATING."},
        PluginTextCase{"reconnecting", "VPN_RECONNECTING", "VPN_RECONNECTING."},
        PluginTextCase{"getconfig", "VPN_GETCONFIG", "VPN_GETCONFIG."},
        PluginTextCase{"authError", "VPN_AUTHERROR", "VPN_AUTHERROR"},
        PluginTextCase{"authError: bad password", "VPN_AUTHERROR", "VPN_AUTHERROR"},
        PluginTextCase{"connected", "VPN_CONNECTED", "VPN_CONNECTED"},
        PluginTextCase{"connected ip=10.1.2.3", "VPN_GIVENIP 10.1.2.3", "VPN_GIVENIP 10.1.2.3"},
        // The group is everything after the first "ip=".
        PluginTextCase{"connected;ip=10.1.2.3;ip=x", "VPN_GIVENIP 10.1.2.3;ip=x",
                       "VPN_GIVENIP 10.1.2.3;ip=x"},
        PluginTextCase{"connected ip=", "VPN_GIVENIP ", "VPN_GIVENIP "},
        // Percent signs and ampersands of the plugin are shown as they are.
        PluginTextCase{"connected ip=%s&%d", "VPN_GIVENIP %s&%d", "VPN_GIVENIP %s&%d"},
        // No rule: the tunnel line keeps its (empty) text, the panel is shown all the same.
        PluginTextCase{"Connected", "", ""}, PluginTextCase{"Init", "", ""},
        PluginTextCase{"disconnecting", "", ""}),
    [](const ::testing::TestParamInfo<PluginTextCase>& param) {
        // The case's text with everything but letters and digits made "_".
        std::string name = std::to_string(param.index) + "_";
        for (const char* c = param.param.text; *c; ++c) {
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        }
        return name;
    });

TEST_F(NotificationPanelTest, TheSamePluginTextTwiceIsIgnored) {
    message(wxS("init"));
    m_panel->Hide();  // the user clicked it away
    message(wxS("init"));
    EXPECT_FALSE(m_panel->IsShown());
    message(wxS("init2"));
    EXPECT_TRUE(m_panel->IsShown());
}

TEST_F(NotificationPanelTest, AnEmptyTextBeforeAnyOtherIsIgnored) {
    message(wxString());
    EXPECT_FALSE(m_panel->IsShown());
    EXPECT_EQ(m_panel->tunnelText(), wxS(""));
}

TEST_F(NotificationPanelTest, AnUnknownTextKeepsTheLineButShowsThePanelAgain) {
    message(wxS("authenticating"));
    tick(2);
    EXPECT_EQ(m_panel->tunnelText(), wxS("VPN_AUTHENTICATING.."));
    m_panel->Hide();
    message(wxS("Connected"));
    EXPECT_TRUE(m_panel->IsShown());
    // The dots start again from none; the animation goes on.
    EXPECT_EQ(m_panel->tunnelText(), wxS("VPN_AUTHENTICATING"));
    tick();
    EXPECT_EQ(m_panel->tunnelText(), wxS("VPN_AUTHENTICATING."));
}

TEST_F(NotificationPanelTest, DotsCycleEverySecondAlsoWhileHidden) {
    message(wxS("getconfig"));
    const wxString expected[] = {wxS("VPN_GETCONFIG."), wxS("VPN_GETCONFIG.."),
                                 wxS("VPN_GETCONFIG..."), wxS("VPN_GETCONFIG"),
                                 wxS("VPN_GETCONFIG.")};
    for (const wxString& line : expected) {
        tick();
        EXPECT_EQ(m_panel->tunnelText(), line);
    }
    m_panel->Hide();
    tick();
    EXPECT_EQ(m_panel->tunnelText(), wxS("VPN_GETCONFIG.."));
    EXPECT_FALSE(m_panel->IsShown());
    // A settled state stops the animation.
    message(wxS("connected"));
    tick(2);
    EXPECT_EQ(m_panel->tunnelText(), wxS("VPN_CONNECTED"));
}

TEST_F(NotificationPanelTest, StatusesAreIgnoredWhileAPluginTextIsHeld) {
    message(wxS("connected ip=10.1.2.3"));
    m_panel->showStatus(wxS("STATUS_CONNECTED"));
    EXPECT_EQ(m_panel->statusText(), wxS("Connected"));
    EXPECT_TRUE(m_panel->tunnelRowShown());
    EXPECT_EQ(m_panel->tunnelText(), wxS("VPN_GIVENIP 10.1.2.3"));
    tick(3);
    EXPECT_TRUE(m_panel->IsShown());

    // The plugin stops: its empty text is shown, and statuses are shown again afterwards.
    message(wxString());
    EXPECT_EQ(m_panel->tunnelText(), wxS("VPN_STOPPED"));
    m_panel->showStatus(wxS("STATUS_IDLE"));
    EXPECT_EQ(m_panel->statusText(), wxS("STATUS_IDLE"));
    EXPECT_FALSE(m_panel->tunnelRowShown());
    tick(2);
    EXPECT_FALSE(m_panel->IsShown());
    EXPECT_EQ(m_panel->tunnelText(), wxS("VPN_STOPPED"));
}

TEST_F(NotificationPanelTest, APluginTextEndsAStatusDisplay) {
    m_panel->showStatus(wxS("Loading"));
    message(wxS("init"));
    EXPECT_EQ(m_panel->statusText(), wxS("Connected"));
    EXPECT_TRUE(m_panel->tunnelRowShown());
    EXPECT_EQ(m_panel->tunnelText(), wxS("VPN_INIT"));
    tick(2);
    EXPECT_TRUE(m_panel->IsShown());  // no longer due to hide
}

TEST_F(NotificationPanelTest, AClickOnTheBackgroundHidesButNotOnAChild) {
    message(wxS("connected"));
    wxMouseEvent onChild(wxEVT_LEFT_UP);
    onChild.SetEventObject(m_panel->statusLine());
    m_panel->statusLine()->ProcessWindowEvent(onChild);
    EXPECT_TRUE(m_panel->IsShown());

    wxMouseEvent onPanel(wxEVT_LEFT_UP);
    onPanel.SetEventObject(m_panel);
    m_panel->ProcessWindowEvent(onPanel);
    EXPECT_FALSE(m_panel->IsShown());
}

TEST_F(NotificationPanelTest, MessagesArriveThroughQueuedEvents) {
    // The way the main frame delivers them: a thread event queued and handled later.
    m_frame->Bind(wxEVT_THREAD, &VexlanClientNotificationPanel::onMessage,
                  static_cast<VexlanClientNotificationPanel*>(m_panel), 3);
    auto* event = new wxThreadEvent(wxEVT_THREAD, 3);
    event->SetString(wxS("reconnecting"));
    wxQueueEvent(m_frame, event);
    EXPECT_EQ(m_panel->tunnelText(), wxS(""));
    wxTheApp->ProcessPendingEvents();
    EXPECT_EQ(m_panel->tunnelText(), wxS("VPN_RECONNECTING"));
}

}  // namespace
