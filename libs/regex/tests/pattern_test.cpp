// Compilation: accepted syntax and the node graph it builds, errors, group numbering, bounded
// compilation of deep nesting, and serialisation.
#include "regex/pattern.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/file.h"
#include "base/serializers.h"
#include "base/stringwriter.h"
#include "graph_dump.h"
#include "regex/matcher.h"
#include "sandbox.h"

using regex_test::dumpGraph;
using tessel::String;
using tessel::gc::Pointer;
using tessel::regex::Pattern;

namespace {

constexpr int kIgnoreCase = Pattern::IgnoreCase;
constexpr int kLiteral = Pattern::Literal;
constexpr int kDotAll = Pattern::DotAll;
constexpr int kMultiLine = Pattern::MultiLine;
constexpr int kUnixLines = Pattern::UnixLines;

const char* const kUriPattern = "^(([^:/?#]+):)?(//([^/?#]*))?([^?#]*)(\\?([^#]*))?(#(.*))?";

std::string compileDump(const std::string& text, int flags = 0) {
    Pointer<Pattern> p = Pattern::compile(String::copy(text), flags);
    return dumpGraph(p.get());
}

struct SyntaxCase {
    const char* pattern;
    int flags;
    const char* graph;  // "null" when the text must not compile
};

// Every row of the syntax tables: sequence characters, quantifiers, groups, escapes, named
// classes and bracket classes.
const SyntaxCase kSyntax[] = {
    // Sequence characters.
    {"a", 0, "lit{a}"},
    {"abc", 0, "cat{lit{a}lit{b}lit{c}}"},
    {"", 0, "empty{}"},
    {"A", kIgnoreCase, "cilit{a}"},
    {"1", kIgnoreCase, "cilit{1}"},
    {"a.b", 0, "cat{lit{a}ncls{\\n\\r}lit{b}}"},
    {".", kDotAll, "ncls{}"},
    {".", kUnixLines, "ncls{\\n}"},
    {".", kDotAll | kUnixLines, "ncls{}"},
    {".", kIgnoreCase, "ncls{\\n\\r}"},
    {"^a$", 0, "cat{bot{}lit{a}eot{}}"},
    {"^a$", kMultiLine, "cat{bol{}lit{a}eol{}}"},
    {"a)", 0, "null"},
    {")", 0, "null"},
    {"*a", 0, "null"},
    {"+a", 0, "null"},
    {"?a", 0, "null"},
    {"]", 0, "null"},
    {"a]", 0, "null"},
    {"}", 0, "null"},
    {"{", 0, "null"},
    {"a\\", 0, "null"},
    {"a|b", 0, "alt{lit{a}|lit{b}}"},
    {"a|b|c", 0, "alt{lit{a}|alt{lit{b}|lit{c}}}"},
    {"ab|cd", 0, "alt{cat{lit{a}lit{b}}|cat{lit{c}lit{d}}}"},
    {"a|", 0, "alt{lit{a}|empty{}}"},
    {"|", 0, "alt{empty{}|empty{}}"},
    {"x(a|b)y", 0, "cat{lit{x}cap{1:alt{lit{a}|lit{b}}}lit{y}}"},

    // Atom quantifiers.
    {"a*", 0, "rep{0,*:lit{a}}"},
    {"a+", 0, "rep{1,*:lit{a}}"},
    {"a?", 0, "rep{0,1:lit{a}}"},
    {"a{3}", 0, "rep{3,3:lit{a}}"},
    {"a{3,}", 0, "rep{3,*:lit{a}}"},
    {"a{,3}", 0, "rep{0,3:lit{a}}"},
    {"a{,}", 0, "rep{0,*:lit{a}}"},
    {"a{2,5}", 0, "rep{2,5:lit{a}}"},
    {"a{}", 0, "rep{0,0:lit{a}}"},
    {"a{5,2}", 0, "rep{5,5:lit{a}}"},
    {"a{99999999999}", 0, "rep{*,*:lit{a}}"},
    {"a*?", 0, "lazy{0,*:lit{a}}"},
    {"a+?", 0, "lazy{1,*:lit{a}}"},
    {"a??", 0, "lazy{0,1:lit{a}}"},
    {"a{2,3}?", 0, "lazy{2,3:lit{a}}"},
    {"a*+", 0, "poss{0,*:lit{a}}"},
    {"a++", 0, "poss{1,*:lit{a}}"},
    {"a?+", 0, "poss{0,1:lit{a}}"},
    {"a{2,}+", 0, "poss{2,*:lit{a}}"},
    {".*", 0, "rep{0,*:ncls{\\n\\r}}"},
    {"[ab]+", 0, "rep{1,*:cls{ab}}"},
    {"\\d{2}", 0, "rep{2,2:cls{0-9}}"},
    {"^*", 0, "rep{0,*:bot{}}"},
    {"\\b+", 0, "rep{1,*:wb{}}"},
    {"\\Qab\\E*", 0, "rep{0,*:str{ab}}"},
    {"(a)\\1+", 0, "cat{cap{1:lit{a}}rep{1,*:ref{1}}}"},
    {"a{2,x}", 0, "null"},
    {"a{x}", 0, "null"},
    {"a{2", 0, "null"},
    {"a{,2", 0, "null"},
    {"a{1 }", 0, "null"},
    {"a{-1}", 0, "null"},
    {"a**", 0, "null"},
    {"a{2}{3}", 0, "null"},
    {"a*?+", 0, "null"},
    {"a+++", 0, "null"},
    {"a*{2}", 0, "null"},

    // Groups.
    {"(a)", 0, "cap{1:lit{a}}"},
    {"()", 0, "cap{1:empty{}}"},
    {"(?:a)", 0, "grp{lit{a}}"},
    {"(a)(?:b)(c)", 0, "cat{cap{1:lit{a}}grp{lit{b}}cap{2:lit{c}}}"},
    {"((a)b)", 0, "cap{1:cat{cap{2:lit{a}}lit{b}}}"},
    {"(?=a)", 0, "ahead{lit{a}}"},
    {"(?!a|b)", 0, "nahead{alt{lit{a}|lit{b}}}"},
    {"(?<=ab)c", 0, "cat{behind{ab}lit{c}}"},
    {"(?<!a\\)b)c", 0, "cat{nbehind{a)b}lit{c}}"},
    {"(?<=a.[b]*)", 0, "behind{a.[b]*}"},
    {"(?<=)", 0, "behind{}"},
    {"(?>ab)", 0, "poss{1,1:cat{lit{a}lit{b}}}"},
    {"(?>a|ab)c", 0, "cat{poss{1,1:alt{lit{a}|cat{lit{a}lit{b}}}}lit{c}}"},
    {"(a)*", 0, "loop{0,*:cap{1:lit{a}}}"},
    {"(a)+", 0, "loop{1,*:cap{1:lit{a}}}"},
    {"(a)?", 0, "loop{0,1:cap{1:lit{a}}}"},
    {"(?:ab)+?", 0, "lazyloop{1,*:grp{cat{lit{a}lit{b}}}}"},
    {"(a){2,3}+", 0, "possloop{2,3:cap{1:lit{a}}}"},
    {"(a){,2}?", 0, "lazyloop{0,2:cap{1:lit{a}}}"},
    {"(a){}", 0, "loop{0,0:cap{1:lit{a}}}"},
    {"((a)*b)*", 0, "loop{0,*:cap{1:cat{loop{0,*:cap{2:lit{a}}}lit{b}}}}"},
    {"(a){2,x}", 0, "null"},
    {"(a)**", 0, "null"},
    {"(?=a)*", 0, "null"},
    {"(?!a)+", 0, "null"},
    {"(?>a)?", 0, "null"},
    {"(?<=a){2}", 0, "null"},
    {"(?x)", 0, "null"},
    {"(?", 0, "null"},
    {"(?<x)", 0, "null"},
    {"(?<", 0, "null"},
    {"(?<=a", 0, "null"},
    {"(?<=a\\", 0, "null"},
    {"(a", 0, "null"},
    {"((a)", 0, "null"},
    {"(", 0, "null"},
    {"(?:", 0, "null"},

    // Escapes outside brackets.
    {"(a)\\1", 0, "cat{cap{1:lit{a}}ref{1}}"},
    {"\\1(a)", 0, "cat{ref{1}cap{1:lit{a}}}"},
    {"\\A", 0, "bot{}"},
    {"\\b", 0, "wb{}"},
    {"\\B", 0, "nwb{}"},
    {"\\G", 0, "lastend{}"},
    {"\\Z", 0, "eotz{}"},
    {"\\z", 0, "eot{}"},
    {"\\Qa.b\\E", 0, "str{a.b}"},
    {"\\Qa\\.b\\E", 0, "str{a.b}"},
    {"\\Q(a\\E)", 0, "null"},
    {"\\Q\\E", 0, "str{}"},
    {"\\QAb\\E", kIgnoreCase, "cistr{Ab}"},
    {"\\Qab", 0, "null"},
    {"\\Qab\\", 0, "null"},
    {"\\d", 0, "cls{0-9}"},
    {"\\D", 0, "ncls{0-9}"},
    {"\\s", 0, "cls{\\t\\n\\x0c\\r\\x20}"},
    {"\\S", 0, "ncls{\\t\\n\\x0c\\r\\x20}"},
    {"\\w", 0, "cls{0-9A-Z_a-z}"},
    {"\\W", 0, "ncls{0-9A-Z_a-z}"},
    {"\\w", kIgnoreCase, "cicls{0-9_a-z}"},
    {"\\P{Upper}", kIgnoreCase, "cincls{a-z}"},
    {"\\a", 0, "lit{\\x07}"},
    {"\\e", 0, "lit{\\r}"},
    {"\\r", 0, "lit{\\r}"},
    {"\\f", 0, "lit{\\x0c}"},
    {"\\n", 0, "lit{\\n}"},
    {"\\t", 0, "lit{\\t}"},
    {"\\x41", 0, "lit{A}"},
    {"\\xaF", 0, "lit{\\xaf}"},
    {"\\x41", kIgnoreCase, "lit{A}"},
    {"\\x4G", 0, "cat{lit{\\x00}lit{4}lit{G}}"},
    {"\\x4", 0, "cat{lit{\\x00}lit{4}}"},
    {"\\x", 0, "lit{\\x00}"},
    {"\\012", 0, "lit{\\n}"},
    {"\\0101", 0, "lit{A}"},
    {"\\0377", 0, "lit{\\xff}"},
    {"\\0477", 0, "cat{lit{'}lit{7}}"},
    {"\\0", 0, "null"},
    {"\\07", 0, "null"},
    {"\\08", 0, "null"},
    {"\\080", 0, "null"},
    {"\\0a", 0, "null"},
    {"\\.", 0, "lit{.}"},
    {"\\\\", 0, "lit{\\\\}"},
    {"\\[", 0, "lit{[}"},
    {"\\{", 0, "lit{\\{}"},
    {"\\y", 0, "lit{y}"},
    {"\\y", kIgnoreCase, "lit{y}"},

    // Named classes.
    {"\\p{Lower}", 0, "cls{a-z}"},
    {"\\p{Upper}", 0, "cls{A-Z}"},
    {"\\p{Alpha}", 0, "cls{A-Za-z}"},
    {"\\p{Digit}", 0, "cls{0-9}"},
    {"\\p{Alnum}", 0, "cls{0-9A-Za-z}"},
    {"\\p{Punct}", 0, "cls{!-/:-@[-`\\{-~}"},
    {"\\p{Graph}", 0, "cls{!-~}"},
    {"\\p{Print}", 0, "cls{!-~}"},
    {"\\p{Blank}", 0, "cls{\\t\\x20}"},
    {"\\p{Space}", 0, "cls{\\t-\\r\\x20}"},
    {"\\p{Cntrl}", 0, "cls{\\x00-\\x1f\\x7f}"},
    {"\\p{ASCII}", 0, "cls{\\x00-\\x7f}"},
    {"\\p{XDigit}", 0, "cls{0-9A-Fa-f}"},
    {"\\P{Digit}", 0, "ncls{0-9}"},
    {"\\p{Digit}+", 0, "rep{1,*:cls{0-9}}"},
    {"\\p{Foo}", 0, "null"},
    {"\\p{lower}", 0, "null"},
    {"\\p{Lower", 0, "null"},
    {"\\pL", 0, "null"},
    {"\\p", 0, "null"},

    // Bracket classes.
    {"[abc]", 0, "cls{a-c}"},
    {"[ab]", 0, "cls{ab}"},
    {"[a-c]", 0, "cls{a-c}"},
    {"[^a]", 0, "cls{\\x00-`b-\\xff}"},
    {"[]", 0, "cls{}"},
    {"[^]", 0, "cls{\\x00-\\xff}"},
    {"[a^]", 0, "cls{^a}"},
    {"[a[xy]]", 0, "cls{axy}"},
    {"[[[[a]]]]", 0, "cls{a}"},
    {"[a[^\\x01-\\xff]]", 0, "cls{\\x00a}"},
    {"[a-z&&[^aeiou]]", 0, "cls{b-df-hj-np-tv-z}"},
    {"[a-z&&[^b-y]x]", 0, "cls{axz}"},
    {"[&&[a]]", 0, "cls{}"},
    {"[a&b]", 0, "cls{&ab}"},
    {"[&-(]", 0, "cls{&-(}"},
    {"[a&&b]", 0, "null"},
    {"[a&&]", 0, "null"},
    {"[a-]", 0, "null"},
    {"[-a]", 0, "null"},
    {"[a-c-e]", 0, "null"},
    {"[\\-a]", 0, "cls{\\-a}"},
    {"[a-", 0, "null"},
    {"[a", 0, "null"},
    {"[", 0, "null"},
    {"[a\\", 0, "null"},
    {"[a-\\d]", 0, "null"},
    {"[a-\\W]", 0, "null"},
    {"[a-\\Q]", 0, "null"},
    {"[a-&]", 0, "null"},
    {"[a--]", 0, "null"},
    {"[a-[]", 0, "null"},
    {"[\\d-z]", 0, "null"},
    {"[z-a]", 0, "cls{\\x00-az-\\xff}"},
    {"[\\x41-\\x43]", 0, "cls{A-C}"},
    {"[a-\\x63]", 0, "cls{a-c}"},
    {"[\\d\\s]", 0, "cls{\\t\\n\\x0c\\r\\x200-9}"},
    {"[\\D]", 0, "cls{\\x00-/:-\\xff}"},
    {"[\\Qa]", 0, "null"},
    {"[\\b\\1\\A]", 0, "cls{1Ab}"},
    {"[\\e\\x4G]", 0, "cls{\\x00\\r4G}"},
    {"[\\p{Lower}&&[^a]]", 0, "cls{b-z}"},
    {"[\\P{Alnum}&&[0-z]]", 0, "cls{:-@[-`}"},
    {"[\\p{Bad}]", 0, "null"},
    {"[A-C]", kIgnoreCase, "cicls{a-c}"},
    {"[^a]", kIgnoreCase, "cicls{\\x00-@[-`b-\\xff}"},
    {"[\\w]", kIgnoreCase, "cicls{0-9_a-z}"},

    // Literal patterns: no syntax at all.
    {"a.b", kLiteral, "str{a.b}"},
    {"(a[", kLiteral, "str{(a[}"},
    {"A.b", kLiteral | kIgnoreCase, "cistr{A.b}"},
    {"", kLiteral, "str{}"},
};

TEST(PatternTest, SyntaxTable) {
    for (const SyntaxCase& c : kSyntax) {
        EXPECT_EQ(compileDump(c.pattern, c.flags), c.graph)
            << "pattern '" << c.pattern << "' flags " << c.flags;
    }
}

TEST(PatternTest, CompiledPatternKeepsTextFlagsAndName) {
    Pointer<Pattern> p = Pattern::compile("a+b", Pattern::IgnoreCase);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->text(), String("a+b"));
    EXPECT_EQ(p->flags(), Pattern::IgnoreCase);
    EXPECT_TRUE(p->isCompiled());
    EXPECT_STREQ(p->className(), "regex.Pattern");
}

