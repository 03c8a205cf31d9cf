#include "base/string.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "base/buffer.h"

#ifdef _WIN32
#include <windows.h>
#endif

using tessel::String;

namespace {

const uint32_t npos = String::npos;

}  // namespace

TEST(String, EmptyHasNoStorageAndTerminatedText) {
    String s;
    EXPECT_EQ(s.length(), 0u);
    EXPECT_FALSE(s.hasStorage());
    ASSERT_NE(s.c_str(), nullptr);
    EXPECT_STREQ(s.c_str(), "");
    EXPECT_EQ(s.charAt(0), '\0');
}

TEST(String, LiteralIsNotCopied) {
    static const char literal[] = "abc";
    String s(literal);
    EXPECT_EQ(s.data(), literal);
    EXPECT_FALSE(s.hasStorage());
    EXPECT_EQ(s.c_str(), literal);
}

TEST(String, EditingALiteralNeverWritesItsMemory) {
    // Each edit must copy the caller's bytes first; the bytes stay as they were.
    struct Case {
        const char* name;
        void (*edit)(String&);
        const char* expected;
    };
    const Case cases[] = {
        {"append", [](String& s) { s.append("def"); }, "abcdef"},
        {"append char", [](String& s) { s.append('!'); }, "abc!"},
        {"setAt", [](String& s) { s.setAt(1, 'X'); }, "aXc"},
        {"setLength grow",
         [](String& s) {
             s.setLength(5);
             s.setAt(3, 'd');
             s.setAt(4, 'e');
         },
         "abcde"},
        {"appendRepeat", [](String& s) { s.appendRepeat('z', 3); }, "abczzz"},
        {"appendAll", [](String& s) { s.appendAll('[', String("x"), "]"); }, "abc[x]"},
    };
    for (const Case& c : cases) {
        char memory[] = "abc\0\0\0\0\0\0\0\0";  // room after the text that a bad append could use
        String s(memory, 3);
        c.edit(s);
        EXPECT_EQ(s, c.expected) << c.name;
        EXPECT_EQ(std::string(memory, 11), std::string("abc\0\0\0\0\0\0\0\0", 11)) << c.name;
        EXPECT_TRUE(s.hasStorage()) << c.name;
    }
}

TEST(String, CopiesShareStorageAndAppendCopiesOnWrite) {
    String a = String::copy("abc", 3);
    String b = a;
    EXPECT_EQ(a.storageIdentity(), b.storageIdentity());
    EXPECT_EQ(a.data(), b.data());
    b.append("d");
    EXPECT_EQ(a, "abc");
    EXPECT_EQ(b, "abcd");
    EXPECT_NE(a.storageIdentity(), b.storageIdentity());
    a.setAt(0, 'X');  // a is the only holder again: changes in place, b unaffected
    EXPECT_EQ(a, "Xbc");
    EXPECT_EQ(b, "abcd");
}

TEST(String, SoleOwnerAppendsInPlaceAndStaysTerminated) {
    String s = String::copy("ab", 2);
    const void* storage = s.storageIdentity();
    for (int i = 0; i < 40; ++i)
        s.append('x');  // 42 + 1 bytes: within the first 64
    EXPECT_EQ(s.storageIdentity(), storage);
    EXPECT_EQ(s.length(), 42u);
    EXPECT_EQ(s.c_str(), s.data());  // already terminated: no copy
    EXPECT_EQ(s.data()[42], '\0');
}

TEST(String, ByteAppendsAtTheEdgeOfTheBlock) {
    // 62 bytes + 1 + terminator fill a 64-byte block exactly; the next byte must grow it.
    String s = String::copy(std::string(62, 'a'));
    const void* storage = s.storageIdentity();
    s.append('b');
    EXPECT_EQ(s.storageIdentity(), storage);
    EXPECT_EQ(s.length(), 63u);
    EXPECT_EQ(s.data()[63], '\0');
    s.append('c');
    EXPECT_EQ(s.length(), 64u);
    EXPECT_EQ(s.toStd(), std::string(62, 'a') + "bc");
    EXPECT_EQ(s.data()[64], '\0');
}

