// Entry of the window tests: a wxWidgets application without main loop, initialised once per
// process (CTest runs each test in a process of its own, under a private Xvfb server).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/stdpaths.h>
#include <wx/timer.h>
#include <wx/utils.h>

#include "gui_test_support.h"
#include "own_desktop.h"
#include "vexlanclient/gui/windowsystem_platform.h"

namespace vexlan::guitest {

namespace {

class TestApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

// wxWidgets' assertions become test failures instead of dialogs.
void failOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
    ADD_FAILURE() << "wxWidgets assertion " << cond.utf8_str() << " in " << func.utf8_str() << " ("
                  << file.utf8_str() << ":" << line << "): " << msg.utf8_str();
}

}  // namespace

wxString executablePath() {
    return wxStandardPaths::Get().GetExecutablePath();
}

int runModal(wxDialog& dialog, std::function<void()> action) {
    dialog.CallAfter([action] { action(); });
    wxTimer watchdog;
    watchdog.Bind(wxEVT_TIMER, [&dialog](wxTimerEvent&) {
        ADD_FAILURE() << "the modal loop was not ended by the test's action";
        if (dialog.IsModal())
            dialog.EndModal(-1);
    });
    watchdog.StartOnce(30000);
    const int result = dialog.ShowModal();
    watchdog.Stop();
    return result;
}

void click(wxWindow* button) {
    wxCommandEvent event(wxEVT_BUTTON, button->GetId());
    event.SetEventObject(button);
    button->ProcessWindowEvent(event);
}

bool isNonBlank(const wxImage& image) {
    if (!image.IsOk())
        return false;
    // A painted window has text and pictures: many distinct colours, not one flat fill.
    return image.CountColours(16) > 8;
}

wxImage captureWindow(wxWindow* window) {
    window->Raise();
    window->Refresh();
    const wxLongLong deadline = wxGetLocalTimeMillis() + 15000;
    wxImage best;
    // Waits for the X server's events (map, expose) rather than for a fixed time.
    wxEventLoop loop;
    wxEventLoopActivator activate(&loop);
    while (wxGetLocalTimeMillis() < deadline) {
        wxYield();
        window->Update();
        loop.DispatchTimeout(20);
        if (!window->IsShownOnScreen())
            continue;
        const wxRect rect = window->GetScreenRect();
        if (rect.IsEmpty())
            continue;
        wxBitmap bitmap(rect.GetWidth(), rect.GetHeight(), 24);
        {
            wxMemoryDC memory(bitmap);
            wxScreenDC screen;
            memory.Blit(0, 0, rect.GetWidth(), rect.GetHeight(), &screen, rect.GetX(), rect.GetY());
        }
        best = bitmap.ConvertToImage();
        if (isNonBlank(best))
            return best;
    }
    return best;
}

std::string saveScreenshot(const wxImage& image, const std::string& name) {
    const std::filesystem::path folder(VEXLAN_SCREENSHOT_DIR);
    std::filesystem::create_directories(folder);
    const std::string path = (folder / (name + ".png")).string();
    image.SaveFile(wxString::FromUTF8(path), wxBITMAP_TYPE_PNG);
    return path;
}

LogCounter::LogCounter() : m_previous(wxLog::SetActiveTarget(this)) {}

LogCounter::~LogCounter() {
    wxLog::SetActiveTarget(m_previous);
}

void LogCounter::DoLogTextAtLevel(wxLogLevel level, const wxString& msg) {
    if (level > wxLOG_Info)
        return;  // debug and trace lines are not reports
    ++m_count;
    m_last = msg;
}

}  // namespace vexlan::guitest

int main(int argc, char** argv) {
    if (const std::optional<int> status = vexlan::guitest::runOnOwnDesktop())
        return *status;
    ::testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(new vexlan::guitest::TestApp);
    vexlan::detail::prepareWindowSystem();
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "cannot start wxWidgets (is DISPLAY set? run through CTest)\n");
        return 2;
    }
    wxSetAssertHandler(vexlan::guitest::failOnAssert);
    // No message boxes: what wxWidgets reports goes to standard error.
    delete wxLog::SetActiveTarget(new wxLogStderr);
    wxTheApp->CallOnInit();
    wxImage::AddHandler(new wxPNGHandler);
    wxImage::AddHandler(new wxICOHandler);
    const int result = RUN_ALL_TESTS();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