TEST(PatternTest, FailedCompilationIsOnlyANullResult) {
    vexlan::testing::LogCapture log;
    Pointer<Pattern> p;
    EXPECT_NO_THROW(p = Pattern::compile("(a"));
    EXPECT_FALSE(p);
    EXPECT_TRUE(log.entries().empty());
}

TEST(PatternTest, GroupNumberingAndCounts) {
    struct Case {
        const char* pattern;
        int groups;  // capturing plus one
        int nonCapturing;
    } cases[] = {
        {"abc", 1, 0},
        {kUriPattern, 10, 0},
        {"(?:a)(b)(?:c)", 2, 2},
        {"(a|(b))|(c)", 4, 0},
        {"(?=(a))(?!(b))(?>(c))(?<=x)", 4, 0},
        {"((a)(?:(b)(c)))", 5, 1},
        {"%([A-Fa-f0-9]{2})", 2, 0},
    };
    for (const Case& c : cases) {
        Pointer<Pattern> p = Pattern::compile(c.pattern);
        ASSERT_TRUE(p) << c.pattern;
        EXPECT_EQ(p->groupCount(), c.groups) << c.pattern;
        EXPECT_EQ(p->nonCapturingGroupCount(), c.nonCapturing) << c.pattern;
    }
    // Numbers follow the order of the opening parentheses.
    EXPECT_EQ(compileDump("(a(b))(c)"), "cat{cap{1:cat{lit{a}cap{2:lit{b}}}}cap{3:lit{c}}}");
    EXPECT_EQ(compileDump("(?:a)(?:b)"), "cat{grp{lit{a}}grp{lit{b}}}");
}

