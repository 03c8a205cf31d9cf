// The main frame with a real client in a sandbox (the client's thread is not started unless a
// test says so): notifications arrive through the notify handler as queued events, exactly
// as from the client's thread.
#include "vexlanclient/gui/mainframe.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <memory>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/filefn.h>
#include <wx/taskbar.h>
#include <wx/timer.h>
#include <wx/weakref.h>

#include "gui_test_support.h"
#include "sandbox.h"
#include "vexlanclient/gui/artprovider.h"
#include "vexlanclient/gui/clientnotification.h"
#include "vexlanclient/gui/configurationdialog.h"
#include "vexlanclient/gui/connectionerrordialog.h"
#include "vexlanclient/gui/messagebox.h"
#include "vexlanclient/gui/notificationpanel.h"
#include "vexlanclient/gui/systrayicon.h"

namespace {

using vexlan::guitest::click;

// A loopback TCP port. Listening, it takes connections into its backlog and never answers (a
// run stays in its request); closed, connections to it are refused at once. Closing it while
// a connection waits in the backlog resets that connection.
class LoopbackPort {
#ifdef _WIN32
    using Socket = SOCKET;
    using Length = int;
    static constexpr Socket kNone = INVALID_SOCKET;
    static void closeSocket(Socket socket) {
        ::closesocket(socket);
    }
#else
    using Socket = int;
    using Length = socklen_t;
    static constexpr Socket kNone = -1;
    static void closeSocket(Socket socket) {
        ::close(socket);
    }
#endif

public:
    explicit LoopbackPort(bool listening) {
#ifdef _WIN32
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
#endif
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        Length length = sizeof address;
        ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        if (listening)
            ::listen(m_socket, 8);
        else
            close();
    }
    ~LoopbackPort() {
        close();
#ifdef _WIN32
        ::WSACleanup();
#endif
    }
    LoopbackPort(const LoopbackPort&) = delete;
    LoopbackPort& operator=(const LoopbackPort&) = delete;
    void close() {
        if (m_socket != kNone)
            closeSocket(m_socket);
        m_socket = kNone;
    }
    tessel::String startParameter() const {
        return "vexlan://user42@127.0.0.1:" + tessel::String(static_cast<uint32_t>(m_port)) +
               "/mediation?lang=en";
    }

private:
    Socket m_socket = kNone;
    int m_port = 0;
};

void endModalDialogs(int code);

// The event loop of a test that waits for the client's thread: `run` returns once something
// has called `exit`, or fails after a safety bound so that a fault never hangs the test.
class TestEventLoop {
public:
    void run() {
        wxTimer watchdog;
        watchdog.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
            ADD_FAILURE() << "the event loop was ended by its safety bound";
            // A dialog left open runs a loop of its own over this one: end those first.
            endModalDialogs(wxID_CANCEL);
            m_loop.ScheduleExit();
        });
        watchdog.StartOnce(30000);
        m_loop.Run();
        watchdog.Stop();
    }
    void exit() {
        wxTheApp->CallAfter([this] { m_loop.ScheduleExit(); });
    }

private:
    wxEventLoop m_loop;
};

// A modal dialog whose end has not been asked for yet. On Windows a dialog stays modal until
// its ShowModal has returned, which happens only once the code that ended it has returned to
// the dialog's loop; it is hidden at once everywhere.
bool runsModal(const wxDialog* dialog) {
    return dialog->IsModal() && dialog->IsShown();
}

// The modal dialog of type T that is on screen, if any.
template <class T>
T* modalDialog() {
    for (wxWindow* window : wxTopLevelWindows) {
        if (auto* dialog = dynamic_cast<T*>(window); dialog && runsModal(dialog))
            return dialog;
    }
    return nullptr;
}

// Ends every dialog still running modally with `code`, each once.
void endModalDialogs(int code) {
    while (auto* dialog = modalDialog<wxDialog>())
        dialog->EndModal(code);
}

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_frame = new VexlanMainFrame(wxS("vexlanclient"));
        setTheMainFrame(m_frame);
    }
    void TearDown() override {
        setMessageBoxHook({});
        if (m_frame && !closing())
            m_frame->Destroy();
        wxTheApp->ProcessIdle();  // deletes the frame
        EXPECT_EQ(theMainFrame(), nullptr);
    }
    void deliver() { wxTheApp->ProcessPendingEvents(); }
    bool closing() const { return wxPendingDelete.Member(m_frame); }
    VexlanClientNotificationPanel* panel() { return m_frame->notificationPanel(); }

    vexlan::testing::Sandbox m_sandbox;
    VexlanMainFrame* m_frame = nullptr;
};

