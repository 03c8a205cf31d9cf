#include "base/buffer.h"

#include <gtest/gtest.h>

#include <string>

#include "base/string.h"

using tessel::Buffer;

namespace {

std::string bytes(const Buffer& b) {
    return std::string(reinterpret_cast<const char*>(b.data()), b.length());
}

}  // namespace

TEST(Buffer, CopiesShareAndAppendsCopyOnWrite) {
    Buffer a("abc", 3);
    Buffer b = a;
    EXPECT_EQ(a.data(), b.data());
    b.append("d", 1);
    EXPECT_EQ(bytes(a), "abc");
    EXPECT_EQ(bytes(b), "abcd");
    EXPECT_NE(a.data(), b.data());
}

TEST(Buffer, SoleOwnerGrowsInPlace) {
    Buffer b("x", 1);
    const unsigned char* first = b.data();
    for (int i = 0; i < 50; ++i)
        b.append("y", 1);  // 51 bytes and a zero fit 64
    EXPECT_EQ(b.data(), first);
    EXPECT_EQ(b.length(), 51u);
    EXPECT_EQ(b.data()[51], 0);
}

TEST(Buffer, AppendingItsOwnBytes) {
    Buffer b("hello", 5);
    b.append(b.data() + 1, 3);
    EXPECT_EQ(bytes(b), "helloell");
    b.append(b.data(), b.length());
    EXPECT_EQ(bytes(b), "helloellhelloell");
}

TEST(Buffer, SetLengthAndMutableDataRespectSharing) {
    Buffer a("abcdef", 6);
    Buffer b = a;
    b.setLength(2);
    EXPECT_EQ(bytes(b), "ab");
    EXPECT_EQ(bytes(a), "abcdef");
    b.mutableData()[0] = 'X';
    EXPECT_EQ(bytes(b), "Xb");
    EXPECT_EQ(bytes(a), "abcdef");
    b.clear();
    EXPECT_TRUE(b.isEmpty());
}

TEST(Buffer, HexIsTwoLowerCaseDigitsPerByte) {
    const unsigned char raw[] = {0x00, 0x0f, 0xa0, 0xff, 0x7e};
    EXPECT_EQ(Buffer(raw, 5).hex(), "000fa0ff7e");
    EXPECT_EQ(Buffer().hex(), "");
}

TEST(Buffer, EqualityAndStringForm) {
    EXPECT_EQ(Buffer("ab", 2), Buffer::fromString(tessel::String("ab")));
    EXPECT_NE(Buffer("ab", 2), Buffer("ac", 2));
    EXPECT_EQ(Buffer(), Buffer("", 0));
}

TEST(Buffer, MovingLeavesTheSourceEmpty) {
    Buffer source("abc", 3);
    const unsigned char* data = source.data();
    Buffer target = std::move(source);
    EXPECT_EQ(target.data(), data);
    EXPECT_EQ(bytes(target), "abc");
    EXPECT_TRUE(source.isEmpty());  // NOLINT: checking the moved-from state on purpose
    Buffer other("x", 1);
    other = std::move(target);
    EXPECT_EQ(bytes(other), "abc");
    EXPECT_TRUE(target.isEmpty());
}
