// Choosing the language from "lang" and loading the catalogs beside the executable, on a
// machine where the C library has no locale for these languages (only C is generated here).
#include "vexlanclient/gui/language.h"

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <wx/intl.h>
#include <wx/stockitem.h>
#include <wx/translation.h>

#include "gui_test_support.h"
#include "sandbox.h"

namespace {

using vexlan::guitest::executablePath;
using vexlan::guitest::LogCounter;

TEST(LanguageTest, ParameterPicksTheLanguageByExactValue) {
    const struct {
        const char* lang;
        wxLanguage language;
    } cases[] = {
        {"fr", wxLANGUAGE_FRENCH},     {"en", wxLANGUAGE_ENGLISH},  {"de", wxLANGUAGE_GERMAN},
        {"es", wxLANGUAGE_SPANISH},    {"", wxLANGUAGE_DEFAULT},    {"DE", wxLANGUAGE_DEFAULT},
        {"fr_FR", wxLANGUAGE_DEFAULT}, {"de ", wxLANGUAGE_DEFAULT}, {"it", wxLANGUAGE_DEFAULT},
        {"e", wxLANGUAGE_DEFAULT},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(languageFromParameter(wxString::FromUTF8(c.lang)), c.language) << c.lang;
    }
}

TEST(LanguageTest, CatalogFoldersAreBesideTheExecutableAndBesideItsFolder) {
    EXPECT_EQ(catalogFolderBesideExecutable(wxS("/opt/vexlan/bin/vexlanclient")),
              wxS("/opt/vexlan/bin/lang"));
    EXPECT_EQ(catalogFolderBesideExecutableFolder(wxS("/opt/vexlan/bin/vexlanclient")),
              wxS("/opt/vexlan/lang"));
    EXPECT_EQ(catalogFolderBesideExecutable(wxS("/vexlanclient")), wxS("/lang"));
    EXPECT_EQ(catalogFolderBesideExecutableFolder(wxS("/vexlanclient")), wxS("/lang"));
}

// Each language loads its own texts, also the stock labels of wxWidgets, and formats the
// address of the tunnel with its own text.
struct LoadCase {
    const char* lang;
    const char* loading;
    const char* givenIp;
    const char* closeLabel;
};

class LanguageLoadTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LanguageLoadTest, LoadsTheCatalogOfTheLanguage) {
    const LoadCase& c = GetParam();
    LogCounter boxes;  // what would have become a message box
    ASSERT_TRUE(setupLanguage(wxString::FromUTF8(c.lang), executablePath()));
    EXPECT_EQ(boxes.count(), 0) << boxes.last().utf8_str();
    EXPECT_EQ(wxGetTranslation("Loading"), wxString::FromUTF8(c.loading));
    EXPECT_EQ(wxString::Format(wxGetTranslation("VPN_GIVENIP %s"), "10.1.2.3"),
              wxString::FromUTF8(c.givenIp));
    EXPECT_EQ(wxGetStockLabel(wxID_CLOSE, wxSTOCK_NOFLAGS), wxString::FromUTF8(c.closeLabel));
    // A text without entry shows its key.
    EXPECT_EQ(wxGetTranslation("NO_SUCH_KEY"), wxS("NO_SUCH_KEY"));
}

INSTANTIATE_TEST_SUITE_P(
    Languages, LanguageLoadTest,
    ::testing::Values(LoadCase{"de", "Wird geladen…", "VPN verbunden, Adresse 10.1.2.3",
                               "Schließen"},
                      LoadCase{"fr", "Chargement…", "VPN connecté, adresse 10.1.2.3", "Fermer"},
                      LoadCase{"es", "Cargando…", "VPN conectada, dirección 10.1.2.3", "Cerrar"},
                      LoadCase{"en", "Loading…", "VPN connected, address 10.1.2.3", "Close"}),
    [](const ::testing::TestParamInfo<LoadCase>& param) { return std::string(param.param.lang); });

// Sets environment variables for its lifetime and restores them afterwards.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name);
            m_saved.push_back({name, old != nullptr, old ? old : ""});
            setenv(name, value, 1);
        }
    }
    ~ScopedEnvironment() {
        for (const Saved& saved : m_saved) {
            if (saved.had) {
                setenv(saved.name, saved.value.c_str(), 1);
            } else {
                unsetenv(saved.name);
            }
        }
    }

private:
    struct Saved {
        const char* name;
        bool had;
        std::string value;
    };
    std::vector<Saved> m_saved;
};

// Values that name no language keep the system's: here the user's environment asks for
// Spanish, a locale that this machine has not generated.
TEST(LanguageTest, OtherValuesKeepTheSystemLanguage) {
    ScopedEnvironment spanish({{"LANGUAGE", "es"},
                               {"LC_ALL", "es_ES.UTF-8"},
                               {"LC_MESSAGES", "es_ES.UTF-8"},
                               {"LANG", "es_ES.UTF-8"}});
    for (const char* lang : {"DE", "fr_FR", ""}) {
        LogCounter boxes;
        ASSERT_TRUE(setupLanguage(wxString::FromUTF8(lang), executablePath())) << lang;
        EXPECT_EQ(wxGetTranslation("Loading"), wxS("Cargando…")) << lang;
        EXPECT_EQ(boxes.count(), 0) << boxes.last().utf8_str();
    }
}

TEST(LanguageTest, WithoutCatalogsEveryTextShowsItsKey) {
    vexlan::testing::TempDir empty;
    const wxString program = wxString::FromUTF8(empty.path() + "/bin/vexlanclient");
    // Only this process's first prefixes hold catalogs, so run apart from the others.
    EXPECT_EXIT(
        {
            const bool loaded = setupLanguage(wxS("de"), program);
            std::_Exit(!loaded && wxGetTranslation("Loading") == wxS("Loading") ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(LanguageTest, CatalogBesideTheExecutableFolderIsFound) {
    // The build put a German catalog into catalogs/lang; the program sits in catalogs/bin.
    const wxString program = wxString::FromUTF8(VEXLAN_TEST_CATALOGS "/bin/vexlanclient");
    EXPECT_EXIT(
        {
            const bool loaded = setupLanguage(wxS("de"), program);
            std::_Exit(
                loaded && wxGetTranslation("Loading") == wxS("Loading from the second folder") ? 0
                                                                                               : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
