#include "vexlanclient/gui/mainframe.h"

#include <wx/app.h>
#include <wx/artprov.h>
#include <wx/bitmap.h>
#include <wx/dialog.h>
#include <wx/eventfilter.h>
#include <wx/icon.h>
#include <wx/iconbndl.h>
#include <wx/taskbar.h>
#include <wx/toplevel.h>

#include "base/console.h"
#include "base/exception.h"
#include "vexlanclient/gatewaypolicy.h"
#include "vexlanclient/gatewayrequest.h"
#include "vexlanclient/gui/artprovider.h"
#include "vexlanclient/gui/clientnotification.h"
#include "vexlanclient/gui/configurationdialog.h"
#include "vexlanclient/gui/connectionerrordialog.h"
#include "vexlanclient/gui/gatewayconfirmationdialog.h"
#include "vexlanclient/gui/messagebox.h"
#include "vexlanclient/gui/notificationpanel.h"
#include "vexlanclient/gui/statusnotifiertray.h"
#include "vexlanclient/gui/systrayicon.h"
#include "vexlanclient/gui/textconversion.h"
#include "vexlanclient/notify.h"

namespace {

VexlanMainFrame* g_mainFrame = nullptr;

// How long Retry waits for the failed run, which has already reported its end, to finish.
constexpr int32_t kRunEndWaitMs = 5000;
// How long the end of the desktop session waits for the stopped session to end.
constexpr int32_t kSessionEndWaitMs = 10000;

// A close request to one of the program's top-level windows other than the frame and its
// dialogs (the notification panel, the tray icon's hidden window: the system's "end this
// program" closes every one of them) closes the frame instead. Left to their default, such
// windows would destroy themselves while the frame and the tray icon still own them.
class ProgramWindowsCloseFilter : public wxEventFilter {
public:
    explicit ProgramWindowsCloseFilter(VexlanMainFrame* frame) : m_frame(frame) {
        wxEvtHandler::AddFilter(this);
    }
    ~ProgramWindowsCloseFilter() override { wxEvtHandler::RemoveFilter(this); }
    ProgramWindowsCloseFilter(const ProgramWindowsCloseFilter&) = delete;
    ProgramWindowsCloseFilter& operator=(const ProgramWindowsCloseFilter&) = delete;

    int FilterEvent(wxEvent& event) override {
        if (event.GetEventType() != wxEVT_CLOSE_WINDOW)
            return Event_Skip;
        auto* window = wxDynamicCast(event.GetEventObject(), wxTopLevelWindow);
        // A dialog's close is its Cancel; the frame has its own rule.
        if (!window || window == m_frame || wxDynamicCast(window, wxDialog))
            return Event_Skip;
        auto& close = static_cast<wxCloseEvent&>(event);
        tessel::log(0, "VexlanMainFrame", "onClose",
                    "Close requested for another window of the program: the program closes");
        m_frame->Close(!close.CanVeto());
        if (close.CanVeto())
            close.Veto();
        return Event_Processed;
    }

private:
    VexlanMainFrame* m_frame;
};

// The Settings button of the connection-error dialog: the settings dialog over that dialog.
struct FshowConfigurationDialog {
    VexlanMainFrame* frame;
    wxWindow* dialog;
    void operator()(wxCommandEvent& /*event*/) const { frame->showConfigurationDialog(dialog); }
};

}  // namespace

VexlanMainFrame* theMainFrame() {
    return g_mainFrame;
}

void setTheMainFrame(VexlanMainFrame* frame) {
    g_mainFrame = frame;
}

// --- notify handler --------------------------------------------------------------------------

void VexlanClientGuiNotifyHandler::queue(wxThreadEvent* event) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_frame) {
        delete event;
        return;
    }
    wxQueueEvent(m_frame, event);  // the frame's queue owns the event
}

void VexlanClientGuiNotifyHandler::detach() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_frame = nullptr;
}

