// Matching: the rule of every node, whole-input and search operations, group queries, bounded
// work on pathological patterns and bounded stack use on long inputs and small stacks.
#include "regex/matcher.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "regex/pattern.h"

using tessel::String;
using tessel::gc::Pointer;
using tessel::regex::Matcher;
using tessel::regex::Pattern;

namespace {

constexpr int kIgnoreCase = Pattern::IgnoreCase;
constexpr int kLiteral = Pattern::Literal;
constexpr int kDotAll = Pattern::DotAll;
constexpr int kMultiLine = Pattern::MultiLine;
constexpr int kUnixLines = Pattern::UnixLines;

const char* const kUriPattern = "^(([^:/?#]+):)?(//([^/?#]*))?([^?#]*)(\\?([^#]*))?(#(.*))?";
const char* const kPercentPattern = "%([A-Fa-f0-9]{2})";

// "start-end" for every group of the last match, "x" for a group that did not take part.
std::string groups(const Matcher& m) {
    std::string out;
    for (int i = 0; i < m.groupCount(); ++i) {
        if (i)
            out += ' ';
        int s = m.groupStart(i);
        int e = m.groupEnd(i);
        out += s < 0 ? "x" : std::to_string(s) + "-" + std::to_string(e);
    }
    return out;
}

enum class Op { All, First, Scan };

// Runs one operation; "none" when nothing matches. Scan lists every match of findFirst and
// the findNext calls after it, separated by ";".
std::string run(const char* pattern, int flags, const std::string& input, Op op) {
    Pointer<Pattern> p = Pattern::compile(pattern, flags);
    if (!p)
        return "no pattern";
    Pointer<Matcher> m = p->createMatcher(String::copy(input));
    switch (op) {
        case Op::All:
            return m->matchesAll() ? groups(*m) : "none";
        case Op::First:
            return m->findFirst() ? groups(*m) : "none";
        case Op::Scan: {
            std::string out;
            for (bool found = m->findFirst(); found; found = m->findNext()) {
                if (!out.empty())
                    out += ';';
                out += groups(*m);
                if (out.size() > 10000)
                    break;
            }
            return out.empty() ? "none" : out;
        }
    }
    return "";
}

struct MatchCase {
    const char* pattern;
    int flags;
    std::string input;
    Op op;
    const char* expected;
};

const MatchCase kCases[] = {
    // StartNode and EndNode: whole input against search.
    {"b", 0, "ab", Op::All, "none"},
    {"b", 0, "ab", Op::First, "1-2"},
    {"a", 0, "ab", Op::All, "none"},
    {"ab", 0, "ab", Op::All, "0-2"},
    {"", 0, "", Op::All, "0-0"},
    {"", 0, "ab", Op::All, "none"},
    {"c", 0, "ab", Op::First, "none"},
    // Characters, classes and literal texts.
    {"abc", 0, "xabcx", Op::First, "1-4"},
    {"aBc", kIgnoreCase, "AbC", Op::All, "0-3"},
    {"a1", kIgnoreCase, "A1", Op::All, "0-2"},
    {"abc", 0, "aBc", Op::All, "none"},
    {"[a-c]+", 0, "abcd", Op::First, "0-3"},
    {"[A-C]", kIgnoreCase, "b", Op::All, "0-1"},
    {"[A-C]", kIgnoreCase, "B", Op::All, "0-1"},
    {"[a-c]", kIgnoreCase, "B", Op::All, "0-1"},
    {"[^a]", kIgnoreCase, "A", Op::All, "none"},
    {"[^a]", kIgnoreCase, "b", Op::All, "0-1"},
    {"\\W", kIgnoreCase, "A", Op::All, "none"},
    {"\\P{Upper}", kIgnoreCase, "a", Op::All, "none"},
    {"\\p{Upper}", kIgnoreCase, "a", Op::All, "0-1"},
    {"\\x41", kIgnoreCase, "a", Op::All, "none"},
    {"[z-a]", 0, "a", Op::All, "0-1"},
    {"[z-a]", 0, "b", Op::All, "none"},
    {"[z-a]", 0, "y", Op::All, "none"},
    {"[z-a]", 0, "{", Op::All, "0-1"},
    {"[z-a]", 0, std::string(1, '\xff'), Op::All, "0-1"},
    {"[z-a]", 0, std::string(1, '\0'), Op::All, "0-1"},
    {"\\x4G", 0,
     std::string("\0"
                 "4G",
                 3),
     Op::All, "0-3"},
    {"\\p{Digit}+", 0, "123", Op::All, "0-3"},
    {"[\\p{Lower}&&[^a]]+", 0, "bz", Op::All, "0-2"},
    {"[\\p{Lower}&&[^a]]", 0, "a", Op::All, "none"},
    {"\\e", 0, "\r", Op::All, "0-1"},
    {"\\e", 0, "\x1b", Op::All, "none"},
    {"\\Qa.b\\E", 0, "a.b", Op::All, "0-3"},
    {"\\Qa.b\\E", 0, "axb", Op::All, "none"},
    {"\\QAb\\E", kIgnoreCase, "aB", Op::All, "0-2"},
    {"\\QAb\\E", 0, "aB", Op::All, "none"},
    {"\\Qab\\E", 0, "a", Op::All, "none"},
    {"a.b", kLiteral, "a.b", Op::All, "0-3"},
    {"a.b", kLiteral, "axb", Op::All, "none"},
    {"A.B", kLiteral | kIgnoreCase, "a.b", Op::All, "0-3"},
    {"(a)", kLiteral, "(a)", Op::All, "0-3"},
    // "." and its flags.
    {"a.b", 0, "a\nb", Op::All, "none"},
    {"a.b", 0, "a\rb", Op::All, "none"},
    {"a.b", kDotAll, "a\nb", Op::All, "0-3"},
    {"a.b", kUnixLines, "a\rb", Op::All, "0-3"},
    {"a.b", kUnixLines, "a\nb", Op::All, "none"},
    // Greedy, lazy and possessive atoms.
    {"a*ab", 0, "aaab", Op::All, "0-4"},
    {"a*", 0, "aaa", Op::All, "0-3"},
    {"a{2}", 0, "a", Op::All, "none"},
    {"a{2,3}", 0, "aaaa", Op::All, "none"},
    {"a{,3}", 0, "", Op::All, "0-0"},
    {"a{,3}", 0, "aaa", Op::All, "0-3"},
    {"a{,3}", 0, "aaaa", Op::All, "none"},
    {"a{}b", 0, "b", Op::All, "0-1"},
    {"a{5,2}", 0, "aaaaa", Op::All, "0-5"},
    {"a*?b", 0, "aab", Op::First, "0-3"},
    {"<.+?>", 0, "<a><b>", Op::First, "0-3"},
    {"<.+>", 0, "<a><b>", Op::First, "0-6"},
    {"a{2,3}?", 0, "aaa", Op::All, "0-3"},
    {"a{2,3}?", 0, "aaa", Op::First, "0-2"},
    // One repetition more than the maximum is never taken, lazy or greedy, on a single byte
    // and on a longer atom.
    {"a{1,2}?", 0, "aaa", Op::All, "none"},
    {"a{1,2}?b", 0, "aaab", Op::All, "none"},
    {"a{1,2}?b", 0, "aaab", Op::First, "1-4"},
    {"\\Qab\\E{1,2}?", 0, "ababab", Op::All, "none"},
    {"a{1,2}", 0, "aaa", Op::All, "none"},
    {"a{1,2}b", 0, "aaab", Op::First, "1-4"},
    {"\\Qab\\E{1,2}", 0, "ababab", Op::All, "none"},
    {"a{1,2}+", 0, "aaa", Op::All, "none"},
    {"(a){1,2}?", 0, "aaa", Op::All, "none"},
    {"(a){1,2}", 0, "aaa", Op::All, "none"},
    {"(a){1,2}+", 0, "aaa", Op::All, "none"},
    {"a*+a", 0, "aaa", Op::All, "none"},
    {"a++b", 0, "aab", Op::All, "0-3"},
    {"[ab]?+b", 0, "b", Op::All, "none"},
    {"\\Qab\\E+", 0, "ababab", Op::All, "0-6"},
    {"\\Qab\\E*ab", 0, "ababab", Op::All, "0-6"},
    {"\\Qab\\E*?b", 0, "abab", Op::All, "none"},
    {"\\Qab\\E{2}", 0, "abab", Op::All, "0-4"},
    {"\\Qab\\E++ab", 0, "abab", Op::All, "none"},
    {"(ab)\\1*", 0, "ababab", Op::All, "0-6 0-2"},
    {"(ab)\\1*ab", 0, "ababab", Op::All, "0-6 0-2"},
    {"(ab)\\1*+ab", 0, "ababab", Op::All, "none"},
    {"(ab)\\1*?", 0, "abab", Op::First, "0-2 0-2"},
    // Atoms that consume nothing leave their repetition.
    {"^*a", 0, "a", Op::All, "0-1"},
    {"\\b+a", 0, "a", Op::All, "0-1"},
    {"(a*)\\1*b", 0, "b", Op::All, "0-1 0-0"},
    {"(?:a*)*b", 0, "aab", Op::All, "0-3"},
    // OrNode: the left alternative is not retried shorter.
    {"(a*|x)ab", 0, "aab", Op::All, "none"},
    {"(a*|x)b", 0, "aab", Op::All, "0-3 0-2"},
    {"a|ab", 0, "ab", Op::All, "0-2"},
    {"a|ab", 0, "ab", Op::First, "0-1"},
    {"a|b|c", 0, "c", Op::All, "0-1"},
    {"x(a|b|)y", 0, "xy", Op::All, "0-2 1-1"},
    // A failed alternative leaves no captures behind.
    {"(?:(a)|ab)c", 0, "abc", Op::All, "0-3 x"},
    {"(?:(a)|(a))b", 0, "ab", Op::All, "0-2 0-1 x"},
    // Groups and group loops.
    {"(a)(b)", 0, "ab", Op::All, "0-2 0-1 1-2"},
    {"(a)|(b)", 0, "b", Op::All, "0-1 x 0-1"},
    {"(ab)+", 0, "ababx", Op::First, "0-4 2-4"},
    {"(ab)*", 0, "", Op::All, "0-0 x"},
    {"(a)+?", 0, "aaa", Op::First, "0-1 0-1"},
    {"(a)*?b", 0, "aab", Op::All, "0-3 1-2"},
    {"(a)*+a", 0, "aa", Op::All, "none"},
    {"(a)*+b", 0, "aab", Op::All, "0-3 1-2"},
    // Inside a loop the rest of the loop follows the alternative, so a failure there reaches
    // the right alternative.
    {"(a|ab)*c", 0, "abc", Op::All, "0-3 0-2"},
    // A possessive loop runs on its own to its first way out and never gives back: after
    // "a" nothing repeats, so "ab" is not tried for the rest's sake.
    {"(a|ab)*+c", 0, "abc", Op::All, "none"},
    {"(a|ab)*+b", 0, "ab", Op::All, "0-2 0-1"},
    {"(?:b)++b", 0, "bb", Op::All, "none"},
    {"(?:b+)++b", 0, "bb", Op::All, "none"},
    {"(?:b+)++c", 0, "bbc", Op::All, "0-3"},
    {"(b{1}){,}+b", 0, "b", Op::All, "none"},
    {"(b{1}){,}+", 0, "bb", Op::All, "0-2 1-2"},
    {"(?:(b+)|c)++b", 0, "bcb", Op::All, "none"},
    {"(?:(b)+)++c", 0, "bbc", Op::All, "0-3 1-2"},
    {"(?:(x)*+y|xz)", 0, "xz", Op::All, "0-2 x"},
    {"(a){2}", 0, "a", Op::All, "none"},
    {"(a){2}", 0, "aa", Op::All, "0-2 1-2"},
    {"(a){2,}", 0, "aaa", Op::All, "0-3 2-3"},
    {"(a){1,2}a", 0, "aa", Op::All, "0-2 0-1"},
    {"(a){1,2}?a", 0, "aaa", Op::All, "0-3 1-2"},
    {"(a?)*b", 0, "b", Op::All, "0-1 0-0"},
    {"(a|)*b", 0, "aab", Op::All, "0-3 2-2"},
    {"((a)b)*", 0, "abab", Op::All, "0-4 2-4 2-3"},
    {"(?:(a)b)+c", 0, "ababc", Op::All, "0-5 2-3"},
    {"(a)?b", 0, "b", Op::All, "0-1 x"},
    {"(a){0}b", 0, "b", Op::All, "0-1 x"},
    {"(?>a|ab)c", 0, "abc", Op::All, "none"},
    {"(?>ab|a)c", 0, "abc", Op::All, "0-3"},
    {"(?>(a))b", 0, "ab", Op::All, "0-2 0-1"},
    {"(?:(?>(a))c|ab)", 0, "ab", Op::All, "0-2 x"},
    // Look-ahead and look-behind.
    {"a(?=b)", 0, "acab", Op::First, "2-3"},
    {"a(?!b)", 0, "abac", Op::First, "2-3"},
    {"(?=(a))a", 0, "a", Op::All, "0-1 0-1"},
    {"(?:(?=(a))ab|ac)", 0, "ac", Op::All, "0-2 x"},
    {"(?!(a)b)a", 0, "ac", Op::First, "0-1 x"},
    {"(?<=a)b", 0, "cbab", Op::First, "3-4"},
    {"(?<!a)b", 0, "abcb", Op::First, "3-4"},
    {"(?<=ab)c", 0, "abc", Op::First, "2-3"},
    {"(?<=ab)c", 0, "bc", Op::First, "none"},
    {"(?<=)a", 0, "a", Op::All, "0-1"},
    // Back references.
    {"(a+)b\\1", 0, "aabaa", Op::All, "0-5 0-2"},
    {"(a+)b\\1", 0, "aaba", Op::All, "none"},
    {"(a)?b\\1", 0, "b", Op::All, "0-1 x"},
    {"(a*)b\\1c", 0, "bc", Op::All, "0-2 0-0"},
    {"(a)\\1", kIgnoreCase, "aA", Op::All, "none"},
    {"\\1(a)", 0, "a", Op::All, "0-1 0-1"},
    // Anchors.
    {"\\Aa", 0, "ba", Op::First, "none"},
    {"^a", 0, "ab", Op::First, "0-1"},
    {"^b", 0, "ab", Op::First, "none"},
    {"a$", 0, "a\n", Op::First, "none"},
    {"a\\z", 0, "a\n", Op::First, "none"},
    {"a\\Z", 0, "a\n", Op::First, "0-1"},
    {"a\\Z", 0, "a\r", Op::First, "0-1"},
    {"a\\Z", 0, "a\r\n", Op::First, "0-1"},
    {"a\\Z", 0, "a\n\r", Op::First, "none"},
    {"a\\Z", 0, "a\n\n", Op::First, "none"},
    {"^b", kMultiLine, "a\nb", Op::First, "2-3"},
    {"^b", kMultiLine, "a\rb", Op::First, "2-3"},
    {"a$", kMultiLine, "a\nb", Op::First, "0-1"},
    {"b$", kMultiLine, "ab", Op::First, "1-2"},
    {"a$", kMultiLine, "ab", Op::First, "none"},
    // Word boundaries: only letters are word bytes.
    {"\\bfoo", 0, "1foo", Op::First, "1-4"},
    {"\\bfoo", 0, "_foo", Op::First, "1-4"},
    {"\\bfoo", 0, "afoo", Op::First, "none"},
    {"\\Bfoo", 0, "afoo", Op::First, "1-4"},
    {"a\\b", 0, "a", Op::All, "0-1"},
    {"a\\B", 0, "a", Op::All, "0-1"},
    {"a\\b1", 0, "a1", Op::All, "0-2"},
    {"1\\B2", 0, "12", Op::All, "0-2"},
    {"\\b", 0, "", Op::All, "0-0"},
    // "\G": the search start.
    {"\\Ga", 0, "aab", Op::Scan, "0-1;1-2"},
    {"\\Ga", 0, "ba", Op::Scan, "none"},
    // Search sequences.
    {"x*", 0, "ab", Op::Scan, "0-0;1-1"},
    {"a*", 0, "aa", Op::Scan, "0-2"},
    {"a", 0, "aaa", Op::Scan, "0-1;1-2;2-3"},
    {kPercentPattern, 0, "a%41b%4g%42", Op::Scan, "1-4 2-4;8-11 9-11"},
    {kPercentPattern, 0, "%%41%4", Op::Scan, "1-4 2-4"},
    // The URI pattern.
    {kUriPattern, 0, "s://a/p?q#f", Op::All, "0-11 0-2 0-1 2-5 4-5 5-7 7-9 8-9 9-11 10-11"},
    {kUriPattern, 0, "/p", Op::All, "0-2 x x x x 0-2 x x x x"},
    {kUriPattern, 0, "", Op::All, "0-0 x x x x 0-0 x x x x"},
    {kUriPattern, 0, "a#b\nc", Op::All, "none"},
};

std::string opName(Op op) {
    return op == Op::All ? "matchesAll" : op == Op::First ? "findFirst" : "scan";
}

TEST(MatcherTest, NodeRules) {
    for (const MatchCase& c : kCases) {
        EXPECT_EQ(run(c.pattern, c.flags, c.input, c.op), c.expected)
            << "pattern '" << c.pattern << "' flags " << c.flags << " input '" << c.input << "' "
            << opName(c.op);
    }
}

// A case-insensitive literal compares every byte, zero bytes included, and never reads past
// the input.
TEST(MatcherTest, CaseInsensitiveLiteralComparesWholeText) {
    Pointer<Pattern> p = Pattern::compile(String::copy(std::string("A\0B", 3)),
                                          Pattern::Literal | Pattern::IgnoreCase);
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->createMatcher(String::copy(std::string("a\0b", 3)))->matchesAll());
    EXPECT_FALSE(p->createMatcher(String::copy(std::string("a\0c", 3)))->matchesAll());
    EXPECT_FALSE(p->createMatcher(String::copy(std::string("a\0", 2)))->findFirst());
}

