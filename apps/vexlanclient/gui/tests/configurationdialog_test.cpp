// The settings dialog: the server list's editing rules, the values it gives back and its
// results.
#include "vexlanclient/gui/configurationdialog.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/listbox.h>
#include <wx/textctrl.h>

#include "gui_test_support.h"
#include "vexlanclient/gui/messagebox.h"

namespace {

using vexlan::guitest::click;
using vexlan::guitest::runModal;

class DialogProbe : public VexlanClientConfigurationDialog {
public:
    DialogProbe() : VexlanClientConfigurationDialog(nullptr) {}

    // Types into the domain field and presses Enter.
    void enter(const wxString& text) {
        m_domain->ChangeValue(text);
        wxCommandEvent event(wxEVT_TEXT_ENTER, m_domain->GetId());
        event.SetEventObject(m_domain);
        m_domain->ProcessWindowEvent(event);
    }
    void add(const wxString& text) {
        m_domain->ChangeValue(text);
        click(m_addButton);
    }
    // Selects entries as the mouse would: the list then reports the change.
    void select(std::initializer_list<int> indices) {
        m_domains->SetSelection(wxNOT_FOUND);
        for (int index : indices)
            m_domains->SetSelection(index);
        wxCommandEvent event(wxEVT_LISTBOX, m_domains->GetId());
        event.SetEventObject(m_domains);
        m_domains->ProcessWindowEvent(event);
    }
    wxString field() const { return m_domain->GetValue(); }
    std::vector<std::string> list() const {
        std::vector<std::string> out;
        for (const wxString& s : m_domains->GetStrings())
            out.push_back(s.ToStdString());
        return out;
    }
    wxButton* remove() const { return m_removeButton; }
    wxButton* save() const { return m_saveButton; }
    wxButton* cancel() const { return m_cancelButton; }
    wxCheckBox* useSystem() const { return m_useSystemProxy; }
    wxTextCtrl* passwordField() const { return m_password; }
};

using List = std::vector<std::string>;

TEST(ConfigurationDialogTest, FormStartsAsTheSettingsDialog) {
    DialogProbe dialog;
    EXPECT_EQ(dialog.GetTitle(), wxS("Settings"));
    EXPECT_TRUE(dialog.useSystem()->GetValue());
    EXPECT_FALSE(dialog.useSystem()->IsEnabled());
    EXPECT_FALSE(dialog.remove()->IsEnabled());
    EXPECT_TRUE(dialog.passwordField()->HasFlag(wxTE_PASSWORD));
    EXPECT_EQ(dialog.GetAffirmativeId(), wxID_SAVE);
    EXPECT_GE(dialog.GetSize().GetWidth(), 418);
    EXPECT_GE(dialog.GetSize().GetHeight(), 286);
    EXPECT_EQ(dialog.list(), List{});
}

TEST(ConfigurationDialogTest, EnterAddsTheNameAndEmptiesTheField) {
    DialogProbe dialog;
    dialog.enter(wxS("gw.example.com"));
    EXPECT_EQ(dialog.list(), List{"gw.example.com"});
    EXPECT_EQ(dialog.field(), wxS(""));
    dialog.enter(wxS(""));
    EXPECT_EQ(dialog.list(), List{"gw.example.com"});
}

TEST(ConfigurationDialogTest, AddFollowsTheListRules) {
    const struct {
        const char* typed;
        List listAfter;
        const char* fieldAfter;
    } steps[] = {
        {"gw.example.com:8443  \t", {"gw.example.com:8443"}, ""},  // trailing blanks go
        {"   ", {"gw.example.com:8443"}, "   "},                   // nothing to add
        {"GW.example.com:8443", {"GW.example.com:8443", "gw.example.com:8443"}, ""},
        {"gw.example.com:8443", {"GW.example.com:8443", "gw.example.com:8443"}, ""},  // there
        {" lead.example", {" lead.example", "GW.example.com:8443", "gw.example.com:8443"}, ""},
        // The list sorts as the toolkit does: letters without regard to case.
        {"a.example",
         {" lead.example", "a.example", "GW.example.com:8443", "gw.example.com:8443"},
         ""},
    };
    DialogProbe dialog;
    for (const auto& step : steps) {
        dialog.add(wxString::FromUTF8(step.typed));
        EXPECT_EQ(dialog.list(), step.listAfter) << step.typed;
        EXPECT_EQ(dialog.field(), wxString::FromUTF8(step.fieldAfter)) << step.typed;
    }
}

TEST(ConfigurationDialogTest, RemoveDeletesExactlyTheSelectedEntries) {
    DialogProbe dialog;
    wxArrayString domains;
    for (const char* d : {"e.example", "a.example", "c.example", "b.example", "d.example"}) {
        domains.push_back(d);
    }
    dialog.setValues(wxS("user"), wxS("secret"), domains);
    EXPECT_EQ(dialog.list(),
              (List{"a.example", "b.example", "c.example", "d.example", "e.example"}));
    dialog.select({0, 2, 3});
    EXPECT_TRUE(dialog.remove()->IsEnabled());
    click(dialog.remove());
    EXPECT_EQ(dialog.list(), (List{"b.example", "e.example"}));
    EXPECT_FALSE(dialog.remove()->IsEnabled());
    dialog.select({});
    EXPECT_FALSE(dialog.remove()->IsEnabled());
}

TEST(ConfigurationDialogTest, GivesBackWhatWasLoadedAndEdited) {
    DialogProbe dialog;
    wxArrayString domains;
    domains.push_back(wxS("z.example"));
    domains.push_back(wxS("m.example:444"));
    dialog.setValues(wxS("domain\\user"), wxS("pa ss&word"), domains);
    EXPECT_EQ(dialog.login(), wxS("domain\\user"));
    EXPECT_EQ(dialog.password(), wxS("pa ss&word"));
    dialog.add(wxS("b.example"));
    const wxArrayString stored = dialog.domains();
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[0], wxS("b.example"));
    EXPECT_EQ(stored[1], wxS("m.example:444"));
    EXPECT_EQ(stored[2], wxS("z.example"));
    // Loading again replaces the list.
    dialog.setValues(wxString(), wxString(), wxArrayString());
    EXPECT_EQ(dialog.list(), List{});
    EXPECT_EQ(dialog.login(), wxS(""));
}

TEST(ConfigurationDialogTest, SaveCancelAndTheCloseBoxEndTheDialog) {
    {
        DialogProbe dialog;
        EXPECT_EQ(runModal(dialog, [&] { click(dialog.save()); }), wxID_SAVE);
    }
    {
        DialogProbe dialog;
        EXPECT_EQ(runModal(dialog, [&] { click(dialog.cancel()); }), wxID_CANCEL);
    }
    {
        DialogProbe dialog;
        EXPECT_EQ(runModal(dialog, [&] { dialog.Close(); }), wxID_CANCEL);
    }
}

TEST(ConfigurationDialogTest, SaveFailureIsAnErrorBox) {
    std::vector<MessageBoxRequest> shown;
    setMessageBoxHook([&](const MessageBoxRequest& request) {
        shown.push_back(request);
        return wxID_OK;
    });
    VexlanClientConfigurationDialog::showSaveFailed(nullptr);
    setMessageBoxHook({});
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].message, wxS("SETTINGS_SAVE_FAILED"));
    EXPECT_EQ(shown[0].caption, wxS("Error"));
    EXPECT_TRUE(shown[0].style & wxICON_ERROR);
}

}  // namespace
