#include "base/utf8.h"

#include <cstdint>

namespace tessel {
namespace {

constexpr uint32_t kReplacement = 0xFFFD;
constexpr bool kUtf16 = sizeof(wchar_t) == 2;

bool isSurrogate(uint32_t cp) {
    return cp >= 0xD800 && cp <= 0xDFFF;
}

void appendWide(std::wstring& out, uint32_t cp) {
    if (kUtf16 && cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
        return;
    }
    out.push_back(static_cast<wchar_t>(cp));
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::wstring utf8ToWide(const char* bytes, size_t length) {
    std::wstring out;
    out.reserve(length);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    const auto* end = p + length;
    while (p < end) {
        const unsigned char lead = *p++;
        uint32_t cp;
        int more;
        uint32_t smallest;  // below it the sequence is overlong
        if (lead < 0x80) {
            out.push_back(static_cast<wchar_t>(lead));
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            cp = lead & 0x1F;
            more = 1;
            smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            cp = lead & 0x0F;
            more = 2;
            smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            cp = lead & 0x07;
            more = 3;
            smallest = 0x10000;
        } else {
            out.push_back(static_cast<wchar_t>(kReplacement));
            continue;
        }
        bool ok = true;
        for (int i = 0; i < more; ++i) {
            // A byte that does not continue the sequence starts the next one.
            if (p >= end || (*p & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (*p++ & 0x3F);
        }
        if (!ok || cp < smallest || cp > 0x10FFFF || isSurrogate(cp))
            cp = kReplacement;
        appendWide(out, cp);
    }
    return out;
}

std::string utf8FromWide(const wchar_t* text) {
    std::string out;
    if (!text)
        return out;
    for (; *text; ++text) {
        uint32_t cp = static_cast<uint32_t>(*text);
        if (kUtf16)
            cp &= 0xFFFF;
        if (kUtf16 && cp >= 0xD800 && cp <= 0xDBFF) {
            const uint32_t low = static_cast<uint32_t>(text[1]) & 0xFFFF;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++text;
            } else {
                cp = kReplacement;
            }
        } else if (cp > 0x10FFFF || isSurrogate(cp)) {
            cp = kReplacement;
        }
        appendUtf8(out, cp);
    }
    return out;
}

}  // namespace tessel
