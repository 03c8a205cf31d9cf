// The node graph that Pattern compiles and Matcher runs. Every node has a `next` link (the rest
// of the pattern); `match` tries the node's options in order and calls the next node's
// `match`, returning the end position of the whole remaining match or -1.
//
// Ownership: every node of a compiled pattern belongs to the pattern's Graph, which deletes
// them all; links between nodes never own (group loops make the graph cyclic). A Graph is
// counted and shared with the matchers created from it, so a matcher stays valid even when
// its pattern is recompiled or released first.
//
// Threading: nodes are never modified by matching; one graph may serve any number of
// matchers on any threads. All per-match state lives in the Matcher.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "base/gcobject.h"
#include "base/string.h"

namespace tessel {
namespace regex {

class Matcher;

// Per-match state of one group, kept by the Matcher: start and end of the last capture, and
// for quantified groups the iteration count and the start of the last iteration.
struct GroupState {
    int start;
    int end;
    int count;
    int lastStart;
};

// A set of byte values, one bit per byte: membership costs one lookup.
class ByteSet {
public:
    bool contains(uint8_t b) const noexcept { return (m_bits[b >> 6] >> (b & 63)) & 1u; }
    void add(uint8_t b) noexcept { m_bits[b >> 6] |= uint64_t{1} << (b & 63); }
    // The bytes from `from` to `to` inclusive; when `to` is below `from` the range wraps
    // (from up to 255, then 0 up to to).
    void addRange(uint8_t from, uint8_t to) noexcept;
    void addAll(const ByteSet& other) noexcept;
    void intersect(const ByteSet& other) noexcept;
    // Replaces the set with its complement over 0 to 255.
    void invert() noexcept;
    // The same set with A-Z stored as a-z.
    ByteSet foldedToLower() const noexcept;
    int count() const noexcept;
    bool isEmpty() const noexcept { return count() == 0; }
    bool operator==(const ByteSet& other) const noexcept;
    bool operator!=(const ByteSet& other) const noexcept { return !(*this == other); }

private:
    uint64_t m_bits[4] = {0, 0, 0, 0};
};

inline uint8_t foldByte(uint8_t b) noexcept {
    return (b >= 'A' && b <= 'Z') ? static_cast<uint8_t>(b + 32) : b;
}

// The kind of a node, so that compilation and diagnostics can inspect the graph without
// run-time type queries.
enum class NodeKind : uint8_t {
    Start,                 // driver prepended to every compiled pattern
    End,                   // appended to every compiled pattern
    Accept,                // end of a closed sub-match
    SubStart,              // head of the top level, of look-aheads and of atomic groups
    Char,                  // one literal byte
    CIChar,                // one literal byte under IgnoreCase
    Class,                 // a set of bytes
    CIClass,               // a set of bytes under IgnoreCase
    Quote,                 // a literal text
    CIQuote,               // a literal text under IgnoreCase
    GreedyQuantifier,      // atom*, atom+, atom?, atom{n,m}
    LazyQuantifier,        // the same followed by "?"
    PossessiveQuantifier,  // the same followed by "+", and atomic groups
    Or,                    // alternation
    GroupHead,             // "(" of a capturing or non-capturing group
    GroupTail,             // ")" of those groups
    GroupLoopPrologue,     // quantified group, before the loop
    GroupLoop,             // quantified group, the loop
    LookAhead,             // (?=...) and (?!...)
    LookBehind,            // (?<=...) and (?<!...)
    Reference,             // \1 ...
    StartOfInput,          // \A, ^
    EndOfInput,            // \z, \Z, $
    StartOfLine,           // ^ under MultiLine
    EndOfLine,             // $ under MultiLine
    WordBoundary,          // \b, \B
    EndOfMatch,            // \G
};

class Node {
public:
    explicit Node(NodeKind kind) noexcept : m_kind(kind) {}
    virtual ~Node() = default;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // Appends the nodes this one links to (next, then any sub-graph), for graph walks.
    virtual void collect(std::vector<const Node*>& links) const;
    // The end position of a match of this node and everything after it, from `pos`; -1 when
    // there is none. `input` is the matcher's input.
    virtual int match(const String& input, Matcher& matcher, int pos) const = 0;
    virtual bool isStartOfInput() const { return false; }
    virtual bool isGroupHead() const { return false; }

    NodeKind kind() const noexcept { return m_kind; }

