#include "xml/bytescan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace tessel::xml::detail;

namespace {

// The scans byte by byte, as the parser would run them without blocks.
uint32_t expectedScan(const std::vector<char>& text, uint32_t p, uint32_t end, unsigned char cls,
                      bool with) {
    while (p < end && is(text[p], cls) != with)
        ++p;
    return p;
}

uint32_t expectedFind(const std::vector<char>& text, char c, uint32_t p, uint32_t end) {
    while (p < end && text[p] != c)
        ++p;
    return p;
}

// Every text length around one and three blocks, one stop byte at each place (or none), every
// start: the scans agree with the byte loop, never look before the start or past the end (a
// stop byte sits just outside the range on both sides), and read nothing outside the text
// (each text is its own heap block of exactly its size, checked under AddressSanitizer).
TEST(ByteScan, BlockScansAgreeWithTheByteLoopAtEveryBoundary) {
    struct Case {
        const char* what;
        char filler;  // a byte of no class
        char stop;    // a byte of the class scanned for
    };
    const Case cases[] = {
        {"tag name to a blank", 'a', ' '},
        {"tag name to a slash", '\x0b', '/'},  // vertical tab: below blank, but no stop
        {"tag name to a greater-than", '\xff', '>'},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        for (uint32_t length = 0; length <= 40; ++length) {
            for (uint32_t stopAt = 0; stopAt <= length; ++stopAt) {  // stopAt == length: none
                std::vector<char> text(length, k.filler);
                if (stopAt < length)
                    text[stopAt] = k.stop;
                for (uint32_t from = 0; from <= length; ++from) {
                    for (uint32_t end : {from, (from + length) / 2, length}) {
                        if (end < from)
                            continue;
                        std::vector<char> fenced = text;
                        if (from > 0)
                            fenced[from - 1] = k.stop;
                        if (end < length)
                            fenced[end] = k.stop;
                        const char* data = fenced.data();
                        SCOPED_TRACE(testing::Message() << "length " << length << " stop " << stopAt
                                                        << " range " << from << "-" << end);
                        ASSERT_EQ((scan<kTagStop, true>(data, from, end)),
                                  expectedScan(fenced, from, end, kTagStop, true));
                        ASSERT_EQ(scanFor(k.stop, data, from, end),
                                  expectedFind(fenced, k.stop, from, end));
                    }
                }
            }
        }
    }
}

// Skipping whitespace stops at the first byte of no space class, wherever it is; the classes
// are exact (a vertical tab, a NUL and a byte above 127 are not whitespace, "=" ends an
// attribute name but not a tag name).
TEST(ByteScan, ClassesAreExactInBlocksAndBytes) {
    for (uint32_t length = 1; length <= 40; ++length) {
        for (uint32_t stopAt = 0; stopAt < length; ++stopAt) {
            for (char other : {'\x0b', '\0', '\x80', 'x'}) {
                std::vector<char> text(length, ' ');
                for (uint32_t i = 0; i < length; ++i)
                    text[i] = "\r\n\t "[i % 4];
                text[stopAt] = other;
                SCOPED_TRACE(testing::Message()
                             << "length " << length << " at " << stopAt << " byte " << int(other));
                EXPECT_EQ((scan<kSpace, false>(text.data(), 0, length)), stopAt);
            }
            std::vector<char> name(length, 'n');
            name[stopAt] = '=';
            EXPECT_EQ((scan<kNameStop, true>(name.data(), 0, length)), stopAt);
            EXPECT_EQ((scan<kTagStop, true>(name.data(), 0, length)), length);
            EXPECT_EQ((scan<kValueStop, true>(name.data(), 0, length)), length);
        }
    }
}

// A tag name scan tells whether a colon comes before the stop: a colon before the start of
// the range (read as part of the last block) or after the stop does not count, at every
// length, colon place and stop place.
TEST(ByteScan, TagNameColonOnlyBetweenStartAndStop) {
    for (uint32_t length = 1; length <= 40; ++length) {
        for (uint32_t from = 0; from < length; ++from) {
            for (uint32_t stopAt = from; stopAt <= length; ++stopAt) {  // length: no stop
                for (uint32_t colonAt = 0; colonAt < length; ++colonAt) {
                    if (colonAt == stopAt)
                        continue;
                    std::vector<char> text(length, 'n');
                    text[colonAt] = ':';
                    if (stopAt < length)
                        text[stopAt] = '>';
                    bool colon = true;
                    uint32_t end = scanTagName(text.data(), from, length, colon);
                    SCOPED_TRACE(testing::Message() << "length " << length << " from " << from
                                                    << " stop " << stopAt << " colon " << colonAt);
                    ASSERT_EQ(end, stopAt);
                    ASSERT_EQ(colon, colonAt >= from && colonAt < stopAt);
                }
            }
        }
    }
}

}  // namespace
