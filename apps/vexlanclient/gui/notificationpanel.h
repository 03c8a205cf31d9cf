// The notification panel: a small always-on-top window in the bottom-right corner of the work
// area that shows the client's statuses for two seconds and holds the tunnel plugin's states.
#pragma once

#include <wx/event.h>
#include <wx/frame.h>
#include <wx/string.h>
#include <wx/timer.h>

class VexlanSystrayIcon;
class wxButton;
class wxContextMenuEvent;
class wxStaticBitmap;
class wxStaticLine;
class wxStaticText;

// The form: builds the controls and their layout, nothing else.
class NotificationPanel : public wxFrame {
public:
    NotificationPanel(wxWindow* parent, wxWindowID id = wxID_ANY,
                      const wxString& title = wxEmptyString, const wxPoint& pos = wxDefaultPosition,
                      const wxSize& size = wxSize(341, 129),
                      long style = wxFRAME_NO_TASKBAR | wxFRAME_SHAPED | wxSTAY_ON_TOP |
                                   wxBORDER_SIMPLE);
    ~NotificationPanel() override = default;

protected:
    wxStaticBitmap* m_logo;
    wxStaticText* m_title;
    wxStaticLine* m_separator;
    wxStaticBitmap* m_pluginIcon;
    wxStaticText* m_statusLine;
    wxStaticBitmap* m_tunnelIcon;
    wxStaticText* m_tunnelLine;
};

// The behaviour. Two modes: status mode (a client status on the status line, tunnel row hidden,
// the panel hides itself after two timer ticks) and plugin mode (status line "Connected", the
// tunnel row shows the plugin's state, the panel stays until clicked). Once a plugin text is
// held, client statuses are ignored until the plugin reports the empty text.
// Without any tray the panel stands in for it (enableTrayMenu): it no longer hides itself, and
// its context menu and a small menu button hold the tray's entries.
// Everything runs on the user-interface thread; the owner (the main frame) destroys it.
class VexlanClientNotificationPanel : public NotificationPanel {
public:
    explicit VexlanClientNotificationPanel(wxWindow* parent);
    ~VexlanClientNotificationPanel() override;

    // Shows a client status (already translated) for two timer periods.
    void showStatus(const wxString& text);
    // A status text of the tunnel plugin, carried as the event's string.
    void onMessage(wxThreadEvent& event);
    // Every second: the dots of the animation, and the end of a status display.
    void onTimer(wxTimerEvent& event);
    // A click on the panel's own background hides it.
    void onLeftUp(wxMouseEvent& event);

    // From now on the panel stays on screen, and its context menu and menu button show the
    // tray's popup menu, whose entries reach `tray`'s handlers (not owned; it must outlive
    // the panel or disableTrayMenu must be called first).
    void enableTrayMenu(VexlanSystrayIcon* tray);
    // Takes the menu away again (a host check, the program closing); the panel still stays.
    void disableTrayMenu();
    bool hasTrayMenu() const { return m_tray != nullptr; }
    // The menu button, null unless the tray menu was enabled.
    wxButton* trayMenuButton() const { return m_menuButton; }
    // Shows the tray's menu at `position` (client coordinates) and returns after it closed.
    void popupTrayMenu(const wxPoint& position);

    // What the status line and the tunnel line show.
    wxString statusText() const;
    wxString tunnelText() const;

protected:
    void showWithEffect();
    // Logs the panel's first appearance on screen, once.
    void onFirstPaint(wxPaintEvent& event);
    // Shows the tunnel row again and puts "Connected" on the status line.
    void restorePluginLayout();
    void setTunnelText(const wxString& text);
    void onContextMenu(wxContextMenuEvent& event);
    void onMenuButton(wxCommandEvent& event);
    void onTrayMenuEntry(wxCommandEvent& event);

    wxTimer m_timer;
    wxString m_baseText;     // the tunnel line without its dots
    wxString m_lastMessage;  // the last plugin text received
    unsigned m_dots = 0;     // 0 to 3
    bool m_animating = false;
    bool m_statusShown = false;   // a client status is on display and the panel is due to hide
    int m_ticks = 0;              // timer ticks counted while a client status is on display
    bool m_statusLayout = false;  // the tunnel row is hidden for a client status
    bool m_keepShown = false;     // no tray: the panel never hides itself
    VexlanSystrayIcon* m_tray = nullptr;  // the tray menu's handlers, while the menu is on
    wxButton* m_menuButton = nullptr;
};