void VexlanClientGuiNotifyHandler::connectionFailed(tessel::http::IRequestInfo& info) {
    tessel::log(0, "VexlanClientGuiNotifyHandler", "connectionFailed", info.toString());
    auto* event = new wxThreadEvent(EVT_CLIENT_NOTIFICATION, ID_CONNECTION_FAILED);
    event->SetString(toWx(info.toString()));
    queue(event);
}

void VexlanClientGuiNotifyHandler::mediationFailed(const tessel::String& message) {
    tessel::log(0, "VexlanClientGuiNotifyHandler", "mediationFailed", message);
    auto* event = new wxThreadEvent(EVT_CLIENT_NOTIFICATION, ID_MEDIATION_FAILED);
    event->SetString(toWx(message));
    queue(event);
}

void VexlanClientGuiNotifyHandler::statusChanged(const int& status) {
    tessel::log(0, "VexlanClientGuiNotifyHandler", "statusChanged",
                tessel::String(int32_t{status}));
    auto* event = new wxThreadEvent(EVT_CLIENT_NOTIFICATION, ID_STATUS_CHANGED);
    event->SetInt(status);
    queue(event);
}

void VexlanClientGuiNotifyHandler::message(const tessel::String& text) {
    tessel::log(0, "VexlanClientGuiNotifyHandler", "message", text);
    auto* event = new wxThreadEvent(EVT_CLIENT_NOTIFICATION, ID_MESSAGE);
    event->SetString(toWx(text));
    queue(event);
}

void VexlanClientGuiNotifyHandler::sessionType(int type) {
    tessel::log(0, "VexlanClientGuiNotifyHandler", "sessionType", tessel::String(int32_t{type}));
    auto* event = new wxThreadEvent(EVT_CLIENT_NOTIFICATION, ID_SESSION_TYPE);
    event->SetInt(type);
    queue(event);
}

// --- frame -----------------------------------------------------------------------------------

VexlanMainFrame::VexlanMainFrame(const wxString& title)
    : wxFrame(nullptr, wxID_ANY, title, wxDefaultPosition, wxDefaultSize, wxDEFAULT_FRAME_STYLE,
              wxS("frame")),
      m_notifyHandler(this),
      m_client(&m_notifyHandler),
      m_closeFilter(std::make_unique<ProgramWindowsCloseFilter>(this)) {
    Bind(EVT_CLIENT_NOTIFICATION, &VexlanMainFrame::onConnectionFailed, this, ID_CONNECTION_FAILED);
    Bind(EVT_CLIENT_NOTIFICATION, &VexlanMainFrame::onStatusChanged, this, ID_STATUS_CHANGED);
    Bind(EVT_CLIENT_NOTIFICATION, &VexlanMainFrame::onMediationFailed, this, ID_MEDIATION_FAILED);
    Bind(EVT_CLIENT_NOTIFICATION, &VexlanMainFrame::onSessionType, this, ID_SESSION_TYPE);
    Bind(wxEVT_CLOSE_WINDOW, &VexlanMainFrame::onClose, this);
    // The application receives the desktop session's end (Windows); the binding goes with
    // the frame.
    if (wxTheApp) {
        wxTheApp->Bind(wxEVT_QUERY_END_SESSION, &VexlanMainFrame::onQueryEndSession, this);
        wxTheApp->Bind(wxEVT_END_SESSION, &VexlanMainFrame::onEndSession, this);
    }
    const wxIconBundle icons = VexlanClientArtProvider::logoBundle(wxART_OTHER);
    if (!icons.IsEmpty())
        SetIcons(icons);
    m_notificationPanel = new VexlanClientNotificationPanel(this);
    Bind(EVT_CLIENT_NOTIFICATION, &VexlanClientNotificationPanel::onMessage,
         m_notificationPanel.get(), ID_MESSAGE);
    createTrayIcon();
}

VexlanMainFrame::~VexlanMainFrame() {
    m_closeFilter.reset();
    m_notifyHandler.detach();
    m_statusNotifierItem.reset();  // before the icon whose handlers it calls
    delete m_trayIcon;
    m_trayIcon = nullptr;
    delete m_notificationPanel.get();
    if (g_mainFrame == this)
        g_mainFrame = nullptr;
    // m_client is destroyed next; its thread base waits for a run that still goes on.
}

