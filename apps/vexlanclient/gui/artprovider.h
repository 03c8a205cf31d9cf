// The program's pictures: image files in the folder "img" beside the executable, served to the
// windows by art identifier. Identifiers it does not know fall through to the stock providers.
#pragma once

#include <wx/artprov.h>
#include <wx/iconbndl.h>
#include <wx/string.h>

// Art identifiers of the program's own pictures.
#define VEXLAN_ART_CONFIG wxART_MAKE_ART_ID_FROM_STR(wxS("vexlan-config"))
#define VEXLAN_ART_STOP wxART_MAKE_ART_ID_FROM_STR(wxS("vexlan-stop"))
#define VEXLAN_ART_LOGS wxART_MAKE_ART_ID_FROM_STR(wxS("vexlan-logs"))
#define VEXLAN_ART_VPN wxART_MAKE_ART_ID_FROM_STR(wxS("vexlan-vpn"))
#define VEXLAN_ART_PLUGIN wxART_MAKE_ART_ID_FROM_STR(wxS("vexlan-plugin"))
#define VEXLAN_ART_LOGO wxART_MAKE_ART_ID_FROM_STR(wxS("vexlan-logo"))

// Pushed once on the provider stack at start-up (wxArtProvider::Push takes ownership). Files
// are read afresh for every request; a missing or unreadable file gives a null bitmap or an
// empty bundle, without any message, so that the next provider is asked.
class VexlanClientArtProvider : public wxArtProvider {
public:
    // The images folder: the executable's folder followed by "img" and a separator.
    static wxString defaultImagesFolder();

    // The logo bundle from the provider stack, or an empty bundle when there is no logo.
    // (wxArtProvider::GetIconBundle falls back to a bundle of one icon and asserts when
    // that icon is missing too; windows ask here instead.)
    static wxIconBundle logoBundle(const wxArtClient& client = wxART_OTHER);

protected:
    wxBitmap CreateBitmap(const wxArtID& id, const wxArtClient& client,
                          const wxSize& size) override;
    wxIconBundle CreateIconBundle(const wxArtID& id, const wxArtClient& client) override;

    // Where the image files are looked up; the tests point it elsewhere.
    virtual wxString imagesFolder() const { return defaultImagesFolder(); }
};
