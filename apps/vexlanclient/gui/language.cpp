#include "vexlanclient/gui/language.h"

#include <memory>

#include <wx/filename.h>
#include <wx/log.h>
#include <wx/translation.h>

#include "base/console.h"
#include "base/string.h"
#include "vexlanclient/gui/language_platform.h"

const char* const kCatalogDomain = "vexlanclient";

namespace {

// The process-wide locale: it lives until the process ends.
wxLocale& processLocale() {
    static wxLocale locale;
    return locale;
}
bool g_localeInitialised = false;

// Sends what wxWidgets reports while the locale is set up to the program's log instead of
// message boxes, which would stop the start-up until someone closes them.
class LogToConsole : public wxLog {
public:
    LogToConsole() : m_previous(wxLog::SetActiveTarget(this)) {}
    ~LogToConsole() override { wxLog::SetActiveTarget(m_previous); }
    LogToConsole(const LogToConsole&) = delete;
    LogToConsole& operator=(const LogToConsole&) = delete;

protected:
    void DoLogTextAtLevel(wxLogLevel level, const wxString& msg) override {
        // A language the system cannot set is a warning: start-up goes on.
        const int ourLevel = level <= wxLOG_Error ? 2 : 0;
        const wxScopedCharBuffer utf8 = msg.utf8_str();
        tessel::log(ourLevel, "VexlanClientGui", "setupLanguage",
                    tessel::String::copy(utf8.data(), static_cast<uint32_t>(utf8.length())));
    }

private:
    wxLog* m_previous;
};

}  // namespace

wxLanguage languageFromParameter(const wxString& lang) {
    if (lang == wxS("fr"))
        return wxLANGUAGE_FRENCH;
    if (lang == wxS("en"))
        return wxLANGUAGE_ENGLISH;
    if (lang == wxS("de"))
        return wxLANGUAGE_GERMAN;
    if (lang == wxS("es"))
        return wxLANGUAGE_SPANISH;
    return wxLANGUAGE_DEFAULT;
}

wxString catalogFolderBesideExecutable(const wxString& executablePath) {
    wxFileName folder(executablePath);
    folder.SetFullName(wxString());
    folder.AppendDir(wxS("lang"));
    return folder.GetPath(wxPATH_GET_VOLUME);
}

wxString catalogFolderBesideExecutableFolder(const wxString& executablePath) {
    wxFileName folder(executablePath);
    folder.SetFullName(wxString());
    folder.AppendDir(wxS("lang"));
    // Without "lang" and the executable's own folder, then "lang" again.
    if (folder.GetDirCount() > 0)
        folder.RemoveLastDir();
    if (folder.GetDirCount() > 0)
        folder.RemoveLastDir();
    folder.AppendDir(wxS("lang"));
    return folder.GetPath(wxPATH_GET_VOLUME);
}

bool setupLanguage(const wxString& lang, const wxString& executablePath) {
    const wxLanguage language = languageFromParameter(lang);
    LogToConsole redirect;

    // The C library's locale (number formats, the system's own texts). A language that the
    // system has not generated cannot be set; the program's texts are translated all the same.
    if (!g_localeInitialised) {
        g_localeInitialised = true;
        // wxLocale::IsAvailable tries every region of the language: on a system without any
        // locale but C its answer is known to be no.
        const bool available =
            language == wxLANGUAGE_DEFAULT ||
            (!vexlan::detail::systemHasOnlyCLocales() && wxLocale::IsAvailable(language));
        if (available) {
            if (!processLocale().Init(language, wxLOCALE_DONT_LOAD_DEFAULT)) {
                wxLogWarning(wxS("The system could not switch to the locale of language %d"),
                             static_cast<int>(language));
            }
        } else {
            wxLogWarning(wxS("The system has no locale for \"%s\"; texts are translated, formats "
                             "stay the system's"),
                         lang);
        }
    }

    wxFileTranslationsLoader::AddCatalogLookupPathPrefix(
        catalogFolderBesideExecutable(executablePath));
    wxFileTranslationsLoader::AddCatalogLookupPathPrefix(
        catalogFolderBesideExecutableFolder(executablePath));

    auto translations = std::make_unique<wxTranslations>();
    translations->SetLoader(new wxFileTranslationsLoader);
    translations->SetLanguage(language);
    translations->AddStdCatalog();
    // The message identifiers are keys in no language: the catalog is always wanted, English
    // included (a message-id language equal to the chosen one would skip loading it).
    const bool loaded =
        translations->AddCatalog(wxString::FromAscii(kCatalogDomain), wxLANGUAGE_UNKNOWN);
    if (!loaded) {
        tessel::log(0, "VexlanClientGui", "setupLanguage",
                    "No message catalog for the chosen language: texts show their keys");
    }
    wxTranslations::Set(translations.release());
    return loaded;
}
