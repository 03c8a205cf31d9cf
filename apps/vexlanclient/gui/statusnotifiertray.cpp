#include "vexlanclient/gui/statusnotifiertray.h"

#include <wx/bitmap.h>
#include <wx/iconbndl.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/mstream.h>

#include "vexlanclient/gui/artprovider.h"
#include "vexlanclient/gui/systrayicon.h"

namespace {

vexlan::TrayPixmap argbPixmap(const wxBitmap& bitmap) {
    wxImage image = bitmap.ConvertToImage();
    if (image.HasMask() && !image.HasAlpha())
        image.InitAlpha();
    return vexlan::trayPixmap(image.GetWidth(), image.GetHeight(), image.GetData(),
                              image.HasAlpha() ? image.GetAlpha() : nullptr);
}

std::vector<uint8_t> pngBytes(const wxBitmap& bitmap) {
    if (!bitmap.IsOk())
        return {};
    wxMemoryOutputStream stream;
    if (!bitmap.ConvertToImage().SaveFile(stream, wxBITMAP_TYPE_PNG))
        return {};
    std::vector<uint8_t> bytes(stream.GetSize());
    stream.CopyTo(bytes.data(), bytes.size());
    return bytes;
}

}  // namespace

vexlan::TrayItemDescription statusNotifierDescription(VexlanSystrayIcon& icon) {
    vexlan::TrayItemDescription description;
    description.id = "vexlanclient";
    description.title = "Vexlan Client";
    description.tooltip = "Vexlan Client";
    const wxIconBundle bundle = VexlanClientArtProvider::logoBundle(wxART_OTHER);
    for (size_t i = 0; i < bundle.GetIconCount(); ++i) {
        const wxIcon logo = bundle.GetIconByIndex(i);
        if (logo.IsOk())
            description.pixmaps.push_back(argbPixmap(logo));
    }
    std::unique_ptr<wxMenu> menu(icon.CreatePopupMenu());
    int separatorId = 1;
    for (const wxMenuItem* item : menu->GetMenuItems()) {
        vexlan::TrayMenuEntry entry;
        if (item->IsSeparator()) {
            entry.id = separatorId++;
            entry.separator = true;
        } else {
            entry.id = item->GetId();
            entry.label = item->GetItemLabel().utf8_string();
            entry.png = pngBytes(item->GetBitmap());
        }
        description.menu.push_back(std::move(entry));
    }
    return description;
}

std::unique_ptr<vexlan::StatusNotifierItem> createStatusNotifierItem(VexlanSystrayIcon& icon) {
    VexlanSystrayIcon* target = &icon;
    return std::make_unique<vexlan::StatusNotifierItem>(statusNotifierDescription(icon),
                                                        [target](int id) {
                                                            wxCommandEvent event(wxEVT_MENU, id);
                                                            target->ProcessEvent(event);
                                                        });
}
