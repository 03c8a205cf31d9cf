#include "vexlanclient/gui/textconversion.h"

wxString toWx(const tessel::String& text) {
    if (text.isEmpty())
        return wxString();
    wxString converted = wxString::FromUTF8(text.data(), text.length());
    if (converted.empty())
        converted = wxString(text.data(), wxConvISO8859_1, text.length());
    return converted;
}

tessel::String fromWx(const wxString& text) {
    const wxScopedCharBuffer utf8 = text.utf8_str();
    return tessel::String::copy(utf8.data(), static_cast<uint32_t>(utf8.length()));
}
