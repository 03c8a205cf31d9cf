// The connection-error dialog: its results, its default button, the Settings button that the
// main frame binds, and the details text.
#include "vexlanclient/gui/connectionerrordialog.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/frame.h>
#include <wx/stattext.h>

#include "gui_test_support.h"

namespace {

using vexlan::guitest::click;
using vexlan::guitest::runModal;

class DialogProbe : public VexlanClientConnectionErrorDialog {
public:
    using VexlanClientConnectionErrorDialog::VexlanClientConnectionErrorDialog;
    wxButton* settings() const { return m_settingsButton; }
    wxButton* retry() const { return m_retryButton; }
    wxButton* quit() const { return m_quitButton; }
    wxStaticText* details() const { return m_details; }
    wxStaticText* message() const { return m_message; }
};

class ConnectionErrorDialogTest : public ::testing::Test {
protected:
    void SetUp() override { m_frame = new wxFrame(nullptr, wxID_ANY, wxS("main")); }
    void TearDown() override { m_frame->Destroy(); }
    wxFrame* m_frame = nullptr;
};

TEST_F(ConnectionErrorDialogTest, FormShowsTheKeysAndTheButtons) {
    DialogProbe dialog(m_frame);
    EXPECT_EQ(dialog.GetTitle(), wxS("Error"));
    EXPECT_EQ(dialog.GetParent(), m_frame);
    EXPECT_EQ(dialog.message()->GetLabel(), wxS("CONNECTION_ERROR"));
    EXPECT_EQ(dialog.settings()->GetId(), ConnectionErrorDialog::ID_SETTINGS_BUTTON);
    EXPECT_EQ(ConnectionErrorDialog::ID_SETTINGS_BUTTON, 1000);
    EXPECT_EQ(dialog.settings()->GetLabel(), wxS("Settings"));
    EXPECT_EQ(dialog.retry()->GetLabel(), wxS("Retry"));
    EXPECT_EQ(dialog.quit()->GetLabel(), wxS("Quit"));
    EXPECT_EQ(dialog.quit()->GetId(), wxID_EXIT);
    // Enter chooses Retry.
    EXPECT_EQ(dialog.GetDefaultItem(), dialog.retry());
    EXPECT_EQ(dialog.GetName(), wxS("dialog"));
}

TEST_F(ConnectionErrorDialogTest, RetryGivesTwo) {
    DialogProbe dialog(m_frame);
    EXPECT_EQ(runModal(dialog, [&] { click(dialog.retry()); }),
              VexlanClientConnectionErrorDialog::kRetry);
    EXPECT_EQ(VexlanClientConnectionErrorDialog::kRetry, 2);
}

// Shown, the dialog keeps Retry for Enter: the button that has the focus when the dialog opens
// would otherwise become the default one where the focused button takes Enter (Windows).
TEST_F(ConnectionErrorDialogTest, RetryStaysTheDefaultOnceShown) {
    DialogProbe dialog(m_frame);
    wxWindow* shownDefault = nullptr;
    const int result = runModal(dialog, [&] {
        shownDefault = dialog.GetDefaultItem();
        click(dialog.retry());
    });
    EXPECT_EQ(shownDefault, dialog.retry());
    EXPECT_EQ(result, VexlanClientConnectionErrorDialog::kRetry);
}

TEST_F(ConnectionErrorDialogTest, QuitGivesOne) {
    DialogProbe dialog(m_frame);
    EXPECT_EQ(runModal(dialog, [&] { click(dialog.quit()); }),
              VexlanClientConnectionErrorDialog::kQuit);
    EXPECT_EQ(VexlanClientConnectionErrorDialog::kQuit, 1);
}

TEST_F(ConnectionErrorDialogTest, TheCloseBoxGivesCancel) {
    DialogProbe dialog(m_frame);
    EXPECT_EQ(runModal(dialog, [&] { dialog.Close(); }), wxID_CANCEL);
}

TEST_F(ConnectionErrorDialogTest, SettingsRunsWhatTheOwnerBoundAndKeepsTheDialogOpen) {
    DialogProbe dialog(m_frame);
    int settingsOpened = 0;
    dialog.Bind(
        wxEVT_BUTTON, [&](wxCommandEvent&) { ++settingsOpened; },
        ConnectionErrorDialog::ID_SETTINGS_BUTTON);
    const int result = runModal(dialog, [&] {
        click(dialog.settings());
        EXPECT_TRUE(dialog.IsModal());
        click(dialog.retry());
    });
    EXPECT_EQ(settingsOpened, 1);
    EXPECT_EQ(result, VexlanClientConnectionErrorDialog::kRetry);
}

TEST_F(ConnectionErrorDialogTest, DetailsShowTheErrorTextAsItIs) {
    DialogProbe dialog(m_frame);
    const wxString text = wxS("Could not resolve host: gw.example.com?a=1&b=2");
    dialog.setDetails(text);
    EXPECT_EQ(dialog.details()->GetLabelText(), text);
    EXPECT_GE(dialog.details()->GetSize().GetHeight(), 100);
    EXPECT_TRUE(dialog.details()->HasFlag(wxBORDER_STATIC));
}

TEST_F(ConnectionErrorDialogTest, LongDetailsAreWrappedNotWidened) {
    DialogProbe dialog(m_frame);
    wxString text;
    for (int i = 0; i < 40; ++i)
        text += wxS("word ");
    dialog.setDetails(text);
    EXPECT_LT(dialog.GetSize().GetWidth(), 600);
    EXPECT_EQ(dialog.details()->GetLabelText().Freq(wxS('w')), 40);
}

}  // namespace