namespace {

// The desktop's tray, asked once: the StatusNotifierWatcher first (Wayland sessions, KDE, GNOME
// with its extension, where an XEmbed icon would never be seen), then an X11 tray manager.
TrayKind chooseTrayKind() {
    if (vexlan::StatusNotifierItem::watcherPresent())
        return TrayKind::kStatusNotifier;
    if (wxTaskBarIcon::IsAvailable())
        return TrayKind::kXEmbed;
    return TrayKind::kNone;
}

}  // namespace

void VexlanMainFrame::createTrayIcon() {
    if (!m_trayIcon)
        m_trayIcon = new VexlanSystrayIcon;
    if (!m_trayChosen) {
        m_trayChosen = true;
        m_trayKind = chooseTrayKind();
        if (m_trayKind == TrayKind::kStatusNotifier) {
            try {
                m_statusNotifierItem = createStatusNotifierItem(*m_trayIcon);
                tessel::log(0, "VexlanMainFrame", "createTrayIcon",
                            ("Tray icon: a StatusNotifierItem registered as " +
                             m_statusNotifierItem->busName())
                                .c_str());
            } catch (const tessel::Exception& e) {
                TESSEL_LOG_CATCH(e);
                m_trayKind = wxTaskBarIcon::IsAvailable() ? TrayKind::kXEmbed : TrayKind::kNone;
            }
        }
        if (m_trayKind == TrayKind::kXEmbed) {
#ifdef __WXMSW__
            tessel::log(0, "VexlanMainFrame", "createTrayIcon",
                        "Tray icon: an icon in the notification area");
#else
            tessel::log(0, "VexlanMainFrame", "createTrayIcon",
                        "Tray icon: an XEmbed icon in the system tray");
#endif
        } else if (m_trayKind == TrayKind::kNone) {
            tessel::log(0, "VexlanMainFrame", "createTrayIcon",
                        "No system tray on this display: the tray icon is not shown");
            // The panel then stays on screen with the tray's menu, the only way out.
            m_notificationPanel->enableTrayMenu(m_trayIcon);
        }
    }
    if (m_trayKind != TrayKind::kXEmbed)
        return;
    const wxIconBundle bundle = VexlanClientArtProvider::logoBundle(wxART_OTHER);
    wxIcon icon;
    if (!bundle.IsEmpty())
        icon = bundle.GetIcon(wxSize(16, 16), wxIconBundle::FALLBACK_SYSTEM);
    if (!icon.IsOk()) {
        // Without the images the icon has no picture: a transparent square.
        wxBitmap empty(16, 16, 32);
        empty.UseAlpha();
        icon.CopyFromBitmap(empty);
    }
    m_trayIcon->SetIcon(icon, wxS("Vexlan Client"));
}

void VexlanMainFrame::hideTrayIcon() {
    if (m_statusNotifierItem)
        m_statusNotifierItem->setPassive();
    if (m_trayIcon && m_trayIcon->IsIconInstalled())
        m_trayIcon->RemoveIcon();
    if (m_notificationPanel)
        m_notificationPanel->disableTrayMenu();
}

int VexlanMainFrame::showModal(wxDialog& dialog) {
    return runModal(&dialog, [&dialog] { return dialog.ShowModal(); });
}

int VexlanMainFrame::showModal(const MessageBoxRequest& request) {
    return runModal(nullptr, [&request] { return showMessageBox(request); });
}

void VexlanMainFrame::endInnermostDialog() {
    // Only the innermost loop can be left: a dialog's loop ended while another runs over it
    // would stay in the dialog's ShowModal. The next one ends when this one has returned.
    wxDialog* innermost = m_modalDialogs.back();
    if (innermost && innermost->IsModal())
        innermost->EndModal(wxID_CANCEL);
}