TEST(MatcherTest, UriGroupTexts) {
    Pointer<Pattern> p = Pattern::compile(kUriPattern);
    ASSERT_TRUE(p);
    Pointer<Matcher> m = p->createMatcher("s://a/p?q#f");
    ASSERT_TRUE(m->matchesAll());
    const char* texts[] = {"s://a/p?q#f", "s:", "s", "//a", "a", "/p", "?q", "q", "#f", "f"};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(m->groupText(i), String(texts[i])) << i;

    Pointer<Matcher> path = p->createMatcher("/p");
    ASSERT_TRUE(path->matchesAll());
    for (int i : {1, 2, 3, 4, 6, 7, 8, 9}) {
        EXPECT_EQ(path->groupStart(i), -1) << i;
        EXPECT_EQ(path->groupEnd(i), -1) << i;
        EXPECT_TRUE(path->groupText(i).isEmpty()) << i;
    }
    EXPECT_EQ(path->groupText(5), String("/p"));
}

TEST(MatcherTest, GroupQueriesOutOfRangeAndBeforeAnyOperation) {
    Pointer<Pattern> p = Pattern::compile("(a)(b)?");
    Pointer<Matcher> m = p->createMatcher("a");
    EXPECT_STREQ(m->className(), "regex.Matcher");
    EXPECT_EQ(m->groupCount(), 3);
    // Before any operation every capturing group spans 0 to 0.
    EXPECT_EQ(m->groupStart(1), 0);
    EXPECT_EQ(m->groupEnd(1), 0);
    ASSERT_TRUE(m->matchesAll());
    for (int i : {-5, -1, 3, 100}) {
        EXPECT_EQ(m->groupStart(i), -1);
        EXPECT_EQ(m->groupEnd(i), -1);
        EXPECT_TRUE(m->groupText(i).isEmpty());
    }
    EXPECT_EQ(m->groupText(1), String("a"));
    EXPECT_EQ(m->groupStart(2), -1);
    // A failure leaves every group at -1.
    Pointer<Matcher> miss = p->createMatcher("x");
    EXPECT_FALSE(miss->matchesAll());
    EXPECT_EQ(miss->groupStart(0), -1);
    EXPECT_EQ(miss->groupStart(1), -1);
}

