#include "vexlanclient/gui/statusnotifieritem.h"

#include <gtest/gtest.h>
#include <wx/image.h>
#include <wx/menu.h>

#include "vexlanclient/gui/artprovider.h"
#include "vexlanclient/gui/statusnotifiertray.h"
#include "vexlanclient/gui/systrayicon.h"

namespace {

TEST(StatusNotifierItemTest, PixelsGoAlphaFirstThenRedGreenBlue) {
    const uint8_t rgb[] = {0x10, 0x20, 0x30, 0xff, 0x00, 0x00, 0x00, 0x80, 0x00};
    const uint8_t alpha[] = {0x00, 0x7f, 0xff};
    const vexlan::TrayPixmap translucent = vexlan::trayPixmap(3, 1, rgb, alpha);
    EXPECT_EQ(translucent.width, 3);
    EXPECT_EQ(translucent.height, 1);
    EXPECT_EQ(translucent.argb, (std::vector<uint8_t>{0x00, 0x10, 0x20, 0x30, 0x7f, 0xff, 0x00,
                                                      0x00, 0xff, 0x00, 0x80, 0x00}));
    // Without alpha every pixel is opaque; rows follow each other top to bottom.
    const vexlan::TrayPixmap opaque = vexlan::trayPixmap(1, 3, rgb, nullptr);
    EXPECT_EQ(opaque.argb, (std::vector<uint8_t>{0xff, 0x10, 0x20, 0x30, 0xff, 0xff, 0x00, 0x00,
                                                 0xff, 0x00, 0x80, 0x00}));
    EXPECT_TRUE(vexlan::trayPixmap(0, 3, rgb, alpha).argb.empty());
    EXPECT_TRUE(vexlan::trayPixmap(3, -1, rgb, alpha).argb.empty());
}

TEST(StatusNotifierItemTest, MenuLabelsCarryDbusMenuMnemonics) {
    const struct {
        const char* ours;
        const char* dbusmenu;
    } cases[] = {
        {"&About", "_About"},
        {"\xc3\x9c&ber", "\xc3\x9c_ber"},  // the marker after a two-byte character
        {"Save && Quit", "Save & Quit"},
        {"&&&x", "&_x"},
        {"snake_case", "snake__case"},
        {"&snake_case", "_snake__case"},
        {"Exit&", "Exit"},
        {"Settings\xe2\x80\xa6", "Settings\xe2\x80\xa6"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vexlan::dbusMenuLabel(c.ours), c.dbusmenu) << c.ours;
}

// The item's pictures are the logo's, pixel for pixel, transparency included, and its menu is
// the icon's popup menu with the same ids in the same order.
TEST(StatusNotifierTrayTest, DescriptionHoldsTheLogoAndTheIconsMenu) {
    VexlanSystrayIcon icon;
    const vexlan::TrayItemDescription description = statusNotifierDescription(icon);
    const wxIconBundle bundle = VexlanClientArtProvider::logoBundle(wxART_OTHER);
    ASSERT_EQ(description.pixmaps.size(), bundle.GetIconCount());
    for (size_t i = 0; i < bundle.GetIconCount(); ++i) {
        wxImage image = wxBitmap(bundle.GetIconByIndex(i)).ConvertToImage();
        if (!image.HasAlpha())
            image.InitAlpha();
        const vexlan::TrayPixmap& pixmap = description.pixmaps[i];
        ASSERT_EQ(pixmap.width, image.GetWidth());
        ASSERT_EQ(pixmap.height, image.GetHeight());
        ASSERT_EQ(pixmap.argb.size(), static_cast<size_t>(pixmap.width * pixmap.height * 4));
        bool sawTransparent = false;
        for (int y = 0; y < pixmap.height; ++y) {
            for (int x = 0; x < pixmap.width; ++x) {
                const uint8_t* p = &pixmap.argb[4 * (static_cast<size_t>(y) * pixmap.width + x)];
                ASSERT_EQ(p[0], image.GetAlpha(x, y)) << x << "," << y;
                ASSERT_EQ(p[1], image.GetRed(x, y)) << x << "," << y;
                ASSERT_EQ(p[2], image.GetGreen(x, y)) << x << "," << y;
                ASSERT_EQ(p[3], image.GetBlue(x, y)) << x << "," << y;
                sawTransparent = sawTransparent || p[0] == 0;
            }
        }
        EXPECT_TRUE(sawTransparent) << "the logo's corners are transparent: " << pixmap.width;
    }

    std::unique_ptr<wxMenu> menu(icon.CreatePopupMenu());
    ASSERT_EQ(description.menu.size(), menu->GetMenuItemCount());
    for (size_t i = 0; i < description.menu.size(); ++i) {
        const wxMenuItem* item = menu->FindItemByPosition(i);
        const vexlan::TrayMenuEntry& entry = description.menu[i];
        EXPECT_EQ(entry.separator, item->IsSeparator()) << i;
        if (!entry.separator) {
            EXPECT_EQ(entry.id, item->GetId()) << i;
            EXPECT_EQ(entry.label, item->GetItemLabel().utf8_string()) << i;
        }
        EXPECT_GT(entry.id, 0) << i;
    }
}

}  // namespace
