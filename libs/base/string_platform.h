// What String needs from the system (implemented by unix/string_platform.cpp and
// windows/string_platform.cpp): its wide form through the system's ANSI code page, which
// is UTF-8 on Linux.
#pragma once

#include <cstdint>
#include <string>

namespace tessel {
namespace detail {

// `length` bytes of the ANSI code page as wide characters.
std::wstring ansiToWide(const char* bytes, uint32_t length);
// A zero-terminated wide text as bytes of the ANSI code page.
std::string wideToAnsi(const wchar_t* text);

}  // namespace detail
}  // namespace tessel