TEST(MatcherTest, FindNextSequence) {
    Pointer<Pattern> p = Pattern::compile(kPercentPattern);
    Pointer<Matcher> m = p->createMatcher("a%41b%4g%42");
    // Without a previous success findNext is findFirst.
    ASSERT_TRUE(m->findNext());
    EXPECT_EQ(m->groupStart(0), 1);
    EXPECT_EQ(m->groupEnd(0), 4);
    EXPECT_EQ(m->groupText(1), String("41"));
    ASSERT_TRUE(m->findNext());
    EXPECT_EQ(m->groupStart(0), 8);
    EXPECT_EQ(m->groupEnd(0), 11);
    EXPECT_EQ(m->groupText(1), String("42"));
    EXPECT_FALSE(m->findNext());
    EXPECT_EQ(m->groupStart(0), -1);
    // Once false, it stays false until a new search starts.
    EXPECT_FALSE(m->findNext());
    ASSERT_TRUE(m->findFirst());
    EXPECT_EQ(m->groupStart(0), 1);
    // matchesAll is no search: findNext after it starts from the beginning.
    EXPECT_FALSE(m->matchesAll());
    ASSERT_TRUE(m->findNext());
    EXPECT_EQ(m->groupStart(0), 1);
}

TEST(MatcherTest, InputIsAPrivateCopy) {
    Pointer<Pattern> p = Pattern::compile("(b+)");
    std::string text = "abbc";
    Pointer<Matcher> m = p->createMatcher(String(text.data(), static_cast<uint32_t>(text.size())));
    text.assign("xxxx");
    ASSERT_TRUE(m->findFirst());
    EXPECT_EQ(m->groupText(1), String("bb"));
}

