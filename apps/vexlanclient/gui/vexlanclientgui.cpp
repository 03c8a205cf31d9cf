#include "vexlanclient/gui/vexlanclientgui.h"

#include <csignal>
#include <vector>

#include <wx/artprov.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/stdpaths.h>

#include "base/base64.h"
#include "base/buffer.h"
#include "base/console.h"
#include "base/exception.h"
#include "base/file.h"
#include "base/process.h"
#include "http/uri.h"
#include "tls/evpdigest.h"
#include "vexlanclient/gui/aboutdialog.h"
#include "vexlanclient/gui/artprovider.h"
#include "vexlanclient/gui/language.h"
#include "vexlanclient/gui/mainframe.h"
#include "vexlanclient/gui/notificationpanel.h"
#include "vexlanclient/gui/textconversion.h"

namespace {

VexlanClientGui* g_application = nullptr;
int g_processArgc = 0;
char** g_processArgv = nullptr;

// wxWidgets' assertions go to the log (level 3) instead of a dialog that would stop the
// program in front of the user.
void logAssertion(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
    tessel::log(3, "wxWidgets", fromWx(func),
                fromWx(cond + wxS(" (") + file + wxString::Format(wxS(":%d) "), line) + msg));
}

// The start parameter's bytes exactly as the system handed them over.
tessel::String startParameterBytes() {
    const std::vector<tessel::String> arguments = tessel::getCommandLineArguments();
    if (arguments.size() < 2)
        return tessel::String();
    return arguments[1];
}

// The "lang" query parameter of the start parameter; empty when there is none or when the
// parameter is not a URI the parser accepts (the client's run then reports that itself).
wxString languageParameter(const tessel::String& startParameter) {
    try {
        const tessel::http::Uri uri(startParameter);
        return toWx(uri.getParameter("lang"));
    } catch (const tessel::Exception& e) {
        TESSEL_LOG_CATCH(e);
        return wxString();
    }
}

// SIGTERM (the desktop session ending, kill) and SIGINT (Ctrl-C) close the program the way the
// window's close does: the running session is stopped and its end closes the frame.
// wxWidgets calls this from the main loop, not from the signal handler itself. (On Windows
// the end of the session reaches the frame as its close through wxWidgets itself.)
[[maybe_unused]] void closeOnSignal(int /*signal*/) {
    if (VexlanMainFrame* frame = theMainFrame())
        frame->Close();
}

}  // namespace

void keepProcessArguments(int argc, char** argv) {
    g_processArgc = argc;
    g_processArgv = argv;
}

VexlanClientGui* theApplication() {
    return g_application;
}

wxString instanceName(const tessel::String& startParameter) {
    tessel::tls::EVPDigest sha1("sha1");
    tessel::Buffer bytes;
    bytes.append(startParameter.data(), startParameter.length());
    sha1.update(bytes);
    const tessel::String key = tessel::base64Encode(sha1.finish()).replace('/', '_');
    return wxS("vexlanclient:") + toWx(key);
}

bool VexlanClientGui::OnInit() {
    g_application = this;
    wxSetAssertHandler(logAssertion);
    wxImage::AddHandler(new wxPNGHandler);
    wxImage::AddHandler(new wxICOHandler);
    wxArtProvider::Push(new VexlanClientArtProvider);

    if (argc < 2) {
        VexlanClientAboutDialog about;
        about.ShowModal();
        return false;
    }

    const tessel::String parameter = startParameterBytes();
    // wxWidgets and the line above hold their own copies by now.
    tessel::hideArgument(g_processArgc, g_processArgv, parameter);
    m_checker = new wxSingleInstanceChecker;
    m_checker->Create(instanceName(parameter), wxEmptyString);
    if (m_checker->IsAnotherRunning()) {
        tessel::log(0, "VexlanClientGui", "OnInit",
                    "Another instance is already launched with this parameter, quitting.");
        delete m_checker;
        m_checker = nullptr;
        return false;
    }

    setupLanguage(languageParameter(parameter), wxStandardPaths::Get().GetExecutablePath());

    auto* frame = new VexlanMainFrame(argv[0]);
    setTheMainFrame(frame);
    frame->Show(false);
#ifdef __UNIX__
    SetSignalHandler(SIGTERM, closeOnSignal);
    SetSignalHandler(SIGINT, closeOnSignal);
#endif

    frame->client().setStartParameter(parameter);
    // A gateway that the user has not confirmed is asked about first; without a run the frame
    // closes and the main loop ends at once.
    if (frame->startClient())
        frame->notificationPanel()->showStatus(_("Loading"));
    return true;
}

int VexlanClientGui::OnExit() {
    delete m_checker;
    m_checker = nullptr;
    return wxApp::OnExit();
}