TEST(String, ByteAppendToSharedStorageLeavesTheOtherHolderAlone) {
    String a = String::copy(std::string("abc"));
    String b = a;  // room in the block, but shared: the byte must go to a copy
    b.append('d');
    EXPECT_EQ(a, "abc");
    EXPECT_EQ(a.data()[3], '\0');
    EXPECT_EQ(b, "abcd");
    EXPECT_NE(a.storageIdentity(), b.storageIdentity());
    String slice = b.substring(1);  // a slice does not start at its block: copied as well
    slice.append('e');
    EXPECT_EQ(slice, "bcde");
    EXPECT_EQ(b, "abcd");
}

TEST(String, ConcatenationOfEmptyAndSelfPieces) {
    String empty;
    String a = String::copy(std::string("ab"));
    String onlyEmpty = empty + empty;
    EXPECT_TRUE(onlyEmpty.isEmpty());
    EXPECT_STREQ(onlyEmpty.c_str(), "");
    String withEmpty = empty + a + empty;
    EXPECT_EQ(withEmpty, "ab");
    a = a + a + a;  // every piece is the String being assigned
    EXPECT_EQ(a, "ababab");
    // Exactly the eight pieces of one block, then a ninth in a following block.
    String eight = a + a + a + a + a + a + a + a;
    EXPECT_EQ(eight.length(), 48u);
    String nine = a + a + a + a + a + a + a + a + String("!");
    EXPECT_EQ(nine.toStd(), eight.toStd() + "!");
}

TEST(String, SliceOutlivesItsParent) {
    String slice;
    {
        String parent = String::copy(std::string("hello world"));
        slice = parent.substring(6);
        EXPECT_EQ(slice.storageIdentity(), parent.storageIdentity());
        EXPECT_EQ(slice.data(), parent.data() + 6);
    }
    EXPECT_EQ(slice, "world");
    EXPECT_STREQ(slice.c_str(), "world");
}

TEST(String, AppendingToASliceLeavesTheParentAlone) {
    String parent = String::copy(std::string("hello world"));
    String head = parent.substring(0, 5);
    head.append("!");
    EXPECT_EQ(head, "hello!");
    EXPECT_EQ(parent, "hello world");
}

TEST(String, CStrOfAnUnterminatedSliceCopiesOnlyThatValue) {
    String parent = String::copy(std::string("hello world"));
    String head = parent.substring(0, 5);
    String other = head;
    const char* text = head.c_str();
    EXPECT_STREQ(text, "hello");
    EXPECT_NE(text, parent.data());
    EXPECT_EQ(other.data(), parent.data());  // other copies keep pointing at the shared bytes
    EXPECT_EQ(head, "hello");
}

TEST(String, CharacterConstructorUsesTheConstantTable) {
    String a('a');
    String b('a');
    EXPECT_FALSE(a.hasStorage());
    EXPECT_EQ(a.data(), b.data());
    EXPECT_STREQ(a.c_str(), "a");
    String zero('\0');
    EXPECT_EQ(zero.length(), 1u);
    EXPECT_EQ(zero[0], '\0');
}

TEST(String, FromBufferCopiesAndTerminates) {
    const unsigned char bytes[] = {'a', 0, 'b'};
    tessel::Buffer buffer(bytes, 3);
    String s(buffer);
    EXPECT_EQ(s.length(), 3u);
    EXPECT_NE(static_cast<const void*>(s.data()), static_cast<const void*>(buffer.data()));
    EXPECT_EQ(std::string(s.data(), 3), std::string("a\0b", 3));
    EXPECT_EQ(s.data()[3], '\0');
}