TEST_F(MainFrameTest, StatusesGoToTheNotificationPanel) {
    const struct {
        int status;
        const char* text;
    } cases[] = {{1, "STATUS_IDLE"},
                 {2, "STATUS_DOWNLOADING_COMPENENTS"},
                 {3, "STATUS_CONNECTED"},
                 {5, "HOSTCHECKING"},
                 {0, ""},
                 {6, ""},
                 {-1, ""}};
    for (const auto& c : cases) {
        m_frame->notifyHandler().statusChanged(c.status);
        EXPECT_EQ(panel()->statusText(), wxS("Connected")) << "shown before it was delivered";
        deliver();
        EXPECT_EQ(panel()->statusText(), wxString::FromUTF8(c.text)) << c.status;
        EXPECT_TRUE(panel()->IsShown());
        EXPECT_FALSE(closing());
        // Back to the plugin layout for the next case.
        wxTimer timer;
        wxTimerEvent tick(timer);
        panel()->onTimer(tick);
        panel()->onTimer(tick);
    }
}

TEST_F(MainFrameTest, StatusFourEndsTheProgram) {
    m_frame->notifyHandler().statusChanged(4);
    deliver();
    EXPECT_TRUE(closing());
}

TEST_F(MainFrameTest, PluginTextsGoToTheTunnelLine) {
    m_frame->notifyHandler().message("connected ip=10.0.0.7");
    deliver();
    EXPECT_EQ(panel()->tunnelText(), wxS("VPN_GIVENIP 10.0.0.7"));
    // While it is held, statuses are not shown.
    m_frame->notifyHandler().statusChanged(2);
    deliver();
    EXPECT_EQ(panel()->statusText(), wxS("Connected"));
}

TEST_F(MainFrameTest, AHostCheckerSessionTakesTheTrayIconAway) {
    ASSERT_NE(m_frame->trayIcon(), nullptr);
    EXPECT_TRUE(m_frame->trayIcon()->IsIconInstalled());
    for (int type : {2, 4}) {
        m_frame->notifyHandler().sessionType(type);
        deliver();
        EXPECT_TRUE(m_frame->trayIcon()->IsIconInstalled()) << type;
    }
    m_frame->notifyHandler().sessionType(3);
    deliver();
    EXPECT_FALSE(m_frame->trayIcon()->IsIconInstalled());
    // The panel still shows the statuses.
    m_frame->notifyHandler().statusChanged(5);
    deliver();
    EXPECT_EQ(panel()->statusText(), wxS("HOSTCHECKING"));
}

TEST_F(MainFrameTest, AFailedRunShowsOneErrorBoxThenEnds) {
    std::vector<MessageBoxRequest> boxes;
    setMessageBoxHook([&](const MessageBoxRequest& request) {
        boxes.push_back(request);
        EXPECT_FALSE(closing()) << "the program ended before the box was closed";
        return wxID_OK;
    });
    m_frame->notifyHandler().mediationFailed("");
    deliver();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].parent, m_frame);
    EXPECT_EQ(boxes[0].message, wxS("UNKNOWN_ERROR_HAS_OCCURED"));
    EXPECT_EQ(boxes[0].caption, wxS("Error"));
    EXPECT_EQ(boxes[0].style, static_cast<long>(wxOK | wxCENTRE | wxICON_ERROR));
    EXPECT_EQ(boxes[0].okLabel, wxID_EXIT);
    EXPECT_TRUE(closing());
}

TEST_F(MainFrameTest, NotificationsFromOtherThreadsAreQueuedInOrder) {
    std::thread client([&] {
        m_frame->notifyHandler().statusChanged(2);
        m_frame->notifyHandler().message("init");
        m_frame->notifyHandler().message("authenticating");
    });
    client.join();
    EXPECT_EQ(panel()->tunnelText(), wxS(""));
    deliver();
    EXPECT_EQ(panel()->statusText(), wxS("Connected"));
    EXPECT_EQ(panel()->tunnelText(), wxS("VPN_AUTHENTICATING"));
}

TEST_F(MainFrameTest, ADetachedHandlerQueuesNothing) {
    m_frame->notifyHandler().detach();
    m_frame->notifyHandler().statusChanged(4);
    deliver();
    EXPECT_FALSE(closing());
}