    Node* next = nullptr;

protected:
    // Access to the matcher's per-match state for the node rules (Node is its friend).
    static bool enter(Matcher& m);
    static bool stopped(const Matcher& m);
    static GroupState& group(Matcher& m, int index);
    static bool wholeInput(const Matcher& m);
    static int searchStart(const Matcher& m);
    static void resetGroups(Matcher& m);
    static void countSteps(Matcher& m, int64_t steps);
    // Capture bounds are set through the matcher's undo trail: a node that runs a closed
    // sub-match takes a mark first and, when the rest of the pattern fails after it, undoes
    // back to the mark. A node that fails leaves the trail as it found it.
    static void setBound(Matcher& m, int& bound, int value);
    static size_t trailMark(const Matcher& m);
    static void undoTo(Matcher& m, size_t mark);

private:
    NodeKind m_kind;
};

class StartNode : public Node {
public:
    StartNode() : Node(NodeKind::Start) {}
    int match(const String& input, Matcher& matcher, int pos) const override;

    // Search filter, filled after compilation: when m_filtered, a match can only start at a
    // byte of m_firstBytes; when m_anchored, only at position 0.
    ByteSet m_firstBytes;
    bool m_filtered = false;
    bool m_anchored = false;
    int m_singleFirstByte = -1;  // the only member of m_firstBytes, or -1
};

class EndNode : public Node {
public:
    EndNode() : Node(NodeKind::End) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
};

class AcceptNode : public Node {
public:
    AcceptNode() : Node(NodeKind::Accept) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
};

class SubStartNode : public Node {
public:
    SubStartNode() : Node(NodeKind::SubStart) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
};

// Base of the four single-byte nodes: each accepts one byte of a fixed set, which lets the
// quantifiers scan repetitions of them in a loop instead of recursing.
class SingleByteNode : public Node {
public:
    int match(const String& input, Matcher& matcher, int pos) const override;
    // The bytes that this node accepts at a position.
    ByteSet m_accepted;

protected:
    using Node::Node;
};

class CharNode : public SingleByteNode {
public:
    explicit CharNode(uint8_t c);
    uint8_t m_char;
};

class CICharNode : public SingleByteNode {
public:
    // `c` is stored folded to lower case.
    explicit CICharNode(uint8_t c);
    uint8_t m_char;
};

class ClassNode : public SingleByteNode {
public:
    ClassNode(const ByteSet& members, bool inverted);
    ByteSet m_members;
    bool m_inverted;

protected:
    ClassNode(NodeKind kind, const ByteSet& members, bool inverted);
};

class CIClassNode : public ClassNode {
public:
    // An input byte is folded to lower case before the lookup, so upper-case members are
    // never reached: the compiler stores the members folded.
    CIClassNode(const ByteSet& members, bool inverted);
};

class QuoteNode : public Node {
public:
    explicit QuoteNode(const String& text) : Node(NodeKind::Quote), m_text(text) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
    String m_text;

protected:
    QuoteNode(NodeKind kind, const String& text) : Node(kind), m_text(text) {}
};

class CIQuoteNode : public QuoteNode {
public:
    explicit CIQuoteNode(const String& text);
    int match(const String& input, Matcher& matcher, int pos) const override;
    String m_folded;  // m_text with A-Z folded to a-z
};

// An atom repeated between m_min and m_max times. The inner node's `next` is an AcceptNode,
// so one iteration yields one end position: the atom's own choices are not revisited.
class QuantifierNode : public Node {
public:
    static constexpr int kInfinite = 2147483647;

    void collect(std::vector<const Node*>& links) const override;

    Node* m_inner = nullptr;
    int m_min = 0;
    int m_max = kInfinite;
    // Filled after compilation: the inner node when it is a single-byte node.
    const SingleByteNode* m_single = nullptr;
    // Filled after compilation: when m_followKnown, every match of `next` starts with a byte
    // of m_follow, so positions where another byte stands need not be tried.
    ByteSet m_follow;
    bool m_followKnown = false;

protected:
    QuantifierNode(NodeKind kind, Node* inner, int min, int max);
    // The minimum phase: the end position after it, or -1.
    int matchMinimum(const String& input, Matcher& m, int pos) const;
    // Whether `pos` may start a match of the rest of the pattern.
    bool mayFollow(const String& input, int pos) const {
        return !m_followKnown || (pos < static_cast<int>(input.length()) &&
                                  m_follow.contains(static_cast<uint8_t>(input.data()[pos])));
    }
};

class GreedyQuantifierNode : public QuantifierNode {
public:
    GreedyQuantifierNode(Node* inner, int min, int max)
        : QuantifierNode(NodeKind::GreedyQuantifier, inner, min, max) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
    // The step after the minimum: further iterations from `pos` (count iterations done so
    // far), longest repetition first, then shorter ones. Runs as a loop, not a recursion.
    virtual int matchMore(const String& input, Matcher& matcher, int pos, int count) const;
};

class LazyQuantifierNode : public QuantifierNode {
public:
    LazyQuantifierNode(Node* inner, int min, int max)
        : QuantifierNode(NodeKind::LazyQuantifier, inner, min, max) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
};

class PossessiveQuantifierNode : public QuantifierNode {
public:
    PossessiveQuantifierNode(Node* inner, int min, int max)
        : QuantifierNode(NodeKind::PossessiveQuantifier, inner, min, max) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
};

class OrNode : public Node {
public:
    OrNode(Node* left, Node* right) : Node(NodeKind::Or), m_left(left), m_right(right) {}
    void collect(std::vector<const Node*>& links) const override;
    int match(const String& input, Matcher& matcher, int pos) const override;