// A reference to a group the pattern does not have is refused when compiling, so a matcher
// never looks outside its group tables.
TEST(PatternTest, BackReferenceNumbers) {
    EXPECT_EQ(compileDump("\\1"), "null");
    EXPECT_EQ(compileDump("(a)\\2"), "null");
    EXPECT_EQ(compileDump("(a)\\9"), "null");
    // The second digit is always taken: \10 names group 10.
    EXPECT_EQ(compileDump("(a)\\10"), "null");
    std::string ten = "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)";
    Pointer<Pattern> p = Pattern::compile(String::copy(ten + "\\10"));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->groupCount(), 11);
    // Beyond two digits, more are taken only while the value is below the group count.
    std::string twelve = ten + "(k)(l)";
    EXPECT_TRUE(Pattern::compile(String::copy(twelve + "\\12")));
    EXPECT_FALSE(Pattern::compile(String::copy(twelve + "\\123")));
    EXPECT_FALSE(Pattern::compile(String::copy(ten + "\\101")));  // 10 < 11: \101
    EXPECT_TRUE(Pattern::compile(String::copy(ten + "\\10x")));
    EXPECT_EQ(compileDump("(a)\\1b"), "cat{cap{1:lit{a}}ref{1}lit{b}}");
    EXPECT_FALSE(Pattern::compile("(a)\\99999999999999999999"));
}