// The calls below are queued after the notification: the application handles its pending
// events in the order they were queued, so they run inside the dialog's modal loop.
TEST_F(MainFrameTest, ConnectionFailureQuitEndsTheProgram) {
    auto* event = new wxThreadEvent(EVT_CLIENT_NOTIFICATION, ID_CONNECTION_FAILED);
    event->SetString(wxS("Could not connect to server"));
    wxQueueEvent(m_frame, event);
    wxTheApp->CallAfter([&] {
        auto* dialog = modalDialog<VexlanClientConnectionErrorDialog>();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->GetParent(), m_frame);
        click(dialog->FindWindow(wxID_EXIT));
    });
    deliver();
    EXPECT_TRUE(closing());
}

TEST_F(MainFrameTest, ConnectionFailureDismissedLeavesOnlyTheTrayIcon) {
    auto* event = new wxThreadEvent(EVT_CLIENT_NOTIFICATION, ID_CONNECTION_FAILED);
    wxQueueEvent(m_frame, event);
    wxTheApp->CallAfter([&] {
        auto* dialog = modalDialog<VexlanClientConnectionErrorDialog>();
        ASSERT_NE(dialog, nullptr);
        dialog->Close();
    });
    deliver();
    EXPECT_FALSE(closing());
    EXPECT_FALSE(m_frame->client().isRunning());
    EXPECT_TRUE(m_frame->trayIcon()->IsIconInstalled());
}

TEST_F(MainFrameTest, SettingsSavedFromTheDialogReachTheSettingsFile) {
    wxTheApp->CallAfter([&] {
        auto* dialog = modalDialog<VexlanClientConfigurationDialog>();
        ASSERT_NE(dialog, nullptr);
        wxArrayString domains;
        domains.push_back(wxS("gw.example.com:8443"));
        dialog->setValues(wxS("proxyuser"), wxS("proxy secret"), domains);
        click(dialog->FindWindow(wxID_SAVE));
    });
    m_frame->showConfigurationDialog(nullptr);
    const std::string settings =
        vexlan::testing::readFile(m_sandbox.path("Vexlan/vexlanclient.xml"));
    EXPECT_NE(settings.find("gw.example.com:8443"), std::string::npos);
    EXPECT_NE(settings.find("proxyuser"), std::string::npos);
    EXPECT_EQ(settings.find("proxy secret"), std::string::npos);  // protected, never in clear
}

TEST_F(MainFrameTest, SettingsCancelledChangeNothing) {
    wxTheApp->CallAfter([&] {
        auto* dialog = modalDialog<VexlanClientConfigurationDialog>();
        ASSERT_NE(dialog, nullptr);
        dialog->setValues(wxS("someone"), wxS("x"), wxArrayString());
        click(dialog->FindWindow(wxID_CANCEL));
    });
    m_frame->showConfigurationDialog(nullptr);
    EXPECT_FALSE(wxFileExists(wxString::FromUTF8(m_sandbox.path("Vexlan/vexlanclient.xml"))));
}

TEST_F(MainFrameTest, ACloseRequestWhileIdleEndsTheProgram) {
    m_frame->Close(false);
    EXPECT_TRUE(closing());
    EXPECT_FALSE(m_frame->trayIcon()->IsIconInstalled());
}

TEST_F(MainFrameTest, TrayExitWithoutARunEndsTheProgram) {
    wxCommandEvent event(wxEVT_MENU, wxID_EXIT);
    m_frame->trayIcon()->onExit(event);
    EXPECT_TRUE(closing());
}

TEST_F(MainFrameTest, TrayLogsWithoutASessionDoNothing) {
    wxCommandEvent event(wxEVT_MENU, VexlanSystrayIcon::ID_MENU_LOGS);
    m_frame->trayIcon()->onLogs(event);
    EXPECT_FALSE(closing());
}

