#include "vexlanclient/gui/systrayicon.h"

#include <memory>

#include <wx/artprov.h>

#include "vexlanclient/gui/aboutdialog.h"
#include "vexlanclient/gui/artprovider.h"
#include "vexlanclient/gui/mainframe.h"

namespace {

void appendItem(wxMenu* menu, int id, const wxString& label, const wxArtID& art) {
    auto* item = new wxMenuItem(menu, id, label, wxEmptyString, wxITEM_NORMAL);
    if (!art.empty()) {
        const wxBitmap bitmap = wxArtProvider::GetBitmap(art, wxART_OTHER);
        if (bitmap.IsOk())
            item->SetBitmap(bitmap);
    }
    menu->Append(item);
}

}  // namespace

// clang-format off
wxBEGIN_EVENT_TABLE(VexlanSystrayIcon, wxTaskBarIcon)
    EVT_MENU(wxID_EXIT, VexlanSystrayIcon::onExit)
    EVT_MENU(VexlanSystrayIcon::ID_MENU_LOGS, VexlanSystrayIcon::onLogs)
    EVT_MENU(VexlanSystrayIcon::ID_MENU_SETTINGS, VexlanSystrayIcon::onSettings)
    EVT_MENU(wxID_ABOUT, VexlanSystrayIcon::onAbout)
    EVT_TASKBAR_LEFT_UP(VexlanSystrayIcon::onLeftUp)
wxEND_EVENT_TABLE()
    // clang-format on

    wxMenu* VexlanSystrayIcon::CreatePopupMenu() {
    auto* menu = new wxMenu;
    appendItem(menu, ID_MENU_SETTINGS, _("MENU_SETTINGS"), VEXLAN_ART_CONFIG);
    appendItem(menu, ID_MENU_LOGS, _("MENU_LOGS"), VEXLAN_ART_LOGS);
    menu->AppendSeparator();
    appendItem(menu, wxID_ABOUT, wxEmptyString, wxArtID());
    appendItem(menu, wxID_EXIT, wxEmptyString, VEXLAN_ART_STOP);
    return menu;
}

void VexlanSystrayIcon::onExit(wxCommandEvent& /*event*/) {
    VexlanMainFrame* frame = theMainFrame();
    if (!frame)
        return;
    if (frame->client().isRunning()) {
        // The session's end (status 4) closes the program; before a sub-client exists there
        // is nothing to stop.
        frame->client().stopSubClient();
        return;
    }
    frame->Close(true);
}

void VexlanSystrayIcon::onLogs(wxCommandEvent& /*event*/) {
    VexlanMainFrame* frame = theMainFrame();
    if (!frame)
        return;
    frame->client().executeSubClientCommands();
}

void VexlanSystrayIcon::onSettings(wxCommandEvent& /*event*/) {
    if (VexlanMainFrame* frame = theMainFrame())
        frame->showConfigurationDialog(nullptr);
}

void VexlanSystrayIcon::onAbout(wxCommandEvent& /*event*/) {
    VexlanClientAboutDialog dialog;
    // Through the frame: a close of the program ends the box before the frame goes.
    if (VexlanMainFrame* frame = theMainFrame())
        frame->showModal(dialog);
    else
        dialog.ShowModal();
}

void VexlanSystrayIcon::onLeftUp(wxTaskBarIconEvent& /*event*/) {
    std::unique_ptr<wxMenu> menu(CreatePopupMenu());
    PopupMenu(menu.get());
}