TEST(MatcherTest, MatcherOutlivesItsPattern) {
    Pointer<Matcher> m;
    {
        Pointer<Pattern> p = Pattern::compile("a(b)c");
        m = p->createMatcher("xabc");
    }
    ASSERT_TRUE(m->findFirst());
    EXPECT_EQ(m->groupText(1), String("b"));
}

// ---------------------------------------------------------------------------------------------
// Bounded work

// Exponential patterns finish: the step limit is a safety net that the test asserts was never
// reached, so a runaway would fail the test instead of hanging it.
TEST(MatcherTest, PathologicalPatternsFinishWithBoundedWork) {
    struct Case {
        const char* pattern;
        std::string input;
    } cases[] = {
        {"(a*)*b", std::string(20, 'a')},
        {"(a+)+b", std::string(16, 'a')},
        {"(?:a*)*b", std::string(16, 'a')},
        {"(a|a)*b", std::string(16, 'a')},
        {"(a?){20}a{20}", std::string(20, 'a')},
        {"((a*)*)*b", std::string(8, 'a')},
        {"(\\w+\\s?)*$", std::string(16, 'a') + "!"},
        {"(?:(a)|\\b)*b", std::string(20, 'a')},
    };
    const uint64_t limit = 200000000;
    for (const Case& c : cases) {
        Pointer<Pattern> p = Pattern::compile(c.pattern);
        ASSERT_TRUE(p) << c.pattern;
        Pointer<Matcher> m = p->createMatcher(String::copy(c.input));
        m->setStepLimit(limit);
        m->findFirst();
        EXPECT_FALSE(m->limitReached()) << c.pattern << " took more than " << limit << " steps";
        EXPECT_GT(m->steps(), 0u);
        m->matchesAll();
        EXPECT_FALSE(m->limitReached()) << c.pattern;
    }
}