// A run that fails for real (nobody listens on the port): the dialog's Retry stops the
// sub-client, if any, and starts the client thread again, whose new run fails the same way;
// Quit then ends the program. The dialog's actions are queued when the notification arrives,
// so that they run inside the dialog's modal loop.
TEST_F(MainFrameTest, ConnectionFailureRetryRunsTheClientAgain) {
    LoopbackPort refused(false);
    m_frame->client().setStartParameter(refused.startParameter());
    int failures = 0;
    wxString details;
    TestEventLoop loop;
    m_frame->Bind(
        EVT_CLIENT_NOTIFICATION,
        [&](wxThreadEvent& event) {
            ++failures;
            details = event.GetString();
            const bool retry = failures == 1;
            wxTheApp->CallAfter([this, retry, &loop] {
                auto* dialog = modalDialog<VexlanClientConnectionErrorDialog>();
                if (dialog == nullptr) {
                    ADD_FAILURE() << "no connection-error dialog";
                    loop.exit();
                    return;
                }
                if (retry) {
                    click(dialog->GetDefaultItem());  // Retry
                } else {
                    click(dialog->FindWindow(wxID_EXIT));  // Quit
                    loop.exit();
                }
            });
            event.Skip();  // on to the frame's own handler, which shows the dialog
        },
        ID_CONNECTION_FAILED);
    m_frame->client().run();
    loop.run();
    EXPECT_EQ(failures, 2);
    EXPECT_FALSE(details.empty());
    // The loop's idle time may already have deleted the closed frame.
    EXPECT_TRUE(theMainFrame() == nullptr || closing());
    if (theMainFrame() == nullptr)
        m_frame = nullptr;
}

// The tray icon under the tray host that run-under-xvfb.sh starts inside the server.
TEST_F(MainFrameTest, TrayIconIsInstalledUnderTheTrayHost) {
    EXPECT_TRUE(wxTaskBarIcon::IsAvailable()) << "no tray host on this display";
    ASSERT_NE(m_frame->trayIcon(), nullptr);
    EXPECT_TRUE(m_frame->trayIcon()->IsIconInstalled());
}

TEST_F(MainFrameTest, TraySettingsOpenTheDialogWithoutParent) {
    wxWindow* parent = m_frame;
    bool shown = false;
    wxTheApp->CallAfter([&] {
        auto* dialog = modalDialog<VexlanClientConfigurationDialog>();
        ASSERT_NE(dialog, nullptr);
        shown = true;
        parent = dialog->GetParent();
        click(dialog->FindWindow(wxID_CANCEL));
    });
    wxCommandEvent event(wxEVT_MENU, VexlanSystrayIcon::ID_MENU_SETTINGS);
    m_frame->trayIcon()->ProcessEvent(event);  // through the icon's event table
    EXPECT_TRUE(shown);
    EXPECT_EQ(parent, nullptr);
    EXPECT_FALSE(closing());
}

// Exit while a run is still talking to the gateway (no sub-client yet) does nothing; once the
// run has ended, Exit ends the program.
TEST_F(MainFrameTest, TrayExitDuringARunWithoutSubClientDoesNothing) {
    LoopbackPort silent(true);
    m_frame->client().setStartParameter(silent.startParameter());
    m_frame->client().run();
    ASSERT_TRUE(m_frame->client().isRunning());
    wxCommandEvent exit(wxEVT_MENU, wxID_EXIT);
    m_frame->trayIcon()->ProcessEvent(exit);
    EXPECT_FALSE(closing());
    EXPECT_TRUE(m_frame->client().isRunning());
    // The connection waiting in the backlog is reset: the run fails and ends (its
    // connection-error dialog is not wanted here).
    m_frame->notifyHandler().detach();
    silent.close();
    EXPECT_TRUE(m_frame->client().wait(30000));
    m_frame->trayIcon()->ProcessEvent(exit);
    EXPECT_TRUE(closing());
}

// Ends every dialog that is still modal should a test's close request fail to, so that a
// fault fails the test instead of hanging it.
class ModalWatchdog {
public:
    ModalWatchdog() {
        m_timer.Bind(wxEVT_TIMER, [](wxTimerEvent&) {
            ADD_FAILURE() << "a modal dialog was ended by the safety bound";
            endModalDialogs(-1);
        });
        m_timer.StartOnce(30000);
    }

private:
    wxTimer m_timer;
};

// What runs the modal loops when the close request comes; vetoable (SIGTERM, the window's
// close) or forced (the session's end, the tray's Exit).
struct CloseDuringDialogCase {
    const char* name;
    bool settingsOverError;  // the settings dialog opened with the error dialog's button
    bool force;
};

class CloseDuringConnectionErrorTest : public MainFrameTest,
                                       public ::testing::WithParamInterface<CloseDuringDialogCase> {
};

