// Wide texts through the system's ANSI code page (CP_ACP). A character that the code page does
// not have becomes the code page's default character ("?").
#include "base/string_platform.h"

#include <windows.h>

#include <climits>
#include <new>

namespace tessel {
namespace detail {

std::wstring ansiToWide(const char* bytes, uint32_t length) {
    if (length == 0)
        return std::wstring();
    // A 32-bit process cannot hold a text this long twice; the system takes an int.
    if (length > INT_MAX / 2)
        throw std::bad_alloc();
    const int size = static_cast<int>(length);
    const int count = MultiByteToWideChar(CP_ACP, 0, bytes, size, nullptr, 0);
    if (count <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes, size, &wide[0], count);
    return wide;
}

std::string wideToAnsi(const wchar_t* text) {
    if (!text || !*text)
        return std::string();
    // The count includes the terminating zero, which the result does not keep.
    const int count = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (count <= 1)
        return std::string();
    std::string bytes(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &bytes[0], count, nullptr, nullptr);
    bytes.resize(static_cast<size_t>(count) - 1);
    return bytes;
}

}  // namespace detail
}  // namespace tessel