TEST(MatcherTest, StepLimitStopsAMatchCleanly) {
    Pointer<Pattern> p = Pattern::compile("(a*)*b");
    Pointer<Matcher> m = p->createMatcher(String::copy(std::string(30, 'a')));
    m->setStepLimit(10000);
    EXPECT_FALSE(m->findFirst());
    EXPECT_TRUE(m->limitReached());
    EXPECT_LT(m->steps(), 20000u);
    EXPECT_EQ(m->groupStart(0), -1);
    // A later operation starts with a fresh budget.
    m->setStepLimit(0);
    Pointer<Matcher> easy = p->createMatcher("aab");
    easy->setStepLimit(10000);
    EXPECT_TRUE(easy->matchesAll());
    EXPECT_FALSE(easy->limitReached());
}

// ---------------------------------------------------------------------------------------------
// Bounded stack

// Runs `body` on a thread with the given stack size.
void onThreadWithStack(size_t stackSize, void (*body)(void*), void* arg) {
    struct Call {
        void (*body)(void*);
        void* arg;
    } call{body, arg};
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, stackSize), 0);
    pthread_t thread;
    auto trampoline = [](void* p) -> void* {
        auto* c = static_cast<Call*>(p);
        c->body(c->arg);
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, trampoline, &call), 0);
    pthread_attr_destroy(&attr);
    pthread_join(thread, nullptr);
}