// The frame must not be destroyed under the loops: every dialog ends as Cancel at once (no
// Retry, no Save), and the frame closes only after the outermost loop has returned.
TEST_P(CloseDuringConnectionErrorTest, EndsTheDialogsThenClosesTheFrame) {
    const CloseDuringDialogCase& c = GetParam();
    ModalWatchdog watchdog;
    bool requested = false;
    bool settingsReturned = false;
    // Only the innermost dialog ends at once; the one under it when the inner has returned.
    const auto requestClose = [&](wxDialog* innermost) {
        requested = true;
        m_frame->Close(c.force);
        EXPECT_FALSE(closing()) << "the frame was destroyed under a modal loop";
        EXPECT_FALSE(runsModal(innermost));
    };
    wxQueueEvent(m_frame, new wxThreadEvent(EVT_CLIENT_NOTIFICATION, ID_CONNECTION_FAILED));
    wxTheApp->CallAfter([&] {
        auto* error = modalDialog<VexlanClientConnectionErrorDialog>();
        ASSERT_NE(error, nullptr);
        if (!c.settingsOverError) {
            requestClose(error);
            return;
        }
        wxTheApp->CallAfter([&] {
            auto* settings = modalDialog<VexlanClientConfigurationDialog>();
            ASSERT_NE(settings, nullptr);
            settings->setValues(wxS("someone"), wxS("x"), wxArrayString());
            requestClose(settings);
        });
        click(error->FindWindow(ConnectionErrorDialog::ID_SETTINGS_BUTTON));
        settingsReturned = true;
        EXPECT_FALSE(closing());
        EXPECT_FALSE(runsModal(error));
    });
    deliver();
    EXPECT_TRUE(requested);
    EXPECT_EQ(settingsReturned, c.settingsOverError);
    deliver();  // the close queued once the loops have returned
    EXPECT_TRUE(closing());
    EXPECT_FALSE(m_frame->client().isRunning());
    EXPECT_FALSE(wxFileExists(wxString::FromUTF8(m_sandbox.path("Vexlan/vexlanclient.xml"))));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CloseDuringConnectionErrorTest,
    ::testing::Values(CloseDuringDialogCase{"ErrorDialog", false, false},
                      CloseDuringDialogCase{"ErrorDialogForced", false, true},
                      CloseDuringDialogCase{"SettingsOverErrorDialog", true, false},
                      CloseDuringDialogCase{"SettingsOverErrorDialogForced", true, true}),
    [](const ::testing::TestParamInfo<CloseDuringDialogCase>& tested) {
        return std::string(tested.param.name);
    });

// The tray's dialogs have no parent, but the icon whose handler runs them and the client that
// the settings dialog saves into belong to the frame. Parameters: the menu entry, forced.
class CloseDuringTrayDialogTest : public MainFrameTest,
                                  public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(CloseDuringTrayDialogTest, EndsTheDialogThenClosesTheFrame) {
    const auto [entry, force] = GetParam();
    ModalWatchdog watchdog;
    bool shown = false;
    wxTheApp->CallAfter([&, force = force] {
        wxDialog* dialog = modalDialog<wxDialog>();
        ASSERT_NE(dialog, nullptr);
        shown = true;
        m_frame->Close(force);
        EXPECT_FALSE(closing());
        EXPECT_FALSE(runsModal(dialog));
    });
    wxCommandEvent event(wxEVT_MENU, entry);
    m_frame->trayIcon()->ProcessEvent(event);  // through the icon's event table
    EXPECT_TRUE(shown);
    EXPECT_FALSE(closing());
    deliver();
    EXPECT_TRUE(closing());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CloseDuringTrayDialogTest,
    ::testing::Combine(::testing::Values(int(VexlanSystrayIcon::ID_MENU_SETTINGS), int(wxID_ABOUT)),
                       ::testing::Bool()));

// A message box cannot be ended from the program: the close waits for its answer, and a box
// during which the close was asked for answers Cancel.
TEST_F(MainFrameTest, ACloseRequestDuringAMessageBoxWaitsForItsAnswer) {
    setMessageBoxHook([&](const MessageBoxRequest&) {
        m_frame->Close(false);
        EXPECT_FALSE(closing());
        return wxID_OK;
    });
    EXPECT_EQ(
        m_frame->showModal(MessageBoxRequest{m_frame, wxS("text"), wxS("Error"), wxOK, wxID_OK}),
        wxID_CANCEL);
    EXPECT_FALSE(closing());
    deliver();
    EXPECT_TRUE(closing());
}

