// The program's icon in the notification area and its menu: settings, the plugin's logs,
// about, and exit.
#pragma once

#include <wx/event.h>
#include <wx/menu.h>
#include <wx/taskbar.h>

class VexlanSystrayIcon : public wxTaskBarIcon {
public:
    static constexpr int ID_MENU_LOGS = 10001;
    static constexpr int ID_MENU_SETTINGS = 10002;

    VexlanSystrayIcon() = default;

    // Settings, logs, a separator, about, exit; the caller owns the menu.
    wxMenu* CreatePopupMenu() override;

    // The menu's handlers; they reach the frame through theMainFrame().
    void onExit(wxCommandEvent& event);
    void onLogs(wxCommandEvent& event);
    void onSettings(wxCommandEvent& event);
    void onAbout(wxCommandEvent& event);
    void onLeftUp(wxTaskBarIconEvent& event);

private:
    wxDECLARE_EVENT_TABLE();
};