struct LongUriResult {
    bool matched = false;
    int pathStart = 0;
    int pathEnd = 0;
    int queryStart = 0;
    std::string fragment;
    bool limitReached = true;
};

String longUri() {
    static const String uri = [] {
        std::string text = "https://id@host:8443/";
        text.append(10 * 1024 * 1024, 'p');
        text += "?lang=fr#end";
        return String::copy(text);
    }();
    return uri;
}

void matchLongUri(void* out) {
    auto* result = static_cast<LongUriResult*>(out);
    Pointer<Pattern> p = Pattern::compile(kUriPattern);
    Pointer<Matcher> m = p->createMatcher(longUri());
    result->matched = m->matchesAll();
    result->pathStart = m->groupStart(5);
    result->pathEnd = m->groupEnd(5);
    result->queryStart = m->groupStart(7);
    result->fragment = m->groupText(9).toStd();
    result->limitReached = m->limitReached();
}

void expectLongUriSplit(const LongUriResult& r) {
    const int path = 10 * 1024 * 1024 + 1;
    EXPECT_TRUE(r.matched);
    EXPECT_FALSE(r.limitReached);
    EXPECT_EQ(r.pathStart, 20);
    EXPECT_EQ(r.pathEnd, 20 + path);
    EXPECT_EQ(r.queryStart, 21 + path);
    EXPECT_EQ(r.fragment, "end");
}

