// UTF-8 and the system's wide characters (UTF-32 where wchar_t has 32 bits, UTF-16 where it has
// 16, as on Windows). Malformed input never fails: each bad sequence becomes U+FFFD.
#pragma once

#include <cstddef>
#include <string>

namespace tessel {

// Decodes UTF-8. Truncated, overlong and surrogate sequences and values above U+10FFFF are
// malformed; characters outside the Basic Multilingual Plane become surrogate pairs where
// wchar_t has 16 bits.
std::wstring utf8ToWide(const char* bytes, size_t length);
// Encodes a zero-terminated wide text. A surrogate pair is one character where wchar_t has
// 16 bits; a lone surrogate, or a value above U+10FFFF, is malformed.
std::string utf8FromWide(const wchar_t* text);

}  // namespace tessel