// Compilation keeps its own stacks: deep nesting compiles even on a thread with a small
// stack, where a parser that recursed per level would overflow.
void compileDeepPatterns(void* out) {
    auto* results = static_cast<std::vector<std::string>*>(out);
    const int depth = 20000;
    std::string groups = std::string(depth, '(') + "a" + std::string(depth, ')');
    Pointer<Pattern> p = Pattern::compile(String::copy(groups));
    results->push_back(p ? std::to_string(p->groupCount()) : "null");
    results->push_back(compileDump(std::string(depth, '(') + "a"));
    results->push_back(compileDump("a" + std::string(depth, ')')));
    results->push_back(compileDump(std::string(depth, '[') + "a" + std::string(depth, ']')));
    std::string alternatives = "a";
    for (int i = 0; i < depth; ++i)
        alternatives += "|a";
    results->push_back(Pattern::compile(String::copy(alternatives)) ? "ok" : "null");
    std::string lookaheads;
    for (int i = 0; i < depth; ++i)
        lookaheads += "(?=";
    lookaheads += "a" + std::string(depth, ')');
    results->push_back(Pattern::compile(String::copy(lookaheads)) ? "ok" : "null");
    std::string loops = std::string(depth, '(') + "a";
    for (int i = 0; i < depth; ++i)
        loops += ")*";
    results->push_back(Pattern::compile(String::copy(loops)) ? "ok" : "null");
}

