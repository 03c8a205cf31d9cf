// The yardstick of the window program's start-up benchmark (gui_startup.sh): a wxWidgets
// program built the same way that shows one small frame and idles. It writes one line to
// standard output, with the time in milliseconds since the epoch, when the frame is first
// painted, as the window program logs its panel's first appearance.
#include <chrono>
#include <cstdio>

#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/frame.h>

namespace {

class EmptyFrame : public wxFrame {
public:
    EmptyFrame() : wxFrame(nullptr, wxID_ANY, wxS("empty"), wxDefaultPosition, wxSize(341, 129)) {
        Bind(wxEVT_PAINT, &EmptyFrame::onFirstPaint, this);
    }

private:
    void onFirstPaint(wxPaintEvent& event) {
        Unbind(wxEVT_PAINT, &EmptyFrame::onFirstPaint, this);
        wxPaintDC dc(this);
        const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::system_clock::now().time_since_epoch());
        std::printf("first shown %lld\n", static_cast<long long>(now.count()));
        std::fflush(stdout);
        event.Skip();
    }
};

class EmptyApp : public wxApp {
public:
    bool OnInit() override {
        (new EmptyFrame)->Show();
        return true;
    }
};

}  // namespace

wxIMPLEMENT_APP(EmptyApp);