int VexlanMainFrame::runModal(wxDialog* dialog, const std::function<int()>& show) {
    // The frame is closing: a dialog that would only keep it open is not shown.
    if (m_closeRequested)
        return wxID_CANCEL;
    m_modalDialogs.push_back(dialog);
    int result = show();
    m_modalDialogs.pop_back();
    if (!m_closeRequested)
        return result;
    result = wxID_CANCEL;
    if (!m_modalDialogs.empty()) {
        endInnermostDialog();
    } else {
        // The outermost loop has returned: close once its caller is done with the result.
        const bool force = m_closeForced;
        m_closeRequested = false;
        m_closeForced = false;
        CallAfter([this, force] { Close(force); });
    }
    return result;
}

void VexlanMainFrame::showConfigurationDialog(wxWindow* parent) {
    VexlanClientConfigurationDialog dialog(parent);
    vexlan::ClientLocalConfiguration settings = m_client.localConfiguration();
    dialog.loadSettings(settings);
    if (showModal(dialog) != wxID_SAVE)
        return;
    dialog.storeSettings(settings);
    m_client.setLocalConfiguration(settings);
    try {
        m_client.saveLocalConfiguration();
    } catch (const tessel::Exception& e) {
        TESSEL_LOG_CATCH(e);
        runModal(nullptr, [parent] {
            VexlanClientConfigurationDialog::showSaveFailed(parent);
            return wxID_OK;
        });
    }
}

bool VexlanMainFrame::startClient() {
    // Every run of this program checks the gateway again before it sends anything.
    m_client.setGatewayConfirmationRequired(true);
    tessel::String gateway;
    try {
        gateway =
            vexlan::gatewayRequest(m_client.startParameter(), vexlan::VexlanClient::kVersion).host;
    } catch (const tessel::Exception& e) {
        // No gateway to ask about: the run reports the parameter itself, sending nothing.
        TESSEL_LOG_CATCH(e);
        m_client.run();
        return true;
    }
    const vexlan::AdministratorGateways administrator =
        vexlan::readAdministratorGateways(vexlan::administratorGatewaysPath());
    vexlan::ClientLocalConfiguration settings = m_client.localConfiguration();
    const tessel::String shown = vexlan::displayedGateway(gateway);
    switch (vexlan::judgeGateway(gateway, administrator, settings.confirmedGateways())) {
        case vexlan::GatewayVerdict::kAllowed:
            break;
        case vexlan::GatewayVerdict::kRefused:
            tessel::log(2, "VexlanMainFrame", "startClient",
                        vexlan::gatewayNotAllowedText(gateway));
            showModal(MessageBoxRequest{nullptr,
                                        wxString::Format(_("GATEWAY_NOT_ALLOWED %s"), toWx(shown)),
                                        _("Error"), wxOK | wxCENTRE | wxICON_ERROR, wxID_OK});
            Close(true);
            return false;
        case vexlan::GatewayVerdict::kAsk: {
            tessel::log(0, "VexlanMainFrame", "startClient",
                        "Asking the user to confirm the gateway " + shown);
            VexlanClientGatewayConfirmationDialog dialog(nullptr, toWx(shown));
            // A close request (SIGTERM, the desktop session ending) answers Cancel.
            if (showModal(dialog) != VexlanClientGatewayConfirmationDialog::kConnect) {
                tessel::log(0, "VexlanMainFrame", "startClient",
                            "The gateway " + shown + " was not confirmed: nothing was sent");
                Close(true);
                return false;
            }
            tessel::log(0, "VexlanMainFrame", "startClient",
                        "The user confirmed the gateway " + shown);
            settings.confirmGateway(gateway);
            m_client.setLocalConfiguration(settings);
            try {
                m_client.saveLocalConfiguration();
            } catch (const tessel::Exception& e) {
                // This run goes on; the next start asks again.
                TESSEL_LOG_CATCH(e);
                runModal(nullptr, [] {
                    VexlanClientConfigurationDialog::showSaveFailed(nullptr);
                    return wxID_OK;
                });
            }
            break;
        }
    }
    m_client.run();
    return true;
}

