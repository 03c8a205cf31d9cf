// Texts between the client's byte strings (UTF-8) and wxWidgets' strings.
#pragma once

#include <wx/string.h>

#include "base/string.h"

// Bytes that are not UTF-8 are read as Latin-1, so that no text is lost on the way.
wxString toWx(const tessel::String& text);
tessel::String fromWx(const wxString& text);