TEST(String, NumbersAtTheExtremesComeOutWhole) {
    struct Case {
        String value;
        const char* expected;
    };
    const Case cases[] = {
        {String(std::numeric_limits<int32_t>::min()), "-2147483648"},
        {String(std::numeric_limits<int32_t>::max()), "2147483647"},
        {String(std::numeric_limits<int16_t>::min()), "-32768"},
        {String(std::numeric_limits<int16_t>::max()), "32767"},
        {String(std::numeric_limits<uint32_t>::max()), "4294967295"},
        {String(std::numeric_limits<uint16_t>::max()), "65535"},
        {String(std::numeric_limits<uint8_t>::max()), "255"},
        {String(std::numeric_limits<uint64_t>::max()), "18446744073709551615"},
        {String(static_cast<int32_t>(0)), "0"},
        {String(static_cast<uint64_t>(0)), "0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.toStd(), c.expected);
        EXPECT_TRUE(c.value.hasStorage());
        EXPECT_STREQ(c.value.c_str(), c.expected);
    }
}

TEST(String, FormatUsesTheCallersFormatUpTo255Characters) {
    EXPECT_EQ(String::format("%08x", 0xbeefu), "0000beef");
    EXPECT_EQ(String::format("%d", static_cast<int32_t>(-5)), "-5");
    EXPECT_EQ(String::format("v=%u;", 7u), "v=7;");
    String wide = String::format("%0300u", 1u);
    EXPECT_EQ(wide.length(), 255u);
    EXPECT_EQ(wide.charAt(0), '0');
    EXPECT_STREQ(wide.c_str() + 254, "0");  // cut, still terminated
}

TEST(String, TextToNumbers) {
    struct Case {
        const char* text;
        int32_t asInt;
        int16_t asShort;
    };
    const Case cases[] = {
        {"-12x", -12, -12},
        {"+", 0, 0},
        {"-", 0, 0},
        {"", 0, 0},
        {"42", 42, 42},
        {"+7 8", 7, 7},
        {"x1", 0, 0},
        {"2147483647", 2147483647, -1},  // the short is computed in 16 bits
        {"-2147483648", std::numeric_limits<int32_t>::min(), 0},
        {"-32768", -32768, -32768},
        {"32767", 32767, 32767},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(String(c.text).toInt(), c.asInt) << c.text;
        EXPECT_EQ(String(c.text).toShort(), c.asShort) << c.text;
    }
    EXPECT_EQ(String("1fz").fromHex(), 31u);
    EXPECT_EQ(String("FFffFFff").fromHex(), 0xffffffffu);
    EXPECT_EQ(String("").fromHex(), 0u);
    EXPECT_EQ(String("g").fromHex(), 0u);
    String slice = String::copy(std::string("123456789")).substring(0, 6);
    EXPECT_EQ(slice.toLong(), 123456);  // atol sees only the slice
}

TEST(String, Searches) {
    String s("abcabc");
    EXPECT_EQ(s.find('b'), 1u);
    EXPECT_EQ(s.find('b', 2), 4u);
    EXPECT_EQ(s.find('z'), npos);
    EXPECT_EQ(s.findLast('a'), 3u);
    EXPECT_EQ(s.findLast('a', 2), 0u);
    EXPECT_EQ(s.findLast('c', 5), 5u);
    EXPECT_EQ(s.findFirstOf("xc"), 2u);
    EXPECT_EQ(s.findFirstOf("xc", 3), 5u);
    EXPECT_EQ(s.findFirstOf("c\0a", 3, 1), 2u);  // a set given with its length holds a zero
    EXPECT_EQ(s.find(String("ca")), 2u);
    EXPECT_EQ(s.find(String("bc"), 2), 4u);
    EXPECT_EQ(s.find(String("bc"), 2, 5), npos);  // the match must end by the bound
    EXPECT_EQ(s.find(String("bc"), 2, 6), 4u);
    EXPECT_EQ(s.findIgnoreCase(String("CA")), 2u);
    EXPECT_EQ(String("xABc").findIgnoreCase(String("aBC")), 1u);
    EXPECT_EQ(String(" \t\r\nx ").skipWhitespace(), 4u);
    EXPECT_EQ(String("   ").skipWhitespace(), npos);
    EXPECT_EQ(String(" \t x").skipWhitespace(0, 2), npos);
}

TEST(String, SearchingFromNposOrFromTheEndFindsNothing) {
    String s("abc");
    for (uint32_t from : {3u, 4u, npos}) {
        EXPECT_EQ(s.find('a', from), npos) << from;
        EXPECT_EQ(s.findLast('a', from), npos) << from;
        EXPECT_EQ(s.findFirstOf("abc", from), npos) << from;
        EXPECT_EQ(s.find(String("a"), from), npos) << from;
        EXPECT_EQ(s.findIgnoreCase(String("a"), from), npos) << from;
        EXPECT_EQ(s.skipWhitespace(from), npos) << from;
    }
    EXPECT_EQ(String().findLast('a'), npos);
}

TEST(String, SlicesBeforeAfterAndTrim) {
    String s = String::copy(std::string("key=value=x"));
    EXPECT_EQ(s.before('='), "key");
    EXPECT_EQ(s.after('='), "value=x");
    EXPECT_EQ(s.before('#'), s);
    EXPECT_EQ(s.after('#'), s);
    EXPECT_TRUE(s.before('#', true).isEmpty());
    EXPECT_TRUE(s.after('#', true).isEmpty());
    EXPECT_EQ(s.after('=').storageIdentity(), s.storageIdentity());
    EXPECT_EQ(s.substring(4, 5), "value");
    EXPECT_EQ(s.substring(4, 100), "value=x");
    EXPECT_TRUE(s.substring(11).isEmpty());
    EXPECT_TRUE(s.substring(npos).isEmpty());

    String padded(" \t\r\n\0ab c\0 \n", 12);
    EXPECT_EQ(padded.trim(), "ab c");
    EXPECT_TRUE(String(" \0\t", 3).trim().isEmpty());
    String bare = String::copy("ab", 2);
    EXPECT_EQ(bare.trim().data(), bare.data());
}

TEST(String, Comparisons) {
    EXPECT_TRUE(String("abc") == "abc");
    EXPECT_FALSE(String("abc") == "ab");
    EXPECT_TRUE(String("a\0b", 3) == String("a\0b", 3));
    EXPECT_FALSE(String("a\0b", 3) == "a");
    // Only the String's own bytes are folded; the other side must be lower case already.
    EXPECT_TRUE(String("HeLLo").equalsIgnoreCase("hello"));
    EXPECT_FALSE(String("hello").equalsIgnoreCase("HELLO"));
    EXPECT_TRUE(String("xxHeLLo").regionEqualsIgnoreCase(2, String("hello")));
    EXPECT_FALSE(String("xxHeLL").regionEqualsIgnoreCase(2, String("hello")));
    EXPECT_TRUE(String("file.DLL").endsWith(String("DLL")));
    EXPECT_FALSE(String("file.DLL").endsWith(String("dll")));
    EXPECT_TRUE(String("file.DLL").endsWithIgnoreCase(String(".dLl")));
    EXPECT_FALSE(String("LL").endsWithIgnoreCase(String(".dll")));
    EXPECT_TRUE(String("abc").startsWith(String("ab")));
    EXPECT_LT(String("ab").compare(String("abc")), 0);
    EXPECT_GT(String("b").compare(String("abc")), 0);
    EXPECT_GT(String("\x80").compare(String("a")), 0);  // bytes compare unsigned
}

TEST(String, ToLowerSharesWhenThereIsNothingToFold) {
    String lower = String::copy(std::string("already lower 123"));
    String same = lower.toLower();
    EXPECT_EQ(same.storageIdentity(), lower.storageIdentity());
    EXPECT_EQ(same.data(), lower.data());
    String mixed = String::copy(std::string("MiXeD"));
    EXPECT_EQ(mixed.toLower(), "mixed");
    EXPECT_EQ(mixed, "MiXeD");
}

TEST(String, ReplaceAndRemove) {
    String s = String::copy(std::string("a-b-c"));
    EXPECT_EQ(s.replace('-', '+'), "a+b+c");
    EXPECT_EQ(s, "a-b-c");
    EXPECT_EQ(s.replace('x', '+').data(), s.data());  // nothing to replace: shared
    EXPECT_EQ(s.remove('-'), "abc");
    EXPECT_EQ(s.remove('x').data(), s.data());
    EXPECT_EQ(s.replace("-", "--"), "a--b--c");
    EXPECT_EQ(s.replace(String("a-"), String("")), "b-c");
    EXPECT_EQ(String("aaa").replace("aa", "b"), "ba");
    EXPECT_EQ(s.replace("", "x"), s);
}

TEST(String, ConcatenationAcrossBlocks) {
    // 8 pieces fill one block; 9 and 64 need following blocks.
    for (int pieces : {2, 8, 9, 17, 64}) {
        std::string expected;
        String first("p0.");
        expected += "p0.";
        String second = String::copy(std::string("p1."));
        expected += "p1.";
        tessel::StringAddition addition = first + second;
        for (int i = 2; i < pieces; ++i) {
            std::string piece = "p" + std::to_string(i) + ".";
            expected += piece;
            static_cast<void>(std::move(addition) + String::copy(piece));
        }
        EXPECT_EQ(addition.length(), expected.size());
        String joined = addition;
        EXPECT_EQ(joined.toStd(), expected) << pieces;
        EXPECT_EQ(joined.data()[joined.length()], '\0');
        EXPECT_EQ(first, "p0.");
        EXPECT_EQ(second, "p1.");
    }
}

TEST(String, ConcatenationMixesPieces) {
    String a("ab");
    String joined = a + "cd" + 'e' + String(static_cast<int32_t>(-12)) + String() + a;
    EXPECT_EQ(joined, "abcde-12ab");
    String fromChar = 'x' + a;
    EXPECT_EQ(fromChar, "xab");
    String fromText = "[" + a + ']';
    EXPECT_EQ(fromText, "[ab]");
}

TEST(String, ConcatenationMovesTemporaryPieces) {
    String owned = String::copy(std::string("owned"));
    String joined = String::copy(std::string("[")) + owned + String(static_cast<uint32_t>(7)) +
                    owned.substring(1, 3) + String::copy(std::string("]"));
    EXPECT_EQ(joined, "[owned7wne]");
    EXPECT_EQ(owned, "owned");
}

TEST(String, LongConcatenationChains) {
    // Thousands of blocks: built and released (in a loop) without trouble, twice, so that
    // recycled blocks are used as well.
    for (int round = 0; round < 2; ++round) {
        tessel::StringAddition addition = String("a") + String("b");
        for (int i = 0; i < 20000; ++i)
            static_cast<void>(std::move(addition) + 'c');
        String joined = addition;
        EXPECT_EQ(joined.length(), 20002u);
        EXPECT_EQ(joined.substring(0, 3), "abc");
        EXPECT_EQ(joined.charAt(20001), 'c');
    }
}

TEST(String, MovingLeavesTheSourceEmpty) {
    String source = String::copy(std::string("moved text"));
    const void* storage = source.storageIdentity();
    String target = std::move(source);
    EXPECT_EQ(target, "moved text");
    EXPECT_EQ(target.storageIdentity(), storage);
    EXPECT_TRUE(source.isEmpty());  // NOLINT: checking the moved-from state on purpose
    EXPECT_FALSE(source.hasStorage());
    EXPECT_STREQ(source.c_str(), "");
    String other = String::copy(std::string("x"));
    other = std::move(target);
    EXPECT_EQ(other, "moved text");
    EXPECT_TRUE(target.isEmpty());
}

TEST(String, AppendAllReservesOnceAndHandlesItself) {
    String s = String::copy(std::string("ab"));
    s.appendAll(':', s, "-", String("z"), 'q');
    EXPECT_EQ(s, "ab:ab-zq");
    String self = String::copy(std::string("xy"));
    self.append(self);
    EXPECT_EQ(self, "xyxy");
    String part = String::copy(std::string("hello"));
    part.append(part.data() + 1, 3);  // bytes of its own
    EXPECT_EQ(part, "helloell");
}

TEST(String, SetLengthCutsAndGrows) {
    String s = String::copy(std::string("abcdef"));
    String keep = s;
    s.setLength(3);
    EXPECT_EQ(s, "abc");
    EXPECT_EQ(keep, "abcdef");
    s.setLength(5);
    EXPECT_EQ(s.length(), 5u);
    EXPECT_EQ(s.substring(0, 3), "abc");
    EXPECT_EQ(keep, "abcdef");
    s.setAt(10, 'x');  // past the end: nothing
    EXPECT_EQ(s.length(), 5u);
}

#ifndef _WIN32
// Linux's ANSI code page is UTF-8.
TEST(String, WideRoundTrip) {
    String text = String::copy(std::string("caf\xc3\xa9 \xe2\x82\xac \xf0\x9d\x84\x9e"));
    std::wstring wide = text.toWide();
    EXPECT_EQ(wide, L"caf\u00e9 \u20ac \U0001D11E");
    EXPECT_EQ(String::fromWide(wide.c_str()), text);
    EXPECT_EQ(String::copy(std::string("\xff")).toWide(), L"\uFFFD");
}
#else
// Windows converts through the ANSI code page; the test run's is Western European (1252).
TEST(String, WideFormGoesThroughTheAnsiCodePage) {
    if (GetACP() != 1252)
        GTEST_SKIP() << "ANSI code page " << GetACP() << ", not 1252";
    String text = String::copy(std::string("caf\xe9 \x80"));
    std::wstring wide = text.toWide();
    EXPECT_EQ(wide, L"caf\u00e9 \u20ac");
    EXPECT_EQ(String::fromWide(wide.c_str()), text);
    // Not in the code page: the default character.
    EXPECT_EQ(String::fromWide(L"\u4e2d."), "?.");
    EXPECT_EQ(String::fromWide(L""), "");
    EXPECT_EQ(String::fromWide(nullptr), "");
    EXPECT_EQ(String().toWide(), L"");
}
#endif
