// The art provider against the images the build puts beside the test program, and against a
// folder without images or with a damaged one.
#include "vexlanclient/gui/artprovider.h"

#include <gtest/gtest.h>
#include <wx/artprov.h>
#include <wx/filename.h>
#include <wx/image.h>

#include "gui_test_support.h"
#include "sandbox.h"

namespace {

using vexlan::guitest::LogCounter;

// A provider whose images folder the test chooses; it also opens the creation hooks.
class ProviderProbe : public VexlanClientArtProvider {
public:
    explicit ProviderProbe(wxString folder) : m_folder(std::move(folder)) {}
    using VexlanClientArtProvider::CreateBitmap;
    using VexlanClientArtProvider::CreateIconBundle;

protected:
    wxString imagesFolder() const override {
        return m_folder.empty() ? VexlanClientArtProvider::imagesFolder() : m_folder;
    }

private:
    wxString m_folder;
};

class ArtProviderTest : public ::testing::Test {
protected:
    void push(const wxString& folder = wxString()) {
        m_provider = new ProviderProbe(folder);
        wxArtProvider::Push(m_provider);
    }
    void TearDown() override {
        if (m_provider)
            wxArtProvider::Delete(m_provider);
    }
    ProviderProbe* m_provider = nullptr;
};

TEST_F(ArtProviderTest, ImagesFolderIsBesideTheExecutable) {
    wxFileName expected(vexlan::guitest::executablePath());
    expected.AppendDir(wxS("img"));
    EXPECT_EQ(VexlanClientArtProvider::defaultImagesFolder(),
              expected.GetPath(wxPATH_GET_VOLUME | wxPATH_GET_SEPARATOR));
    EXPECT_TRUE(VexlanClientArtProvider::defaultImagesFolder().EndsWith(
        wxString(wxFileName::GetPathSeparator()) + wxS("img") + wxFileName::GetPathSeparator()));
}

TEST_F(ArtProviderTest, EverySmallPictureIsASixteenPixelImageWithTransparency) {
    push();
    const wxArtID ids[] = {VEXLAN_ART_CONFIG, VEXLAN_ART_STOP, VEXLAN_ART_LOGS, VEXLAN_ART_VPN,
                           VEXLAN_ART_PLUGIN};
    for (const wxArtID& id : ids) {
        SCOPED_TRACE(id.ToStdString());
        const wxBitmap bitmap = m_provider->CreateBitmap(id, wxART_OTHER, wxDefaultSize);
        ASSERT_TRUE(bitmap.IsOk());
        EXPECT_EQ(bitmap.GetSize(), wxSize(16, 16));
        const wxImage image = bitmap.ConvertToImage();
        ASSERT_TRUE(image.HasAlpha());
        EXPECT_EQ(image.GetAlpha(0, 0), 0);   // a transparent corner
        EXPECT_GT(image.CountColours(), 3u);  // and a drawing
        // Client and size are not looked at.
        EXPECT_EQ(m_provider->CreateBitmap(id, wxART_MENU, wxSize(48, 48)).GetSize(),
                  wxSize(16, 16));
    }
}

TEST_F(ArtProviderTest, LogoBundleHoldsEverySize) {
    push();
    const wxIconBundle bundle = m_provider->CreateIconBundle(VEXLAN_ART_LOGO, wxART_OTHER);
    ASSERT_FALSE(bundle.IsEmpty());
    for (int size : {16, 24, 32, 48, 64}) {
        const wxIcon icon = bundle.GetIcon(wxSize(size, size), wxIconBundle::FALLBACK_NONE);
        ASSERT_TRUE(icon.IsOk()) << size;
        EXPECT_EQ(icon.GetWidth(), size);
    }
    EXPECT_TRUE(m_provider->CreateIconBundle(VEXLAN_ART_CONFIG, wxART_OTHER).IsEmpty());
    EXPECT_EQ(VexlanClientArtProvider::logoBundle().GetIconCount(), 5u);
}

struct LogoSizeCase {
    const char* client;
    wxSize requested;
    wxSize expected;
};

TEST_F(ArtProviderTest, LogoBitmapSizeDependsOnClientAndRequest) {
    push();
    const LogoSizeCase cases[] = {
        {wxART_MESSAGE_BOX, wxDefaultSize, wxSize(64, 64)},
        {wxART_MESSAGE_BOX, wxSize(16, 16), wxSize(64, 64)},
        {wxART_OTHER, wxDefaultSize, wxSize(16, 16)},
        {wxART_OTHER, wxSize(32, 32), wxSize(32, 32)},
        {wxART_MENU, wxSize(48, 48), wxSize(48, 48)},
    };
    for (const LogoSizeCase& c : cases) {
        const wxBitmap bitmap = m_provider->CreateBitmap(VEXLAN_ART_LOGO, c.client, c.requested);
        ASSERT_TRUE(bitmap.IsOk()) << c.client;
        EXPECT_EQ(bitmap.GetSize(), c.expected) << c.client;
    }
    // Through the provider stack, as the windows ask for it.
    EXPECT_EQ(wxArtProvider::GetBitmap(VEXLAN_ART_LOGO, wxART_MESSAGE_BOX).GetSize(),
              wxSize(64, 64));
    EXPECT_EQ(wxArtProvider::GetBitmap(VEXLAN_ART_LOGO, wxART_OTHER).GetSize(), wxSize(16, 16));
}

TEST_F(ArtProviderTest, OtherIdentifiersFallThroughToTheStockProviders) {
    push();
    EXPECT_FALSE(m_provider->CreateBitmap(wxART_WARNING, wxART_CMN_DIALOG, wxDefaultSize).IsOk());
    EXPECT_FALSE(
        m_provider->CreateBitmap(wxS("vexlan-unknown"), wxART_OTHER, wxDefaultSize).IsOk());
    EXPECT_TRUE(wxArtProvider::GetBitmap(wxART_WARNING, wxART_CMN_DIALOG).IsOk());
}

TEST_F(ArtProviderTest, WithoutImagesEveryPictureIsEmptyAndNothingIsReported) {
    vexlan::testing::TempDir empty;
    push(wxString::FromUTF8(empty.path() + "/img/"));
    LogCounter log;
    EXPECT_FALSE(wxArtProvider::GetBitmap(VEXLAN_ART_CONFIG, wxART_OTHER).IsOk());
    EXPECT_FALSE(wxArtProvider::GetBitmap(VEXLAN_ART_LOGO, wxART_MESSAGE_BOX).IsOk());
    EXPECT_TRUE(VexlanClientArtProvider::logoBundle().IsEmpty());
    EXPECT_EQ(log.count(), 0) << log.last().utf8_str();
}

TEST_F(ArtProviderTest, DamagedImagesAreEmptyAndNothingIsReported) {
    vexlan::testing::TempDir folder;
    vexlan::testing::writeFile(folder.file("config.png"), "not a picture");
    vexlan::testing::writeFile(folder.file("vexlan.ico"), std::string(64, '\x01'));
    push(wxString::FromUTF8(folder.path() + "/"));
    LogCounter log;
    EXPECT_FALSE(m_provider->CreateBitmap(VEXLAN_ART_CONFIG, wxART_OTHER, wxDefaultSize).IsOk());
    EXPECT_FALSE(m_provider->CreateBitmap(VEXLAN_ART_LOGO, wxART_OTHER, wxDefaultSize).IsOk());
    EXPECT_TRUE(m_provider->CreateIconBundle(VEXLAN_ART_LOGO, wxART_OTHER).IsEmpty());
    EXPECT_EQ(log.count(), 0) << log.last().utf8_str();
}

}  // namespace