// Repetitions of single bytes run as loops: a 10 MB URI splits on any stack.
TEST(MatcherStackTest, TenMegabyteUriOnMainThread) {
    LongUriResult r;
    matchLongUri(&r);
    expectLongUriSplit(r);
}

TEST(MatcherStackTest, TenMegabyteUriOnSmallStackThread) {
    LongUriResult r;
    onThreadWithStack(256 * 1024, matchLongUri, &r);
    expectLongUriSplit(r);
}

TEST(MatcherStackTest, TenMegabyteUriOnStdThread) {
    LongUriResult r;
    std::thread t(matchLongUri, &r);
    t.join();
    expectLongUriSplit(r);
}

struct DeepResult {
    bool matched = true;
    bool limitReached = false;
};

// Group loops recurse once per iteration: on a long input the matcher stops before the stack
// runs out and reports no match.
void matchManyGroupIterations(void* out) {
    auto* result = static_cast<DeepResult*>(out);
    std::string text;
    for (int i = 0; i < 500000; ++i)
        text += "ab";
    Pointer<Pattern> p = Pattern::compile("(ab)+");
    Pointer<Matcher> m = p->createMatcher(String::copy(text));
    result->matched = m->matchesAll();
    result->limitReached = m->limitReached();
}

TEST(MatcherStackTest, DeepGroupLoopFailsCleanlyOnSmallStack) {
    DeepResult r;
    onThreadWithStack(256 * 1024, matchManyGroupIterations, &r);
    EXPECT_FALSE(r.matched);
    EXPECT_TRUE(r.limitReached);
}

// Deeply nested groups compile (no recursion) and their match stops cleanly.
void matchDeepNesting(void* out) {
    auto* result = static_cast<DeepResult*>(out);
    const int depth = 100000;
    std::string text = std::string(depth, '(') + "a" + std::string(depth, ')');
    Pointer<Pattern> p = Pattern::compile(String::copy(text));
    if (!p)
        return;
    Pointer<Matcher> m = p->createMatcher("a");
    result->matched = m->matchesAll();
    result->limitReached = m->limitReached();
}

TEST(MatcherStackTest, DeepNestingFailsCleanlyOnSmallStack) {
    DeepResult r;
    onThreadWithStack(1024 * 1024, matchDeepNesting, &r);
    EXPECT_FALSE(r.matched);
    EXPECT_TRUE(r.limitReached);
}

void matchShallowNesting(void* out) {
    auto* result = static_cast<DeepResult*>(out);
    std::string text = std::string(50, '(') + "a" + std::string(50, ')');
    Pointer<Pattern> p = Pattern::compile(String::copy(text));
    Pointer<Matcher> m = p->createMatcher("a");
    result->matched = m->matchesAll();
    result->limitReached = m->limitReached();
}

TEST(MatcherStackTest, ModerateNestingMatchesOnSmallStack) {
    DeepResult r;
    onThreadWithStack(256 * 1024, matchShallowNesting, &r);
    EXPECT_TRUE(r.matched);
    EXPECT_FALSE(r.limitReached);
}

// One compiled pattern serves matchers on several threads at once.
TEST(MatcherThreadTest, SharedPatternOnConcurrentThreads) {
    Pointer<Pattern> p = Pattern::compile(kUriPattern);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                std::string host = "h" + std::to_string(t) + "x" + std::to_string(i);
                std::string text = "https://id@" + host + ":443/p?k=" + std::to_string(i) + "#f";
                Pointer<Matcher> m = p->createMatcher(String::copy(text));
                if (!m->matchesAll() || m->groupText(4).toStd() != "id@" + host + ":443" ||
                    m->groupText(7).toStd() != "k=" + std::to_string(i)) {
                    ++failures;
                }
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
