// The ANSI code page of Linux is UTF-8.
#include "base/string_platform.h"

#include "base/utf8.h"

namespace tessel {
namespace detail {

std::wstring ansiToWide(const char* bytes, uint32_t length) {
    return utf8ToWide(bytes, length);
}

std::string wideToAnsi(const wchar_t* text) {
    return utf8FromWide(text);
}

}  // namespace detail
}  // namespace tessel
