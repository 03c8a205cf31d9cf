#include "base/utf8.h"

#include <gtest/gtest.h>

#include <string>

using tessel::utf8FromWide;
using tessel::utf8ToWide;

namespace {

struct Decoding {
    const char* name;
    std::string bytes;
    std::wstring wide;
};

}  // namespace

// The wide literals hold one character outside the Basic Multilingual Plane as a surrogate
// pair where wchar_t has 16 bits (Windows) and as one value where it has 32 (Linux).
TEST(Utf8, DecodesWellFormedAndReplacesEachMalformedSequence) {
    const Decoding cases[] = {
        {"ascii", "plain", L"plain"},
        {"two to four bytes", "\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e", L"\u00e9\u20ac\U0001D11E"},
        {"last character", "\xf4\x8f\xbf\xbf", L"\U0010FFFF"},
        {"embedded zero", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
        {"invalid lead",
         "a\xff"
         "b",
         L"a\uFFFDb"},
        {"lone continuation", "\x80", L"\uFFFD"},
        {"truncated at the end", "a\xe2\x82", L"a\uFFFD"},
        {"broken by the next lead",
         "\xe2\x82"
         "A",
         L"\uFFFDA"},
        {"overlong slash", "\xc0\xaf", L"\uFFFD"},
        {"overlong three bytes", "\xe0\x80\xaf", L"\uFFFD"},
        {"encoded surrogate", "\xed\xa0\x80", L"\uFFFD"},
        {"above U+10FFFF", "\xf4\x90\x80\x80", L"\uFFFD"},
    };
    for (const Decoding& c : cases)
        EXPECT_EQ(utf8ToWide(c.bytes.data(), c.bytes.size()), c.wide) << c.name;
}

TEST(Utf8, EncodesAndRoundTrips) {
    const std::wstring texts[] = {L"", L"plain", L"caf\u00e9 \u20ac \U0001D11E \U0010FFFF"};
    for (const std::wstring& text : texts) {
        std::string bytes = utf8FromWide(text.c_str());
        EXPECT_EQ(utf8ToWide(bytes.data(), bytes.size()), text);
    }
    EXPECT_EQ(utf8FromWide(L"\U0001D11E"), "\xf0\x9d\x84\x9e");
    EXPECT_EQ(utf8FromWide(nullptr), "");
}

TEST(Utf8, LoneSurrogatesAreReplacedWhenEncoding) {
    const wchar_t highAlone[] = {L'a', static_cast<wchar_t>(0xD834), L'b', 0};
    const wchar_t lowAlone[] = {static_cast<wchar_t>(0xDD1E), 0};
    const wchar_t highAtEnd[] = {static_cast<wchar_t>(0xD834), 0};
    EXPECT_EQ(utf8FromWide(highAlone),
              "a\xef\xbf\xbd"
              "b");
    EXPECT_EQ(utf8FromWide(lowAlone), "\xef\xbf\xbd");
    EXPECT_EQ(utf8FromWide(highAtEnd), "\xef\xbf\xbd");
}
