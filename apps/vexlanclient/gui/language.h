// The language of the user interface: chosen from the start parameter's "lang" value and
// served by the message catalog "vexlanclient" in the folder "lang" beside the executable.
#pragma once

#include <wx/intl.h>
#include <wx/string.h>

// The catalog's domain.
extern const char* const kCatalogDomain;

// "fr", "en", "de", "es" give that language (exact, case-sensitive comparison of the whole
// value); anything else, the empty text included, gives wxLANGUAGE_DEFAULT (the system's).
wxLanguage languageFromParameter(const wxString& lang);

// Sets up the translations for the language of `lang` (see languageFromParameter):
// - the process-wide wxLocale is initialised when the C library knows that language (or for
//   the system's language); when it does not, the failure is logged, never shown in a box;
// - the texts are served in any case by a translations object with that language, whose
//   catalogs are looked up first in the folder "lang" beside the executable, then in the folder
//   "lang" beside the executable's folder; wxWidgets' own catalog gives the stock labels.
// Returns whether the catalog "vexlanclient" was found for the chosen language. Runs on the
// user-interface thread; calling it again replaces the translations.
bool setupLanguage(const wxString& lang, const wxString& executablePath);

// The two catalog lookup folders for an executable: "lang" beside it, then "lang" beside its
// folder (no trailing separator).
wxString catalogFolderBesideExecutable(const wxString& executablePath);
wxString catalogFolderBesideExecutableFolder(const wxString& executablePath);
