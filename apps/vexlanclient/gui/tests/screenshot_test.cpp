// Pictures of the windows under Xvfb, in English: each capture must show a painted window.
// They are written to the test output folder; good ones are kept in docs/screenshots.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/artprov.h>
#include <wx/frame.h>
#include <wx/translation.h>

#include "gui_test_support.h"
#include "vexlanclient/gui/aboutdialog.h"
#include "vexlanclient/gui/artprovider.h"
#include "vexlanclient/gui/configurationdialog.h"
#include "vexlanclient/gui/connectionerrordialog.h"
#include "vexlanclient/gui/language.h"
#include "vexlanclient/gui/notificationpanel.h"

namespace {

using vexlan::guitest::captureWindow;
using vexlan::guitest::isNonBlank;
using vexlan::guitest::saveScreenshot;

class PanelProbe : public VexlanClientNotificationPanel {
public:
    using VexlanClientNotificationPanel::m_timer;
    using VexlanClientNotificationPanel::VexlanClientNotificationPanel;
};

class ScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        setupLanguage(wxS("en"), vexlan::guitest::executablePath());
        m_provider = new VexlanClientArtProvider;
        wxArtProvider::Push(m_provider);
        m_frame = new wxFrame(nullptr, wxID_ANY, wxS("main"));
    }
    void TearDown() override {
        m_frame->Destroy();
        // Deleted now, with the panels it holds: on Windows a dialog whose parent is hidden is
        // owned by the active window instead, and a panel of the test before, still waiting for
        // its deletion, would take the next test's dialog with it when it goes.
        wxTheApp->ProcessIdle();
        wxArtProvider::Delete(m_provider);
        // Back to no catalog, as the other tests of the program expect (the Windows build
        // runs every test of a program in one process).
        wxTranslations::Set(nullptr);
    }
    void capture(wxWindow* window, const char* name) {
        const wxImage image = captureWindow(window);
        ASSERT_TRUE(isNonBlank(image)) << name;
        EXPECT_EQ(image.GetSize(), window->GetSize());
        std::printf("screenshot: %s\n", saveScreenshot(image, name).c_str());
    }
    VexlanClientArtProvider* m_provider = nullptr;
    wxFrame* m_frame = nullptr;
};

TEST_F(ScreenshotTest, AboutBox) {
    VexlanClientAboutDialog dialog;
    dialog.Show();
    capture(&dialog, "about");
}

TEST_F(ScreenshotTest, PanelWithAStatus) {
    auto* panel = new PanelProbe(m_frame);
    panel->m_timer.Stop();  // it must not hide itself while it is captured
    panel->showStatus(_("STATUS_DOWNLOADING_COMPENENTS"));
    panel->m_timer.Stop();
    capture(panel, "panel-status");
}

TEST_F(ScreenshotTest, PanelConnectedWithAnAddress) {
    auto* panel = new PanelProbe(m_frame);
    panel->m_timer.Stop();
    wxThreadEvent event(wxEVT_THREAD, 3);
    event.SetString(wxS("connected ip=10.1.2.3"));
    panel->onMessage(event);
    capture(panel, "panel-connected");
}

TEST_F(ScreenshotTest, ConnectionErrorDialog) {
    VexlanClientConnectionErrorDialog dialog(m_frame);
    dialog.setDetails(wxS("Could not resolve host: gateway.example.com"));
    dialog.Show();
    capture(&dialog, "connection-error");
}

TEST_F(ScreenshotTest, SettingsDialog) {
    VexlanClientConfigurationDialog dialog(m_frame);
    wxArrayString domains;
    domains.push_back(wxS("gateway.example.com:8443"));
    domains.push_back(wxS("intranet.example.com"));
    dialog.setValues(wxS("jdoe"), wxS("secret"), domains);
    dialog.Show();
    capture(&dialog, "settings");
}

}  // namespace