void VexlanMainFrame::onConnectionFailed(wxThreadEvent& event) {
    VexlanClientConnectionErrorDialog dialog(this);
    dialog.Bind(wxEVT_BUTTON, FshowConfigurationDialog{this, &dialog},
                ConnectionErrorDialog::ID_SETTINGS_BUTTON);
    dialog.setDetails(event.GetString());
    switch (showModal(dialog)) {
        case VexlanClientConnectionErrorDialog::kQuit:
            Close(true);
            break;
        case VexlanClientConnectionErrorDialog::kRetry:
            restartClient();
            break;
        default:  // dismissed: the client stays idle, the tray icon remains
            break;
    }
}

void VexlanMainFrame::restartClient() {
    m_client.stopSubClient();
    // The failed run sent its last notification just before it ended; a thread that still
    // runs would not be started again.
    m_client.wait(kRunEndWaitMs);
    m_client.run();
}

void VexlanMainFrame::onStatusChanged(wxThreadEvent& event) {
    if (!m_notificationPanel && event.GetInt() != vexlan::kStatusSessionOver)
        return;
    switch (static_cast<vexlan::ClientStatus>(event.GetInt())) {
        case vexlan::kStatusIdle:
            m_notificationPanel->showStatus(_("STATUS_IDLE"));
            break;
        case vexlan::kStatusDownloading:
            m_notificationPanel->showStatus(_("STATUS_DOWNLOADING_COMPENENTS"));
            break;
        case vexlan::kStatusConnected:
            m_notificationPanel->showStatus(_("STATUS_CONNECTED"));
            break;
        case vexlan::kStatusSessionOver:
            Close(true);
            break;
        case vexlan::kStatusHostChecking:
            m_notificationPanel->showStatus(_("HOSTCHECKING"));
            break;
        default:
            m_notificationPanel->showStatus(wxString());
            break;
    }
}

void VexlanMainFrame::onMediationFailed(wxThreadEvent& /*event*/) {
    showModal(MessageBoxRequest{this, _("UNKNOWN_ERROR_HAS_OCCURED"), _("Error"),
                                wxOK | wxCENTRE | wxICON_ERROR, wxID_EXIT});
    Close(true);
}

void VexlanMainFrame::onSessionType(wxThreadEvent& event) {
    if (event.GetInt() == vexlan::kSessionHostChecker)
        hideTrayIcon();
}

void VexlanMainFrame::onClose(wxCloseEvent& event) {
    if (!m_modalDialogs.empty()) {
        // Destroying the frame now would delete its child dialogs, the client and the tray
        // under running modal loops: the dialogs end as Cancel, innermost first, and the
        // frame closes after the outermost has returned (runModal). Not skipped, so even a
        // forced close leaves the frame in place until then.
        if (!m_closeRequested) {
            tessel::log(0, "VexlanMainFrame", "onClose",
                        "Close requested with " +
                            tessel::String(static_cast<uint32_t>(m_modalDialogs.size())) +
                            " open dialogs: they end first");
        }
        m_closeRequested = true;
        m_closeForced = m_closeForced || !event.CanVeto();
        endInnermostDialog();
        if (event.CanVeto())
            event.Veto();
        return;
    }
    m_client.stopSubClient();
    hideTrayIcon();
    if (event.CanVeto() && m_client.isRunning()) {
        // The run was asked to stop; its end (status 4) closes the frame again, with force.
        event.Veto();
        return;
    }
    event.Skip();
}

void VexlanMainFrame::onQueryEndSession(wxCloseEvent& /*event*/) {
    tessel::log(0, "VexlanMainFrame", "onQueryEndSession",
                "The desktop session is ending: the program closes");
    // The frame's own rule: open dialogs end, the session is stopped and its end closes the
    // frame. Its veto while the session ends is not passed on to the system.
    Close(false);
}

void VexlanMainFrame::onEndSession(wxCloseEvent& event) {
    m_client.stopSubClient();
    hideTrayIcon();
    if (m_client.isRunning() && !m_client.wait(kSessionEndWaitMs)) {
        tessel::log(2, "VexlanMainFrame", "onEndSession",
                    "The session did not end before the desktop session");
    }
    if (m_modalDialogs.empty())
        event.Skip();
}
