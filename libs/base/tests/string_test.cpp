#include "base/string.h"

#include <gtest/gtest.h>

#include "base/base64.h"

using tessel::String;

TEST(String, EmptyHasNoStorageAndTerminatedText) {
    String s;
    EXPECT_EQ(s.length(), 0u);
    EXPECT_FALSE(s.hasStorage());
    ASSERT_NE(s.c_str(), nullptr);
    EXPECT_STREQ(s.c_str(), "");
}

TEST(String, AppendToLiteralCopiesFirst) {
    static const char literal[] = "abc";
    String s(literal);
    s.append("def");
    EXPECT_EQ(s, "abcdef");
    EXPECT_STREQ(literal, "abc");
}

TEST(String, ConcatenationBuildsOnce) {
    String a("ab");
    String joined = a + "cd" + 'e' + String(static_cast<int32_t>(-12));
    EXPECT_EQ(joined, "abcde-12");
}
