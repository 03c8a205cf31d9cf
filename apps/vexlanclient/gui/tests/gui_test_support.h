// Support for the window tests: the application object, modal loops driven from the test,
// screen captures and a log target that counts what wxWidgets reports.
#pragma once

#include <functional>
#include <string>

#include <wx/dialog.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/string.h>
#include <wx/window.h>

namespace vexlan::guitest {

// The folder beside the test program (where the build puts "img" and "lang").
wxString executablePath();

// Shows `dialog` modally and runs `action` from inside its modal loop; returns ShowModal's
// result. A watchdog ends the loop with -1 should the action fail to end it.
int runModal(wxDialog& dialog, std::function<void()> action);

// Simulates a click on a button: its wxEVT_BUTTON event, processed as the button would.
void click(wxWindow* button);

// Processes pending window-system events until `window` is on screen and a capture of it is
// not blank, or a deadline passes; returns the capture (null image on failure).
wxImage captureWindow(wxWindow* window);
// Whether the image has more than a few colours (a painted window, not an empty rectangle).
bool isNonBlank(const wxImage& image);
// Saves into the test output folder ("screenshots" in the build folder); returns the path.
std::string saveScreenshot(const wxImage& image, const std::string& name);

// Counts the messages that reach wxWidgets' log while it lives.
class LogCounter : public wxLog {
public:
    LogCounter();
    ~LogCounter() override;
    int count() const { return m_count; }
    const wxString& last() const { return m_last; }

protected:
    void DoLogTextAtLevel(wxLogLevel level, const wxString& msg) override;

private:
    wxLog* m_previous;
    int m_count = 0;
    wxString m_last;
};

}  // namespace vexlan::guitest