TEST(PatternTest, DeepNestingCompilesOnSmallStack) {
    std::vector<std::string> results;
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* arg) -> void* {
                      compileDeepPatterns(arg);
                      return nullptr;
                  },
                  &results),
              0);
    pthread_attr_destroy(&attr);
    pthread_join(thread, nullptr);
    EXPECT_EQ(results,
              (std::vector<std::string>{"20001", "null", "null", "cls{a}", "ok", "ok", "ok"}));
}

TEST(PatternTest, PatternTextIsCopiedFromBorrowedBytes) {
    std::string text = "a(b)c";
    Pointer<Pattern> p = Pattern::compile(String(text.data(), static_cast<uint32_t>(text.size())));
    ASSERT_TRUE(p);
    text.assign("zzzzz");
    EXPECT_EQ(p->text(), String("a(b)c"));
}

// ---------------------------------------------------------------------------------------------
// Serialisation

// A small in-memory keyed document: each entry has a name, a text value and child entries.
struct Entry {
    std::string name;
    String value;
    std::vector<std::unique_ptr<Entry>> children;
};

class TreeWriter : public tessel::IKeyWriter {
public:
    explicit TreeWriter(Entry& entry) : m_entry(entry) {}
    using IWriter::write;
    tessel::IKeyWriter* writeKey(const String& key) override {
        m_entry.children.push_back(std::make_unique<Entry>());
        m_entry.children.back()->name = key.toStd();
        m_child = std::make_unique<TreeWriter>(*m_entry.children.back());
        return m_child.get();
    }
    tessel::IKeyWriter* writeKey(const char* key) override { return writeKey(String(key)); }
    tessel::IKeyWriter* writeAttribute(const String&, const String&) override { return this; }
    void write(const String& text) override { m_entry.value = text.copy(); }
    void write(tessel::ISerialize& object) override { object.write(*this); }
    void write(const void*, int) override { TESSEL_THROW(tessel::ENotImplemented); }
    void write(const tessel::Buffer&, int) override { TESSEL_THROW(tessel::ENotImplemented); }
    void write(const tessel::Buffer&) override { TESSEL_THROW(tessel::ENotImplemented); }
    void write(char) override { TESSEL_THROW(tessel::ENotImplemented); }
    void write(unsigned char) override { TESSEL_THROW(tessel::ENotImplemented); }
    void write(bool) override { TESSEL_THROW(tessel::ENotImplemented); }
    void write(int) override { TESSEL_THROW(tessel::ENotImplemented); }
    void write(short) override { TESSEL_THROW(tessel::ENotImplemented); }
    void write(unsigned int) override { TESSEL_THROW(tessel::ENotImplemented); }
    void write(unsigned short) override { TESSEL_THROW(tessel::ENotImplemented); }
    void reserve(int) override {}

private:
    Entry& m_entry;
    std::unique_ptr<TreeWriter> m_child;
};