// A close that comes while a session runs still stops the session first; its end closes the
// frame. Here the run has not reached a sub-client yet, so the close only waits.
TEST_F(MainFrameTest, ACloseRequestDuringADialogKeepsTheSessionRule) {
    LoopbackPort silent(true);
    m_frame->client().setStartParameter(silent.startParameter());
    m_frame->client().run();
    ASSERT_TRUE(m_frame->client().isRunning());
    ModalWatchdog watchdog;
    wxTheApp->CallAfter([&] { m_frame->Close(false); });
    m_frame->showConfigurationDialog(nullptr);
    deliver();
    EXPECT_FALSE(closing());
    EXPECT_TRUE(m_frame->client().isRunning());
    m_frame->notifyHandler().detach();
    silent.close();
    EXPECT_TRUE(m_frame->client().wait(30000));
}

#ifdef _WIN32
// The top-level windows that wxWidgets made in this process, and how many were asked to close.
struct CloseWalk {
    std::set<HWND> ours;
    int posted = 0;
};

BOOL CALLBACK postCloseToOurWindow(HWND window, LPARAM data) {
    auto* walk = reinterpret_cast<CloseWalk*>(data);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process == ::GetCurrentProcessId() && walk->ours.count(window)) {
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        ++walk->posted;
    }
    return TRUE;
}
#endif

// Asks every top-level window of the program to close, the way the system's "end this
// program" does. On Windows: a WM_CLOSE posted to each top-level window of the process that
// wxWidgets made (the frame, the panel, the tray icon's hidden window); the system's own
// windows in the process are left alone, as later tests still need them. Elsewhere: the close
// that the window manager's delete request gives, queued for each window.
void closeEveryWindowAsTheSystemDoes() {
#ifdef _WIN32
    CloseWalk walk;
    for (wxWindow* window : wxTopLevelWindows)
        walk.ours.insert(static_cast<HWND>(window->GetHWND()));
    ::EnumWindows(postCloseToOurWindow, reinterpret_cast<LPARAM>(&walk));
    EXPECT_EQ(walk.posted, static_cast<int>(walk.ours.size()));
#else
    for (wxWindow* window : wxTopLevelWindows) {
        wxWeakRef<wxWindow> target(window);
        wxTheApp->CallAfter([target] {
            if (target)
                target->Close();
        });
    }
#endif
}

// Every window of the program gets the close request: the frame closes once, as for the
// tray's Exit, and neither the panel nor the tray icon's hidden window is destroyed before
// the frame that owns them (which would delete them again).
TEST_F(MainFrameTest, AClosedWindowOfTheProgramEndsTheProgramOnce) {
    // The panel stays hidden: hidden windows get the request as well, and its pictures are
    // not installed for these tests.
    std::vector<wxWeakRef<wxWindow>> programWindows;
    for (wxWindow* window : wxTopLevelWindows)
        programWindows.emplace_back(window);
    ASSERT_GE(programWindows.size(), 2u);  // the frame and the panel at least
    VexlanMainFrame* frame = m_frame;
    int frameDestroyed = 0;
    int destroyedBeforeTheFrame = 0;
    TestEventLoop loop;
    for (wxWindow* window : wxTopLevelWindows) {
        window->Bind(wxEVT_DESTROY, [&, window](wxWindowDestroyEvent& event) {
            event.Skip();
            if (event.GetEventObject() != window)
                return;
            if (window == frame) {
                ++frameDestroyed;
                loop.exit();
            } else if (wxPendingDelete.Member(frame)) {
                // Gone on its own while the closed frame still waits for its deletion (which
                // then deletes it again).
                ++destroyedBeforeTheFrame;
            }
        });
    }
    closeEveryWindowAsTheSystemDoes();
    loop.run();
    EXPECT_EQ(frameDestroyed, 1);
    EXPECT_EQ(destroyedBeforeTheFrame, 0);
    EXPECT_EQ(theMainFrame(), nullptr);
    for (const wxWeakRef<wxWindow>& window : programWindows)
        EXPECT_EQ(window.get(), nullptr) << "a window of the program outlived it";
    m_frame = nullptr;
}

