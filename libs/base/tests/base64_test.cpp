#include "base/base64.h"

#include <gtest/gtest.h>

#include <string>

using tessel::base64Decode;
using tessel::base64Encode;
using tessel::Buffer;
using tessel::String;

namespace {

std::string decoded(const char* text) {
    Buffer b = base64Decode(String(text));
    return std::string(reinterpret_cast<const char*>(b.data()), b.length());
}

}  // namespace

TEST(Base64, Rfc4648TestVectors) {
    struct Case {
        const char* plain;
        const char* encoded;
    };
    const Case cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(base64Encode(String(c.plain)), c.encoded) << c.plain;
        EXPECT_EQ(decoded(c.encoded), c.plain) << c.encoded;
    }
}

TEST(Base64, EveryByteRoundTripsAndTheLengthFollowsTheRule) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    for (size_t n : {size_t(1), size_t(2), size_t(3), size_t(255), size_t(256)}) {
        String text = base64Encode(all.data(), static_cast<uint32_t>(n));
        EXPECT_EQ(text.length(), 4 * ((n + 2) / 3)) << n;
        EXPECT_EQ(text.find('\n'), String::npos);
        Buffer back = base64Decode(text);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(back.data()), back.length()),
                  all.substr(0, n));
    }
}

TEST(Base64, DecodingSkipsBlanksAndStopsAtPadding) {
    EXPECT_EQ(decoded(" Zm9v\r\nYm\tFy \n"), "foobar");
    EXPECT_EQ(decoded("Zg==Zm9v"), "f");   // stops at the "=" in the third place
    EXPECT_EQ(decoded("Zm8=Zm9v"), "fo");  // and in the fourth
    EXPECT_EQ(decoded("Zm9vYg"), "foob");  // a group cut short by the end
    EXPECT_EQ(decoded("Zm9vYmE"), "fooba");
}

TEST(Base64, BytesOutsideTheAlphabetCountAsA) {
    // Not rejected: a damaged text gives damaged bytes (callers check integrity).
    EXPECT_EQ(decoded("Zm!v"), decoded("ZmAv"));
    EXPECT_EQ(decoded("*m9v"), decoded("Am9v"));
    EXPECT_EQ(decoded("Z=9v"), decoded("ZA9v"));  // "=" in the second place is not padding
    EXPECT_EQ(decoded("Zm9v\x80\xff=="), decoded("Zm9vAA=="));
}