    Node* m_left;
    Node* m_right;
};

class GroupHeadNode : public Node {
public:
    explicit GroupHeadNode(int group) : Node(NodeKind::GroupHead), m_group(group) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
    bool isGroupHead() const override { return true; }
    int m_group;  // negative for non-capturing groups
};

class GroupTailNode : public Node {
public:
    explicit GroupTailNode(int group) : Node(NodeKind::GroupTail), m_group(group) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
    int m_group;
};

class GroupLoopPrologueNode : public Node {
public:
    explicit GroupLoopPrologueNode(int group) : Node(NodeKind::GroupLoopPrologue), m_group(group) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
    int m_group;
};

class GroupLoopNode : public Node {
public:
    enum Style { kGreedy = 0, kLazy = 1, kPossessive = 2 };

    GroupLoopNode(Node* body, int min, int max, int group, int style)
        : Node(NodeKind::GroupLoop),
          m_body(body),
          m_min(min),
          m_max(max),
          m_group(group),
          m_style(style) {}
    void collect(std::vector<const Node*>& links) const override;
    int match(const String& input, Matcher& matcher, int pos) const override;

    Node* m_body;  // the group's head; its tail links back to this node
    int m_min;
    int m_max;
    int m_group;
    int m_style;
};

class LookAheadNode : public Node {
public:
    LookAheadNode(Node* sub, bool positive)
        : Node(NodeKind::LookAhead), m_sub(sub), m_positive(positive) {}
    void collect(std::vector<const Node*>& links) const override;
    int match(const String& input, Matcher& matcher, int pos) const override;

    Node* m_sub;
    bool m_positive;
};

class LookBehindNode : public Node {
public:
    LookBehindNode(const String& text, bool positive)
        : Node(NodeKind::LookBehind), m_text(text), m_positive(positive) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
    String m_text;
    bool m_positive;
};

class ReferenceNode : public Node {
public:
    explicit ReferenceNode(int group) : Node(NodeKind::Reference), m_group(group) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
    int m_group;
};

class StartOfInputNode : public Node {
public:
    StartOfInputNode() : Node(NodeKind::StartOfInput) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
    bool isStartOfInput() const override { return true; }
};

class EndOfInputNode : public Node {
public:
    explicit EndOfInputNode(bool allowTerminator)
        : Node(NodeKind::EndOfInput), m_allowTerminator(allowTerminator) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
    bool m_allowTerminator;  // "\Z": a final line terminator may remain
};

class StartOfLineNode : public Node {
public:
    StartOfLineNode() : Node(NodeKind::StartOfLine) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
};

class EndOfLineNode : public Node {
public:
    EndOfLineNode() : Node(NodeKind::EndOfLine) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
};

class WordBoundaryNode : public Node {
public:
    explicit WordBoundaryNode(int flag) : Node(NodeKind::WordBoundary), m_flag(flag) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
    int m_flag;  // 1 for "\b", 0 for "\B"
};

class EndOfMatchNode : public Node {
public:
    EndOfMatchNode() : Node(NodeKind::EndOfMatch) {}
    int match(const String& input, Matcher& matcher, int pos) const override;
};

// A compiled node graph: the registry of every node created for one compilation, the head,
// and the group counts. Shared by the pattern and its matchers.
class Graph : public gc::ObjectDelete {
public:
    const char* className() const override { return "regex.Graph"; }

    // Creates a node owned by this graph.
    template <class T, class... Args>
    T* add(Args&&... args) {
        auto node = std::make_unique<T>(std::forward<Args>(args)...);
        T* raw = node.get();
        m_nodes.push_back(std::move(node));
        return raw;
    }
    size_t nodeCount() const { return m_nodes.size(); }
    template <class F>
    void forEachNode(F&& f) {
        for (auto& node : m_nodes)
            f(*node);
    }

    const Node* m_head = nullptr;
    int m_groupCount = 1;  // capturing groups plus one
    int m_nonCapturingCount = 0;

private:
    std::vector<std::unique_ptr<Node>> m_nodes;
};

}  // namespace regex
}  // namespace tessel