// The panel's close alone (Alt+F4 on it, the window manager's close) is a close of the program,
// vetoed for the panel: the panel stays until the frame takes it away.
TEST_F(MainFrameTest, ThePanelsCloseClosesTheFrameAndKeepsThePanel) {
    EXPECT_FALSE(panel()->Close(false));
    EXPECT_FALSE(wxPendingDelete.Member(panel()));
    EXPECT_TRUE(closing());
    EXPECT_FALSE(m_frame->trayIcon()->IsIconInstalled());
}

// The desktop session's end: the question is never answered with a veto (it would hold the
// logoff back) and closes the program; the end itself stops the session and leaves the
// windows to wxWidgets, unless a modal loop still runs over the frame.
TEST_F(MainFrameTest, TheDesktopSessionsEndClosesTheProgramWithoutVeto) {
    wxCloseEvent query(wxEVT_QUERY_END_SESSION);
    query.SetCanVeto(true);
    m_frame->onQueryEndSession(query);
    EXPECT_FALSE(query.GetVeto());
    EXPECT_TRUE(closing());
    EXPECT_FALSE(m_frame->trayIcon()->IsIconInstalled());
    wxCloseEvent end(wxEVT_END_SESSION);
    end.SetCanVeto(false);
    m_frame->onEndSession(end);
    EXPECT_TRUE(end.GetSkipped());
}

TEST_F(MainFrameTest, TheDesktopSessionsEndLeavesTheWindowsOfARunningDialog) {
    ModalWatchdog watchdog;
    bool skipped = true;
    wxTheApp->CallAfter([&] {
        auto* dialog = modalDialog<VexlanClientConfigurationDialog>();
        ASSERT_NE(dialog, nullptr);
        wxCloseEvent end(wxEVT_END_SESSION);
        end.SetCanVeto(false);
        m_frame->onEndSession(end);
        skipped = end.GetSkipped();
        click(dialog->FindWindow(wxID_CANCEL));
    });
    m_frame->showConfigurationDialog(nullptr);
    EXPECT_FALSE(skipped);
    EXPECT_FALSE(m_frame->trayIcon()->IsIconInstalled());
}

TEST(SystrayIconTest, MenuEntriesCarryTheirPictures) {
    vexlan::testing::Sandbox sandbox;
    auto* provider = new VexlanClientArtProvider;
    wxArtProvider::Push(provider);
    {
        VexlanSystrayIcon icon;
        std::unique_ptr<wxMenu> menu(icon.CreatePopupMenu());
        for (int id : {VexlanSystrayIcon::ID_MENU_SETTINGS, VexlanSystrayIcon::ID_MENU_LOGS,
                       static_cast<int>(wxID_EXIT)}) {
            const wxBitmap bitmap = menu->FindItem(id)->GetBitmap();
            EXPECT_TRUE(bitmap.IsOk()) << id;
            if (bitmap.IsOk()) {
                EXPECT_EQ(bitmap.GetSize(), wxSize(16, 16)) << id;
            }
        }
        EXPECT_FALSE(menu->FindItem(wxID_ABOUT)->GetBitmap().IsOk());
    }
    wxArtProvider::Delete(provider);
}

TEST(SystrayIconTest, MenuHoldsTheFiveEntriesInOrder) {
    VexlanSystrayIcon icon;
    std::unique_ptr<wxMenu> menu(icon.CreatePopupMenu());
    ASSERT_EQ(menu->GetMenuItemCount(), 5u);
    const wxMenuItemList& items = menu->GetMenuItems();
    const int ids[] = {VexlanSystrayIcon::ID_MENU_SETTINGS, VexlanSystrayIcon::ID_MENU_LOGS,
                       wxID_SEPARATOR, wxID_ABOUT, wxID_EXIT};
    int i = 0;
    for (wxMenuItem* item : items)
        EXPECT_EQ(item->GetId(), ids[i++]);
    EXPECT_EQ(menu->FindItem(VexlanSystrayIcon::ID_MENU_SETTINGS)->GetItemLabelText(),
              wxS("MENU_SETTINGS"));
    EXPECT_EQ(menu->FindItem(VexlanSystrayIcon::ID_MENU_LOGS)->GetItemLabelText(),
              wxS("MENU_LOGS"));
    EXPECT_FALSE(menu->FindItem(wxID_ABOUT)->GetItemLabelText().empty());  // stock label
    EXPECT_EQ(VexlanSystrayIcon::ID_MENU_LOGS, 10001);
    EXPECT_EQ(VexlanSystrayIcon::ID_MENU_SETTINGS, 10002);
}

}  // namespace
