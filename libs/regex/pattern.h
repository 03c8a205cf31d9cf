// Pattern: a regular expression over bytes, compiled into a graph of nodes (node.h) that a
// Matcher (matcher.h) runs over an input.
//
// Syntax: literals, ".", bracket classes with nesting, intersection ("&&[...]") and wrapping
// ranges, class escapes (\d \s \w \p{Name} ...), quantifiers (* + ? {n,m}, each greedy, lazy
// "?" or possessive "+"), capturing "(...)", non-capturing "(?:...)", atomic "(?>...)" groups,
// look-ahead "(?=" "(?!", literal look-behind "(?<=" "(?<!", back references \1..., anchors
// (^ $ \A \z \Z \b \B \G) and literal text "\Q...\E". All characters are single bytes.
//
// Errors: a text with a syntax error compiles to a null pointer and nothing else (no
// exception, no log line). Compilation does not recurse over the text, so any nesting depth
// compiles without exhausting the stack; a text too large for the memory that can be had
// logs and throws ERegex.
// Threading: a compiled pattern is never modified by matching and may be shared by matchers
// on any threads; compile and read() are not synchronised with users of the same object.
#pragma once

#include "base/gcobject.h"
#include "base/serialize.h"
#include "base/string.h"
#include "regex/node.h"
#include "regex/regexerror.h"

namespace tessel {
namespace regex {

class Matcher;

class Pattern : public gc::ObjectDelete, public ISerialize {
public:
    // Flag bits.
    enum Flags : int {
        IgnoreCase = 1,  // letters A-Z compare as a-z (no other folding)
        Literal = 2,     // the whole text is one literal string
        DotAll = 4,      // "." also matches line feed and carriage return
        MultiLine = 8,   // "^" and "$" work at line boundaries
        UnixLines = 16,  // without DotAll, "." excludes only line feed
    };

    // An empty pattern without a graph (read() fills it).
    Pattern();
    ~Pattern() override;
    const char* className() const override { return "regex.Pattern"; }

    // A new pattern, or null when `text` has a syntax error.
    static gc::Pointer<Pattern> compile(const String& text, int flags = 0);

    // A new matcher over a copy of `input`. A pattern without a graph matches nothing.
    gc::Pointer<Matcher> createMatcher(const String& input) const;

    const String& text() const noexcept { return m_text; }
    int flags() const noexcept { return m_flags; }
    bool isCompiled() const noexcept { return m_graph && m_graph->m_head; }
    // Capturing groups plus one (group 0 is the whole match).
    int groupCount() const noexcept { return m_graph ? m_graph->m_groupCount : 1; }
    int nonCapturingGroupCount() const noexcept {
        return m_graph ? m_graph->m_nonCapturingCount : 0;
    }
    // The head of the compiled graph (a StartNode), or null.
    const Node* head() const noexcept { return m_graph ? m_graph->m_head : nullptr; }
    size_t nodeCount() const noexcept { return m_graph ? m_graph->nodeCount() : 0; }

    // Keyed: the text under the child entry "regex"; reading compiles it in place with flags
    // 0 (a text that does not compile is kept, without a graph). Sequential: the text alone,
    // as one String; reading it does not compile, and drops any previous graph.
    void read(IKeyReader& reader) override;
    void read(IReader& reader) override;
    void write(IKeyWriter& writer) override;
    void write(IWriter& writer) override;

private:
    // Compiles m_text with m_flags into a new graph; null on a syntax error.
    static gc::Pointer<Graph> build(const String& text, int flags);

    String m_text;
    int m_flags = 0;
    gc::Pointer<Graph> m_graph;
};

}  // namespace regex
}  // namespace tessel
