// The confirmation dialog asked before a new gateway is contacted: its texts, its results, and
// Cancel as the answer to a reflexive Enter.
#include "vexlanclient/gui/gatewayconfirmationdialog.h"

#include <functional>

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/stattext.h>

#include "gui_test_support.h"

namespace {

using vexlan::guitest::click;
using vexlan::guitest::runModal;

class DialogProbe : public VexlanClientGatewayConfirmationDialog {
public:
    using VexlanClientGatewayConfirmationDialog::VexlanClientGatewayConfirmationDialog;
    wxButton* connect() const { return m_connectButton; }
    wxButton* cancel() const { return m_cancelButton; }
    wxStaticText* gateway() const { return m_gateway; }
    wxStaticText* question() const { return m_question; }
    wxStaticText* warning() const { return m_warning; }
};

TEST(GatewayConfirmationDialogTest, NamesTheGatewayAndWhatConnectingMeans) {
    DialogProbe dialog(nullptr, wxS("gw.example.com:8443"));
    EXPECT_EQ(dialog.GetTitle(), wxS("GATEWAY_CONFIRM_TITLE"));
    EXPECT_EQ(dialog.question()->GetLabel(), wxS("GATEWAY_CONFIRM_QUESTION"));
    EXPECT_EQ(dialog.warning()->GetLabel(), wxS("GATEWAY_CONFIRM_WARNING"));
    EXPECT_EQ(dialog.gateway()->GetLabelText(), wxS("gw.example.com:8443"));
    EXPECT_EQ(dialog.connect()->GetLabel(), wxS("GATEWAY_CONNECT"));
    EXPECT_EQ(dialog.connect()->GetId(), GatewayConfirmationDialog::ID_CONNECT_BUTTON);
    EXPECT_EQ(dialog.cancel()->GetId(), wxID_CANCEL);
    EXPECT_EQ(dialog.GetName(), wxS("dialog"));
    // Enter chooses Cancel.
    EXPECT_EQ(dialog.GetDefaultItem(), dialog.cancel());
}

// Shown, the dialog keeps Cancel for Enter (on Windows the focused button takes Enter).
TEST(GatewayConfirmationDialogTest, CancelStaysTheDefaultOnceShown) {
    DialogProbe dialog(nullptr, wxS("gw.example.com"));
    wxWindow* shownDefault = nullptr;
    const int result = runModal(dialog, [&] {
        shownDefault = dialog.GetDefaultItem();
        click(dialog.cancel());
    });
    EXPECT_EQ(shownDefault, dialog.cancel());
    EXPECT_EQ(result, wxID_CANCEL);
}

TEST(GatewayConfirmationDialogTest, AGatewayWithMarkupIsShownAsItIs) {
    DialogProbe dialog(nullptr, wxS("a&b.example"));
    EXPECT_EQ(dialog.gateway()->GetLabelText(), wxS("a&b.example"));
}

TEST(GatewayConfirmationDialogTest, ConnectCancelAndTheCloseBox) {
    struct Case {
        const char* name;
        std::function<void(DialogProbe&)> answer;
        int result;
    };
    const Case cases[] = {
        {"Connect", [](DialogProbe& d) { click(d.connect()); },
         VexlanClientGatewayConfirmationDialog::kConnect},
        {"Cancel", [](DialogProbe& d) { click(d.cancel()); }, wxID_CANCEL},
        {"close box", [](DialogProbe& d) { d.Close(); }, wxID_CANCEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DialogProbe dialog(nullptr, wxS("gw.example.com"));
        EXPECT_EQ(runModal(dialog, [&] { c.answer(dialog); }), c.result);
    }
    EXPECT_NE(VexlanClientGatewayConfirmationDialog::kConnect, wxID_CANCEL);
}

}  // namespace
