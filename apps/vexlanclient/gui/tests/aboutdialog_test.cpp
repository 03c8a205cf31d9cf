// The about box: its texts, its logo and its result.
#include "vexlanclient/gui/aboutdialog.h"

#include <gtest/gtest.h>
#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "gui_test_support.h"
#include "vexlanclient/gui/artprovider.h"

namespace {

class AboutProbe : public VexlanClientAboutDialog {
public:
    wxStaticText* version() const { return m_version; }
    wxStaticText* productName() const { return m_productName; }
    wxStaticText* copyright() const { return m_copyright; }
    wxStaticBitmap* logo() const { return m_logo; }
    wxButton* close() const { return m_closeButton; }
};

TEST(AboutDialogTest, ShowsTheProductVersionNotTheFormPlaceholder) {
    AboutProbe dialog;
    EXPECT_EQ(dialog.version()->GetLabel(), wxS("8.4.0.24"));
    EXPECT_EQ(dialog.GetTitle(), wxS("VexlanClient"));
    EXPECT_EQ(dialog.GetParent(), nullptr);
    EXPECT_EQ(dialog.productName()->GetLabel(), wxS("VexlanClient"));
    EXPECT_TRUE(dialog.productName()->GetFont().GetWeight() == wxFONTWEIGHT_BOLD);
    EXPECT_EQ(dialog.copyright()->GetLabel(), wxS("ABOUT_COPYRIGHT"));
    EXPECT_EQ(dialog.close()->GetId(), wxID_CLOSE);
    EXPECT_FALSE(dialog.close()->GetLabel().empty());  // the stock label
    EXPECT_EQ(dialog.GetDefaultItem(), dialog.close());
}

TEST(AboutDialogTest, CloseGivesZeroAndTheCloseBoxCancel) {
    {
        AboutProbe dialog;
        EXPECT_EQ(
            vexlan::guitest::runModal(dialog, [&] { vexlan::guitest::click(dialog.close()); }), 0);
    }
    {
        AboutProbe dialog;
        EXPECT_EQ(vexlan::guitest::runModal(dialog, [&] { dialog.Close(); }), wxID_CANCEL);
    }
}

TEST(AboutDialogTest, ShowsTheLargeLogo) {
    auto* provider = new VexlanClientArtProvider;
    wxArtProvider::Push(provider);
    {
        AboutProbe dialog;
        EXPECT_EQ(dialog.logo()->GetBitmap().GetSize(), wxSize(64, 64));
    }
    wxArtProvider::Delete(provider);
}

}  // namespace
