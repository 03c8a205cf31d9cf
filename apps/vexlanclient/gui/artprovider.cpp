#include "vexlanclient/gui/artprovider.h"

#include <wx/bitmap.h>
#include <wx/filename.h>
#include <wx/icon.h>
#include <wx/log.h>
#include <wx/stdpaths.h>

namespace {

// The PNG file behind one of the small pictures, or empty for an identifier of someone else.
wxString pngFileFor(const wxArtID& id) {
    if (id == VEXLAN_ART_CONFIG)
        return wxS("config.png");
    if (id == VEXLAN_ART_STOP)
        return wxS("close.png");
    if (id == VEXLAN_ART_LOGS)
        return wxS("log.png");
    if (id == VEXLAN_ART_VPN)
        return wxS("vpn.png");
    if (id == VEXLAN_ART_PLUGIN)
        return wxS("notification.png");
    return wxString();
}

}  // namespace

wxString VexlanClientArtProvider::defaultImagesFolder() {
    wxFileName folder(wxStandardPaths::Get().GetExecutablePath());
    folder.SetFullName(wxString());
    folder.AppendDir(wxS("img"));
    return folder.GetPath(wxPATH_GET_VOLUME | wxPATH_GET_SEPARATOR);
}

wxIconBundle VexlanClientArtProvider::logoBundle(const wxArtClient& client) {
    if (!wxArtProvider::GetBitmap(VEXLAN_ART_LOGO, client).IsOk())
        return wxIconBundle();
    return wxArtProvider::GetIconBundle(VEXLAN_ART_LOGO, client);
}

wxBitmap VexlanClientArtProvider::CreateBitmap(const wxArtID& id, const wxArtClient& client,
                                               const wxSize& size) {
    if (id == VEXLAN_ART_LOGO) {
        const wxIconBundle bundle = CreateIconBundle(id, client);
        if (bundle.IsEmpty())
            return wxNullBitmap;
        wxSize wanted = size;
        if (client == wxART_MESSAGE_BOX) {
            wanted = wxSize(64, 64);
        } else if (size == wxDefaultSize) {
            wanted = wxSize(16, 16);
        }
        const wxIcon icon = bundle.GetIcon(wanted, wxIconBundle::FALLBACK_SYSTEM);
        if (!icon.IsOk())
            return wxNullBitmap;
        wxBitmap bitmap;
        bitmap.CopyFromIcon(icon);
        return bitmap;
    }

    const wxString file = pngFileFor(id);
    if (file.empty())
        return wxNullBitmap;
    const wxString path = imagesFolder() + file;
    if (!wxFileName::FileExists(path))
        return wxNullBitmap;
    // A damaged file must not open a message box: the picture simply stays empty.
    wxLogNull quiet;
    wxBitmap bitmap;
    if (!bitmap.LoadFile(path, wxBITMAP_TYPE_PNG))
        return wxNullBitmap;
    return bitmap;
}

wxIconBundle VexlanClientArtProvider::CreateIconBundle(const wxArtID& id,
                                                       const wxArtClient& /*client*/) {
    if (id != VEXLAN_ART_LOGO)
        return wxNullIconBundle;
    const wxString path = imagesFolder() + wxS("vexlan.ico");
    if (!wxFileName::FileExists(path))
        return wxNullIconBundle;
    wxLogNull quiet;
    wxIconBundle bundle(path, wxBITMAP_TYPE_ICO);
    return bundle;
}