class TreeReader : public tessel::IKeyReader {
public:
    explicit TreeReader(const Entry& entry) : m_entry(entry) {}
    using IReader::read;
    int count(const String& key) override {
        int n = 0;
        for (auto& c : m_entry.children)
            n += c->name == key.toStd();
        return n;
    }
    int count(const char* key) override { return count(String(key)); }
    bool hasKey(const String& key) override { return count(key) > 0; }
    bool hasKey(const char* key) override { return hasKey(String(key)); }
    tessel::IKeyReader* getKey(const String& key) override {
        int& next = m_cursor[key.toStd()];
        int seen = 0;
        for (auto& c : m_entry.children) {
            if (c->name != key.toStd())
                continue;
            if (seen++ == next) {
                ++next;
                m_child = std::make_unique<TreeReader>(*c);
                return m_child.get();
            }
        }
        TESSEL_THROW(tessel::EKeyReader);
    }
    tessel::IKeyReader* getKey(const char* key) override { return getKey(String(key)); }
    bool hasAttribute(const char*) override { return false; }
    String getAttribute(const char*) override { return String(); }
    void read(String& text) override { text = m_entry.value; }
    void read(tessel::ISerialize& object) override { object.read(*this); }
    void read(void*, int) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(tessel::Buffer&, int) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(tessel::Buffer&) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(char&) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(unsigned char&) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(bool&) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(int&) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(short&) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(unsigned int&) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(unsigned short&) override { TESSEL_THROW(tessel::ENotImplemented); }
    int available() override { return 0; }
    int position() override { return 0; }
    void seek(int) override {}

private:
    const Entry& m_entry;
    std::map<std::string, int> m_cursor;
    std::unique_ptr<TreeReader> m_child;
};

Entry entryWith(const std::string& name, const char* value) {
    Entry root;
    root.children.push_back(std::make_unique<Entry>());
    root.children.back()->name = name;
    root.children.back()->value = String(value);
    return root;
}

