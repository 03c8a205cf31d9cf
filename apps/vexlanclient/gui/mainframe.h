// The hidden main frame: it owns the client, the notification panel and the tray icon, turns
// the client's notifications into user-interface actions on the user-interface thread, runs
// the settings dialog and decides when the program may end.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <wx/event.h>
#include <wx/frame.h>
#include <wx/string.h>
#include <wx/weakref.h>

#include "vexlanclient/client.h"
#include "vexlanclient/gui/messagebox.h"
#include "vexlanclient/gui/statusnotifieritem.h"

class VexlanClientNotificationPanel;
class wxDialog;
class VexlanMainFrame;
class VexlanSystrayIcon;
class wxEventFilter;

// The client's notifications, from any thread: each call queues one EVT_CLIENT_NOTIFICATION
// event on the frame and returns; texts are copied into the event. Once the frame has
// detached it (on its destruction), calls do nothing.
class VexlanClientGuiNotifyHandler : public vexlan::IVexlanClientNotify {
public:
    explicit VexlanClientGuiNotifyHandler(VexlanMainFrame* frame) : m_frame(frame) {}
    ~VexlanClientGuiNotifyHandler() override = default;

    void connectionFailed(tessel::http::IRequestInfo& info) override;
    void mediationFailed(const tessel::String& message) override;
    void statusChanged(const int& status) override;
    void message(const tessel::String& text) override;
    void sessionType(int type) override;

    // No more events from now on.
    void detach();

private:
    void queue(wxThreadEvent* event);

    std::mutex m_lock;  // guards m_frame against detach while an event is queued
    VexlanMainFrame* m_frame;
};

// Where the tray's menu lives, chosen once when the frame is built.
enum class TrayKind {
    kStatusNotifier,  // a StatusNotifierItem registered with the session bus's watcher
    kXEmbed,          // an icon embedded in an X11 system tray
    kNone,            // no tray: the notification panel stays and carries the menu
};

class VexlanMainFrame : public wxFrame {
public:
    explicit VexlanMainFrame(const wxString& title);
    ~VexlanMainFrame() override;

    vexlan::VexlanClient& client() { return m_client; }
    VexlanClientNotificationPanel* notificationPanel() { return m_notificationPanel; }
    // The tray's menu handlers; its icon is installed only with an XEmbed tray.
    VexlanSystrayIcon* trayIcon() { return m_trayIcon; }
    TrayKind trayKind() const { return m_trayKind; }
    // The item on the bus with a StatusNotifierWatcher, null otherwise.
    vexlan::StatusNotifierItem* statusNotifierItem() { return m_statusNotifierItem.get(); }
    VexlanClientGuiNotifyHandler& notifyHandler() { return m_notifyHandler; }

    // Runs a dialog of the frame, its tray or its panel modally and returns its result. A close
    // request that comes meanwhile ends it, and every dialog opened over it, with wxID_CANCEL
    // and is carried out once the outermost of them has returned: the frame, which owns the
    // client, the tray and the dialogs' parents, is never destroyed under a modal loop.
    int showModal(wxDialog& dialog);
    // The same for a message box; it cannot be ended from here, so a close request waits for
    // its answer.
    int showModal(const MessageBoxRequest& request);

    // Runs the settings dialog over `parent` (may be null); on Save, writes the values into
    // the local settings and saves the settings file (an error box when that fails).
    void showConfigurationDialog(wxWindow* parent);
    // Creates the tray icon if needed and shows it the way the desktop offers: a
    // StatusNotifierItem when a watcher is on the session bus, else an XEmbed icon with the
    // logo and the tooltip, else the menu on the notification panel. Logs the choice once.
    void createTrayIcon();
    // Takes the tray icon away (a host-check session, the program closing); never undone.
    void hideTrayIcon();
    // Starts the client's first run once its gateway may be contacted: one the administrator
    // lists or the user confirmed before runs at once; a new one only after the user chose
    // Connect in the confirmation dialog (the gateway is then saved as confirmed); one the
    // administrator's file refuses, or a malformed one, shows the refusal. Returns false when
    // nothing was started: the frame then closes and the program ends without having sent
    // anything. The start parameter must be set.
    bool startClient();

protected:
    void onConnectionFailed(wxThreadEvent& event);
    void onStatusChanged(wxThreadEvent& event);
    void onMediationFailed(wxThreadEvent& event);
    void onSessionType(wxThreadEvent& event);
    void onClose(wxCloseEvent& event);

public:
    // The desktop session is about to end (the application's wxEVT_QUERY_END_SESSION): the
    // program closes as for the tray's Exit and never holds the session's end back.
    void onQueryEndSession(wxCloseEvent& event);
    // The desktop session ends (wxEVT_END_SESSION); the system ends the process soon after
    // this returns: the session is stopped and its end awaited here, for a bounded time.
    // Skipped (wxWidgets then destroys the windows and exits) unless a modal loop still runs,
    // whose dialogs must not be destroyed under it.
    void onEndSession(wxCloseEvent& event);

private:
    // Starts a new run after the previous one has ended (Retry).
    void restartClient();
    // Runs `show`, the modal loop of `dialog` (null for a message box), under the close rule
    // of showModal; gives wxID_CANCEL when a close request came meanwhile.
    int runModal(wxDialog* dialog, const std::function<int()>& show);
    // Ends the innermost modal dialog with wxID_CANCEL (a message box waits for its answer).
    void endInnermostDialog();

    // The modal loops running over the frame, innermost last (null: a message box).
    std::vector<wxDialog*> m_modalDialogs;
    // A close request came while a modal loop ran; forced when it could not be vetoed.
    bool m_closeRequested = false;
    bool m_closeForced = false;

    VexlanClientGuiNotifyHandler m_notifyHandler;
    vexlan::VexlanClient m_client;
    VexlanSystrayIcon* m_trayIcon = nullptr;
    TrayKind m_trayKind = TrayKind::kNone;
    bool m_trayChosen = false;
    std::unique_ptr<vexlan::StatusNotifierItem> m_statusNotifierItem;
    // Weak: should the panel be destroyed before the frame, it is not deleted twice.
    wxWeakRef<VexlanClientNotificationPanel> m_notificationPanel;
    // Turns a close request to the frame's other top-level windows (the panel, the tray's
    // hidden window) into the frame's close instead of their destruction.
    std::unique_ptr<wxEventFilter> m_closeFilter;
};

// The process-wide main frame (null before it is built and after it is gone); the tray
// icon's handlers reach the frame and its client through it.
VexlanMainFrame* theMainFrame();
void setTheMainFrame(VexlanMainFrame* frame);