TEST(PatternSerializeTest, KeyedWriteAndReadCompileWithFlagsZero) {
    Pointer<Pattern> original = Pattern::compile("a(b+)c", Pattern::IgnoreCase);
    Entry root;
    TreeWriter writer(root);
    original->write(writer);
    ASSERT_EQ(root.children.size(), 1u);
    EXPECT_EQ(root.children[0]->name, "regex");
    EXPECT_EQ(root.children[0]->value, String("a(b+)c"));

    Pattern copy;
    TreeReader reader(root);
    copy.read(reader);
    EXPECT_EQ(copy.text(), String("a(b+)c"));
    EXPECT_EQ(copy.flags(), 0);
    ASSERT_TRUE(copy.isCompiled());
    EXPECT_EQ(dumpGraph(&copy), "cat{lit{a}cap{1:rep{1,*:lit{b}}}lit{c}}");
}

TEST(PatternSerializeTest, KeyedReadOfBadTextKeepsTextWithoutGraph) {
    Entry root = entryWith("regex", "a(");
    Pattern p;
    TreeReader reader(root);
    p.read(reader);
    EXPECT_EQ(p.text(), String("a("));
    EXPECT_FALSE(p.isCompiled());
    Pointer<tessel::regex::Matcher> m = p.createMatcher("a(");
    EXPECT_FALSE(m->matchesAll());
    EXPECT_FALSE(m->findFirst());
}

TEST(PatternSerializeTest, KeyedReadReplacesPreviousGraph) {
    Pointer<Pattern> p = Pattern::compile("x");
    Pointer<tessel::regex::Matcher> before = p->createMatcher("x");
    Entry root = entryWith("regex", "y+");
    TreeReader reader(root);
    p->read(reader);
    EXPECT_EQ(dumpGraph(p.get()), "rep{1,*:lit{y}}");
    EXPECT_TRUE(p->createMatcher("yy")->matchesAll());
    // A matcher made before keeps the graph it was made with.
    EXPECT_TRUE(before->matchesAll());
}

TEST(PatternSerializeTest, KeyedReadWithoutRegexEntryRaises) {
    Entry root = entryWith("other", "a");
    Pattern p;
    TreeReader reader(root);
    EXPECT_THROW(p.read(reader), tessel::EKeyReader);
}

TEST(PatternSerializeTest, SerializePointerNestsUnderGc) {
    Pointer<Pattern> pattern = Pattern::compile("[0-9]+");
    tessel::SerializePointer<Pattern> wrapper(pattern);
    Entry root;
    TreeWriter writer(root);
    wrapper.write(writer);
    ASSERT_EQ(root.children.size(), 1u);
    EXPECT_EQ(root.children[0]->name, "gc");
    ASSERT_EQ(root.children[0]->children.size(), 1u);
    EXPECT_EQ(root.children[0]->children[0]->name, "regex");
    EXPECT_EQ(root.children[0]->children[0]->value, String("[0-9]+"));

    Pointer<Pattern> empty;
    tessel::SerializePointer<Pattern> reading(empty);
    TreeReader reader(root);
    reading.read(reader);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->text(), String("[0-9]+"));
    EXPECT_TRUE(empty->createMatcher("123")->matchesAll());

    Pointer<Pattern> none;
    tessel::SerializePointer<Pattern> nothing(none);
    Entry untouched;
    TreeWriter emptyWriter(untouched);
    nothing.write(emptyWriter);
    EXPECT_TRUE(untouched.children.empty());
}

TEST(PatternSerializeTest, SequentialFormIsTheTextAlone) {
    Pointer<Pattern> p = Pattern::compile("a|b");
    String bytes;
    tessel::StringWriter writer(bytes);
    p->write(writer);
    EXPECT_EQ(bytes, String("a|b"));

    vexlan::testing::TempDir dir;
    String path = String::copy(dir.file("pattern.bin"));
    {
        tessel::File out;
        ASSERT_TRUE(out.open(path, tessel::File::kWrite));
        p->write(static_cast<tessel::IWriter&>(out));
    }
    Pattern readBack;
    tessel::File in;
    ASSERT_TRUE(in.open(path, tessel::File::kRead));
    readBack.read(static_cast<tessel::IReader&>(in));
    EXPECT_EQ(readBack.text(), String("a|b"));
    // The sequential read does not compile.
    EXPECT_FALSE(readBack.isCompiled());
}

}  // namespace
