#include "regex/pattern.h"

#include <cstring>
#include <new>
#include <vector>

#include "regex/matcher.h"

namespace tessel {
namespace regex {
namespace {

constexpr int kInfinite = QuantifierNode::kInfinite;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isOctal(char c) {
    return c >= '0' && c <= '7';
}
int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

ByteSet rangeSet(uint8_t from, uint8_t to) {
    ByteSet set;
    set.addRange(from, to);
    return set;
}

ByteSet digitSet() {
    return rangeSet('0', '9');
}

ByteSet spaceSet() {
    ByteSet set;
    for (char c : {' ', '\t', '\r', '\n', '\f'})
        set.add(static_cast<uint8_t>(c));
    return set;
}

ByteSet wordSet() {
    ByteSet set = rangeSet('a', 'z');
    set.addRange('A', 'Z');
    set.addRange('0', '9');
    set.add('_');
    return set;
}

ByteSet punctSet() {
    ByteSet set = rangeSet(33, 47);
    set.addRange(58, 64);
    set.addRange(91, 96);
    set.addRange(123, 126);
    return set;
}

// The members of "\p{name}", false for an unknown name.
bool namedClass(const char* name, size_t length, ByteSet& set) {
    auto is = [&](const char* candidate) {
        return std::strlen(candidate) == length && std::memcmp(candidate, name, length) == 0;
    };
    set = ByteSet();
    if (is("Lower")) {
        set.addRange('a', 'z');
    } else if (is("Upper")) {
        set.addRange('A', 'Z');
    } else if (is("Alpha")) {
        set.addRange('a', 'z');
        set.addRange('A', 'Z');
    } else if (is("Digit")) {
        set.addRange('0', '9');
    } else if (is("Alnum")) {
        set.addRange('a', 'z');
        set.addRange('A', 'Z');
        set.addRange('0', '9');
    } else if (is("Punct")) {
        set = punctSet();
    } else if (is("Graph") || is("Print")) {
        set = punctSet();
        set.addRange('a', 'z');
        set.addRange('A', 'Z');
        set.addRange('0', '9');
    } else if (is("Blank")) {
        set.add(' ');
        set.add('\t');
    } else if (is("Space")) {
        set.add(' ');
        set.addRange('\t', '\r');  // tab, line feed, vertical tab, form feed, carriage return
    } else if (is("Cntrl")) {
        set.addRange(0, 31);
        set.add(127);
    } else if (is("ASCII")) {
        set.addRange(0, 127);
    } else if (is("XDigit")) {
        set.addRange('a', 'f');
        set.addRange('A', 'F');
        set.addRange('0', '9');
    } else {
        return false;
    }
    return true;
}

// What a class or character escape stands for.
struct Escape {
    ByteSet set;
    bool inverted = false;
    bool single = false;  // exactly one byte, not inverted
    uint8_t byte = 0;
};

// Parses one pattern text into a graph, in one left-to-right pass. Groups and nested bracket
// classes are kept on explicit stacks rather than on the call stack, so the nesting depth is
// limited by memory only.
class Parser {
public:
    Parser(const String& text, int flags, Graph& graph)
        : m_text(text.data()),
          m_length(static_cast<int>(text.length())),
          m_flags(flags),
          m_graph(graph) {}

    bool parse();

private:
    struct Chain {
        Node* head = nullptr;
        Node* tail = nullptr;
    };
    enum class FrameType {
        Top,
        Capturing,
        NonCapturing,
        LookAheadPositive,
        LookAheadNegative,
        Atomic
    };
    struct Frame {
        FrameType type;
        int group;                // index of a capturing or non-capturing group
        Chain current;            // the alternative being read
        std::vector<Chain> done;  // alternatives before the last "|"
    };
    struct Quantifier {
        bool present = false;
        int min = 0;
        int max = 0;
        int style = GroupLoopNode::kGreedy;
    };

    bool ignoreCase() const { return (m_flags & Pattern::IgnoreCase) != 0; }
    char at(int pos) const { return pos < m_length ? m_text[pos] : '\0'; }

    void append(Frame& frame, Node* first, Node* last);
    // The frame's body: its only alternative, or an OrNode over all of them.
    Chain closeAlternatives(Frame& frame);
    Node* closedWithAccept(const Chain& chain);

    bool openGroup();
    bool closeGroup();
    bool parseQuantifier(Quantifier& q);
    bool parseAtomAndQuantifier();
    Node* parseAtom();
    Node* parseEscapeAtom();
    bool parseClassEscape(int pos, Escape& escape, int& end);
    bool parseBracket(ByteSet& result);
    void analyse();

    const char* m_text;
    int m_length;
    int m_flags;
    Graph& m_graph;
    int m_pos = 0;
    int m_captures = 0;
    int m_nonCapturing = 0;
    std::vector<Frame> m_frames;
    std::vector<const ReferenceNode*> m_references;
};

void Parser::append(Frame& frame, Node* first, Node* last) {
    if (!frame.current.head) {
        frame.current.head = first;
    } else {
        frame.current.tail->next = first;
    }
    frame.current.tail = last;
}

Node* Parser::closedWithAccept(const Chain& chain) {
    Node* accept = m_graph.add<AcceptNode>();
    if (!chain.head)
        return accept;
    chain.tail->next = accept;
    return chain.head;
}

Parser::Chain Parser::closeAlternatives(Frame& frame) {
    if (frame.done.empty())
        return frame.current;
    frame.done.push_back(frame.current);
    // a|b|c is a|(b|c): the right side of each "|" is itself closed by an AcceptNode.
    Node* right = closedWithAccept(frame.done.back());
    for (size_t i = frame.done.size() - 1; i-- > 0;) {
        auto* alternation = m_graph.add<OrNode>(closedWithAccept(frame.done[i]), right);
        if (i > 0)
            alternation->next = m_graph.add<AcceptNode>();
        right = alternation;
    }
    return Chain{right, right};
}

bool Parser::parse() {
    if (m_flags & Pattern::Literal) {
        auto* start = m_graph.add<StartNode>();
        String text = String::copy(m_text, static_cast<uint32_t>(m_length));
        Node* quote = ignoreCase() ? static_cast<Node*>(m_graph.add<CIQuoteNode>(text))
                                   : m_graph.add<QuoteNode>(text);
        start->next = quote;
        quote->next = m_graph.add<EndNode>();
        m_graph.m_head = start;
        analyse();
        return true;
    }

    m_frames.push_back(Frame{FrameType::Top, 0, {}, {}});
    while (m_pos < m_length) {
        switch (m_text[m_pos]) {
            case '(':
                if (!openGroup())
                    return false;
                break;
            case ')':
                if (!closeGroup())
                    return false;
                break;
            case '|': {
                Frame& frame = m_frames.back();
                frame.done.push_back(frame.current);
                frame.current = Chain{};
                ++m_pos;
                break;
            }
            case '*':
            case '+':
            case '?':
            case ']':
            case '}':
            case '{':
                return false;  // nothing to repeat, or a stray bracket
            default:
                if (!parseAtomAndQuantifier())
                    return false;
        }
    }
    if (m_frames.size() != 1)
        return false;  // a group is not closed

    // Every back reference must name an existing group.
    for (const ReferenceNode* reference : m_references) {
        if (reference->m_group > m_captures)
            return false;
    }

    Chain body = closeAlternatives(m_frames.back());
    auto* start = m_graph.add<StartNode>();
    auto* sub = m_graph.add<SubStartNode>();
    auto* end = m_graph.add<EndNode>();
    start->next = sub;
    if (body.head) {
        sub->next = body.head;
        body.tail->next = end;
    } else {
        sub->next = end;
    }
    m_graph.m_head = start;
    m_graph.m_groupCount = m_captures + 1;
    m_graph.m_nonCapturingCount = m_nonCapturing;
    analyse();
    return true;
}

bool Parser::openGroup() {
    ++m_pos;  // "("
    if (at(m_pos) != '?' || m_pos >= m_length) {
        ++m_captures;
        m_frames.push_back(Frame{FrameType::Capturing, m_captures, {}, {}});
        return true;
    }
    if (m_pos + 1 >= m_length)
        return false;
    FrameType type;
    int group = 0;
    switch (m_text[m_pos + 1]) {
        case ':':
            type = FrameType::NonCapturing;
            group = -++m_nonCapturing;
            break;
        case '=':
            type = FrameType::LookAheadPositive;
            break;
        case '!':
            type = FrameType::LookAheadNegative;
            break;
        case '>':
            type = FrameType::Atomic;
            break;
        case '<': {
            char kind = at(m_pos + 2);
            if (m_pos + 2 >= m_length || (kind != '=' && kind != '!'))
                return false;
            // Look-behind: literal text up to the next ")", "\" taking the next byte as is.
            String text;
            int p = m_pos + 3;
            while (p < m_length && m_text[p] != ')') {
                if (m_text[p] == '\\') {
                    if (++p >= m_length)
                        return false;
                }
                text.append(m_text[p]);
                ++p;
            }
            if (p >= m_length)
                return false;
            m_pos = p + 1;
            Node* node = m_graph.add<LookBehindNode>(text.copy(), kind == '=');
            append(m_frames.back(), node, node);
            return true;
        }
        default:
            return false;
    }
    m_pos += 2;
    m_frames.push_back(Frame{type, group, {}, {}});
    return true;
}

bool Parser::closeGroup() {
    if (m_frames.size() <= 1)
        return false;  // ")" outside any group
    ++m_pos;
    Frame frame = std::move(m_frames.back());
    m_frames.pop_back();
    Chain body = closeAlternatives(frame);
    Frame& parent = m_frames.back();

    switch (frame.type) {
        case FrameType::Capturing:
        case FrameType::NonCapturing: {
            auto* head = m_graph.add<GroupHeadNode>(frame.group);
            auto* tail = m_graph.add<GroupTailNode>(frame.group);
            if (body.head) {
                head->next = body.head;
                body.tail->next = tail;
            } else {
                head->next = tail;
            }
            Quantifier q;
            if (!parseQuantifier(q))
                return false;
            if (!q.present) {
                append(parent, head, tail);
                return true;
            }
            auto* prologue = m_graph.add<GroupLoopPrologueNode>(frame.group);
            auto* loop = m_graph.add<GroupLoopNode>(head, q.min, q.max, frame.group, q.style);
            prologue->next = loop;
            tail->next = loop;
            append(parent, prologue, loop);
            return true;
        }
        case FrameType::LookAheadPositive:
        case FrameType::LookAheadNegative:
        case FrameType::Atomic: {
            auto* sub = m_graph.add<SubStartNode>();
            sub->next = closedWithAccept(body);
            Node* node;
            if (frame.type == FrameType::Atomic) {
                node = m_graph.add<PossessiveQuantifierNode>(sub, 1, 1);
            } else {
                node = m_graph.add<LookAheadNode>(sub, frame.type == FrameType::LookAheadPositive);
            }
            append(parent, node, node);
            return true;
        }
        case FrameType::Top:
            break;
    }
    return false;
}

bool Parser::parseQuantifier(Quantifier& q) {
    q = Quantifier{};
    if (m_pos >= m_length)
        return true;
    int64_t min;
    int64_t max;
    switch (m_text[m_pos]) {
        case '*':
            min = 0;
            max = kInfinite;
            ++m_pos;
            break;
        case '+':
            min = 1;
            max = kInfinite;
            ++m_pos;
            break;
        case '?':
            min = 0;
            max = 1;
            ++m_pos;
            break;
        case '{': {
            // Only digits and one comma inside the braces, and a closing brace. Anything else
            // is an error: with a comma by rule, without one because the "{" is then no
            // quantifier and a stray "{" is an error.
            int p = m_pos + 1;
            auto number = [&](int64_t& value) {
                value = -1;
                while (p < m_length && isDigit(m_text[p])) {
                    int64_t digit = m_text[p] - '0';
                    value = value < 0 ? digit : value * 10 + digit;
                    if (value > kInfinite)
                        value = kInfinite;
                    ++p;
                }
            };
            int64_t first;
            int64_t second = -1;
            number(first);
            bool comma = at(p) == ',' && p < m_length;
            if (comma) {
                ++p;
                number(second);
            }
            if (p >= m_length || m_text[p] != '}')
                return false;
            m_pos = p + 1;
            if (!comma) {
                min = max = first < 0 ? 0 : first;  // "{}" is {0,0}
            } else {
                min = first < 0 ? 0 : first;
                max = second < 0 ? kInfinite : second;
            }
            break;
        }
        default:
            return true;
    }
    if (max < min)
        max = min;  // a minimum above the maximum means exactly the minimum
    q.present = true;
    q.min = static_cast<int>(min);
    q.max = static_cast<int>(max);
    if (m_pos < m_length && m_text[m_pos] == '+') {
        q.style = GroupLoopNode::kPossessive;
        ++m_pos;
    } else if (m_pos < m_length && m_text[m_pos] == '?') {
        q.style = GroupLoopNode::kLazy;
        ++m_pos;
    }
    return true;
}

bool Parser::parseAtomAndQuantifier() {
    Node* atom = parseAtom();
    if (!atom)
        return false;
    Quantifier q;
    if (!parseQuantifier(q))
        return false;
    Frame& frame = m_frames.back();
    if (!q.present) {
        append(frame, atom, atom);
        return true;
    }
    atom->next = m_graph.add<AcceptNode>();
    Node* node;
    switch (q.style) {
        case GroupLoopNode::kLazy:
            node = m_graph.add<LazyQuantifierNode>(atom, q.min, q.max);
            break;
        case GroupLoopNode::kPossessive:
            node = m_graph.add<PossessiveQuantifierNode>(atom, q.min, q.max);
            break;
        default:
            node = m_graph.add<GreedyQuantifierNode>(atom, q.min, q.max);
    }
    append(frame, node, node);
    return true;
}

Node* Parser::parseAtom() {
    char c = m_text[m_pos];
    switch (c) {
        case '.': {
            ++m_pos;
            ByteSet excluded;
            if (!(m_flags & Pattern::DotAll)) {
                excluded.add('\n');
                if (!(m_flags & Pattern::UnixLines))
                    excluded.add('\r');
            }
            return m_graph.add<ClassNode>(excluded, true);
        }
        case '[': {
            ByteSet set;
            if (!parseBracket(set))
                return nullptr;
            if (ignoreCase())
                return m_graph.add<CIClassNode>(set, false);
            return m_graph.add<ClassNode>(set, false);
        }
        case '\\':
            return parseEscapeAtom();
        case '^':
            ++m_pos;
            if (m_flags & Pattern::MultiLine)
                return m_graph.add<StartOfLineNode>();
            return m_graph.add<StartOfInputNode>();
        case '$':
            ++m_pos;
            if (m_flags & Pattern::MultiLine)
                return m_graph.add<EndOfLineNode>();
            return m_graph.add<EndOfInputNode>(false);
        default:
            ++m_pos;
            if (ignoreCase())
                return m_graph.add<CICharNode>(static_cast<uint8_t>(c));
            return m_graph.add<CharNode>(static_cast<uint8_t>(c));
    }
}

Node* Parser::parseEscapeAtom() {
    if (m_pos + 1 >= m_length)
        return nullptr;  // "\" at the end
    char c = m_text[m_pos + 1];
    if (c >= '1' && c <= '9') {
        // Back reference: further digits while the value is below 10 or below the number of
        // groups opened so far (plus one).
        int64_t value = c - '0';
        int p = m_pos + 2;
        const int64_t groups = m_captures + 1;
        while (p < m_length && isDigit(m_text[p]) && (value < 10 || value < groups)) {
            value = value * 10 + (m_text[p] - '0');
            ++p;
            if (value > kInfinite / 10)
                break;
        }
        m_pos = p;
        auto* reference = m_graph.add<ReferenceNode>(static_cast<int>(value));
        m_references.push_back(reference);
        return reference;
    }
    switch (c) {
        case 'A':
            m_pos += 2;
            return m_graph.add<StartOfInputNode>();
        case 'b':
        case 'B':
            m_pos += 2;
            return m_graph.add<WordBoundaryNode>(c == 'b' ? 1 : 0);
        case 'G':
            m_pos += 2;
            return m_graph.add<EndOfMatchNode>();
        case 'Z':
        case 'z':
            m_pos += 2;
            return m_graph.add<EndOfInputNode>(c == 'Z');
        case 'Q': {
            String text;
            int p = m_pos + 2;
            for (;;) {
                if (p >= m_length)
                    return nullptr;  // no "\E"
                if (m_text[p] == '\\') {
                    if (p + 1 >= m_length)
                        return nullptr;
                    if (m_text[p + 1] == 'E') {
                        p += 2;
                        break;
                    }
                    text.append(m_text[p + 1]);
                    p += 2;
                } else {
                    text.append(m_text[p]);
                    ++p;
                }
            }
            m_pos = p;
            if (ignoreCase())
                return m_graph.add<CIQuoteNode>(text.copy());
            return m_graph.add<QuoteNode>(text.copy());
        }
        default:
            break;
    }
    Escape escape;
    int end;
    if (!parseClassEscape(m_pos + 1, escape, end))
        return nullptr;
    m_pos = end;
    // One byte stays case-sensitive even under IgnoreCase.
    if (escape.single)
        return m_graph.add<CharNode>(escape.byte);
    if (ignoreCase())
        return m_graph.add<CIClassNode>(escape.set.foldedToLower(), escape.inverted);
    return m_graph.add<ClassNode>(escape.set, escape.inverted);
}

bool Parser::parseClassEscape(int pos, Escape& escape, int& end) {
    char c = m_text[pos];
    end = pos + 1;
    auto single = [&](uint8_t byte) {
        escape.single = true;
        escape.byte = byte;
        escape.set = ByteSet();
        escape.set.add(byte);
        return true;
    };
    auto set = [&](const ByteSet& members, bool inverted) {
        escape.single = false;
        escape.set = members;
        escape.inverted = inverted;
        return true;
    };
    switch (c) {
        case 'd':
        case 'D':
            return set(digitSet(), c == 'D');
        case 's':
        case 'S':
            return set(spaceSet(), c == 'S');
        case 'w':
        case 'W':
            return set(wordSet(), c == 'W');
        case 'p':
        case 'P': {
            if (at(pos + 1) != '{' || pos + 1 >= m_length)
                return false;
            int close = pos + 2;
            while (close < m_length && m_text[close] != '}')
                ++close;
            if (close >= m_length)
                return false;
            ByteSet members;
            if (!namedClass(m_text + pos + 2, static_cast<size_t>(close - pos - 2), members)) {
                return false;
            }
            end = close + 1;
            return set(members, c == 'P');
        }
        case 'a':
            return single(7);
        case 'e':  // deliberately 13, like "\r"
        case 'r':
            return single(13);
        case 'f':
            return single(12);
        case 'n':
            return single(10);
        case 't':
            return single(9);
        case 'x': {
            int high = pos + 2 < m_length ? hexValue(m_text[pos + 1]) : -1;
            int low = pos + 2 < m_length ? hexValue(m_text[pos + 2]) : -1;
            if (high < 0 || low < 0)
                return single(0);  // nothing more consumed
            end = pos + 3;
            return single(static_cast<uint8_t>(high * 16 + low));
        }
        case '0': {
            if (pos + 2 >= m_length)
                return false;
            char first = m_text[pos + 1];
            char second = m_text[pos + 2];
            if (!isOctal(first) || !isOctal(second))
                return false;
            int value = (first - '0') * 8 + (second - '0');
            end = pos + 3;
            if (first <= '3' && end < m_length && isOctal(m_text[end])) {
                value = value * 8 + (m_text[end] - '0');
                ++end;
            }
            return single(static_cast<uint8_t>(value & 0xff));
        }
        default:
            return single(static_cast<uint8_t>(c));
    }
}

bool Parser::parseBracket(ByteSet& result) {
    struct Level {
        ByteSet set;
        bool inverted;
        bool intersect;  // opened by "&&[": intersects the enclosing set when closed
    };
    const bool fold = ignoreCase();
    std::vector<Level> levels;
    auto open = [&](bool intersect) {
        Level level{ByteSet(), false, intersect};
        if (m_pos < m_length && m_text[m_pos] == '^') {
            level.inverted = true;
            ++m_pos;
        }
        levels.push_back(level);
    };
    auto addByte = [&](uint8_t b) { levels.back().set.add(fold ? foldByte(b) : b); };

    ++m_pos;  // "["
    open(false);
    for (;;) {
        if (m_pos >= m_length)
            return false;  // no closing "]"
        char c = m_text[m_pos];
        if (c == ']') {
            ++m_pos;
            Level level = levels.back();
            levels.pop_back();
            if (level.inverted)
                level.set.invert();
            if (levels.empty()) {
                result = level.set;
                if (fold) {
                    // Upper-case members can only come from a complement; the lookup folds
                    // the input byte, so they are never reached.
                    ByteSet lowerOnly = rangeSet('A', 'Z');
                    lowerOnly.invert();
                    result.intersect(lowerOnly);
                }
                return true;
            }
            if (level.intersect) {
                levels.back().set.intersect(level.set);
            } else {
                levels.back().set.addAll(level.set);
            }
            continue;
        }
        if (c == '[') {
            ++m_pos;
            open(false);
            continue;
        }
        if (c == '&' && at(m_pos + 1) == '&' && m_pos + 1 < m_length) {
            if (at(m_pos + 2) != '[' || m_pos + 2 >= m_length)
                return false;
            m_pos += 3;
            open(true);
            continue;
        }
        if (c == '-')
            return false;  // not after a range start; a literal "-" is "\-"

        uint8_t from;
        if (c == '\\') {
            if (m_pos + 1 >= m_length || m_text[m_pos + 1] == 'Q')
                return false;
            Escape escape;
            int end;
            if (!parseClassEscape(m_pos + 1, escape, end))
                return false;
            m_pos = end;
            if (!escape.single) {
                ByteSet members = escape.set;
                if (escape.inverted)
                    members.invert();
                levels.back().set.addAll(fold ? members.foldedToLower() : members);
                continue;
            }
            from = escape.byte;
        } else {
            from = static_cast<uint8_t>(c);
            ++m_pos;
        }

        if (at(m_pos) != '-' || m_pos >= m_length) {
            addByte(from);
            continue;
        }
        // A range "x-y"; it wraps when y is below x.
        if (m_pos + 1 >= m_length)
            return false;
        char c2 = m_text[m_pos + 1];
        if (c2 == '&' || c2 == '-' || c2 == '[' || c2 == ']')
            return false;
        uint8_t to;
        if (c2 == '\\') {
            if (m_pos + 2 >= m_length || m_text[m_pos + 2] == 'Q')
                return false;
            Escape escape;
            int end;
            if (!parseClassEscape(m_pos + 2, escape, end) || !escape.single)
                return false;
            to = escape.byte;
            m_pos = end;
        } else {
            to = static_cast<uint8_t>(c2);
            m_pos += 2;
        }
        ByteSet range;
        range.addRange(from, to);
        levels.back().set.addAll(fold ? range.foldedToLower() : range);
    }
}

// ---------------------------------------------------------------------------------------------
// Analysis after compilation: byte filters that let the matcher skip hopeless positions.

// Whether every match of the chain from `node` consumes at least one byte and its first byte
// lies in `set` (added to it). False when that cannot be shown cheaply; `budget` bounds the
// work on large graphs.
bool firstBytes(const Node* node, ByteSet& set, int& budget) {
    if (!node || --budget < 0)
        return false;
    switch (node->kind()) {
        case NodeKind::Char:
        case NodeKind::CIChar:
        case NodeKind::Class:
        case NodeKind::CIClass:
            set.addAll(static_cast<const SingleByteNode*>(node)->m_accepted);
            return true;
        case NodeKind::Quote: {
            const String& text = static_cast<const QuoteNode*>(node)->m_text;
            if (text.isEmpty())
                return firstBytes(node->next, set, budget);
            set.add(static_cast<uint8_t>(text[0]));
            return true;
        }
        case NodeKind::CIQuote: {
            const String& text = static_cast<const CIQuoteNode*>(node)->m_folded;
            if (text.isEmpty())
                return firstBytes(node->next, set, budget);
            uint8_t b = static_cast<uint8_t>(text[0]);
            set.add(b);
            if (b >= 'a' && b <= 'z')
                set.add(static_cast<uint8_t>(b - 32));
            return true;
        }
        case NodeKind::Start:
        case NodeKind::SubStart:
        case NodeKind::GroupHead:
        case NodeKind::GroupTail:
        case NodeKind::StartOfInput:
        case NodeKind::EndOfInput:
        case NodeKind::StartOfLine:
        case NodeKind::EndOfLine:
        case NodeKind::WordBoundary:
        case NodeKind::EndOfMatch:
        case NodeKind::LookAhead:
        case NodeKind::LookBehind:
        case NodeKind::Accept:
            // Zero-width: whatever follows decides (an AcceptNode without next ends a
            // sub-match, which then may be empty).
            return firstBytes(node->next, set, budget);
        case NodeKind::GreedyQuantifier:
        case NodeKind::LazyQuantifier:
        case NodeKind::PossessiveQuantifier: {
            auto* q = static_cast<const QuantifierNode*>(node);
            ByteSet inner;
            if (!firstBytes(q->m_inner, inner, budget))
                return false;
            if (q->m_min == 0 && !firstBytes(q->next, inner, budget))
                return false;
            set.addAll(inner);
            return true;
        }
        case NodeKind::Or: {
            auto* alternation = static_cast<const OrNode*>(node);
            ByteSet both;
            if (!firstBytes(alternation->m_left, both, budget) ||
                !firstBytes(alternation->m_right, both, budget)) {
                return false;
            }
            set.addAll(both);
            return true;
        }
        case NodeKind::GroupLoopPrologue: {
            // The first arrival at the loop: the body must run while below the minimum.
            auto* loop = static_cast<const GroupLoopNode*>(node->next);
            ByteSet first;
            if (!firstBytes(loop->m_body, first, budget))
                return false;
            if (loop->m_min == 0 && !firstBytes(loop->next, first, budget))
                return false;
            set.addAll(first);
            return true;
        }
        case NodeKind::GroupLoop: {
            auto* loop = static_cast<const GroupLoopNode*>(node);
            // Reached from the group's tail: a possessive loop's run may stop at any
            // position, whatever follows it.
            if (loop->m_style == GroupLoopNode::kPossessive)
                return false;
            ByteSet first;
            if (!firstBytes(loop->m_body, first, budget) ||
                !firstBytes(loop->next, first, budget)) {
                return false;
            }
            set.addAll(first);
            return true;
        }
        default:
            return false;
    }
}

void Parser::analyse() {
    constexpr int kBudget = 64;
    m_graph.forEachNode([](Node& node) {
        switch (node.kind()) {
            case NodeKind::GreedyQuantifier:
            case NodeKind::LazyQuantifier:
            case NodeKind::PossessiveQuantifier: {
                auto& q = static_cast<QuantifierNode&>(node);
                switch (q.m_inner->kind()) {
                    case NodeKind::Char:
                    case NodeKind::CIChar:
                    case NodeKind::Class:
                    case NodeKind::CIClass:
                        q.m_single = static_cast<const SingleByteNode*>(q.m_inner);
                        break;
                    default:
                        break;
                }
                int budget = kBudget;
                ByteSet follow;
                q.m_followKnown = firstBytes(q.next, follow, budget);
                q.m_follow = follow;
                break;
            }
            case NodeKind::Start: {
                auto& start = static_cast<StartNode&>(node);
                const Node* first = start.next;
                while (first && first->kind() == NodeKind::SubStart)
                    first = first->next;
                start.m_anchored = first && first->isStartOfInput();
                int budget = kBudget;
                ByteSet bytes;
                start.m_filtered = firstBytes(start.next, bytes, budget);
                start.m_firstBytes = bytes;
                start.m_singleFirstByte = -1;
                if (start.m_filtered && bytes.count() == 1) {
                    for (int b = 0; b < 256; ++b) {
                        if (bytes.contains(static_cast<uint8_t>(b)))
                            start.m_singleFirstByte = b;
                    }
                }
                break;
            }
            default:
                break;
        }
    });
}

// An owned form of a text: a String that only points at the caller's bytes is copied.
String owned(const String& text) {
    return text.hasStorage() || text.isEmpty() ? text : text.copy();
}

}  // namespace

Pattern::Pattern() = default;
Pattern::~Pattern() = default;

gc::Pointer<Graph> Pattern::build(const String& text, int flags) {
    try {
        gc::Pointer<Graph> graph = new Graph;
        Parser parser(text, flags, *graph);
        if (!parser.parse())
            return nullptr;
        return graph;
    } catch (const std::bad_alloc&) {
        detail::throwOutOfMemory("Pattern", "compile");
    }
}

gc::Pointer<Pattern> Pattern::compile(const String& text, int flags) {
    String own = owned(text);
    gc::Pointer<Graph> graph = build(own, flags);
    if (!graph)
        return nullptr;
    gc::Pointer<Pattern> pattern = new Pattern;
    pattern->m_text = own;
    pattern->m_flags = flags;
    pattern->m_graph = graph;
    return pattern;
}

gc::Pointer<Matcher> Pattern::createMatcher(const String& input) const {
    try {
        return gc::Pointer<Matcher>(new Matcher(m_graph, input));
    } catch (const std::bad_alloc&) {
        detail::throwOutOfMemory("Pattern", "createMatcher");
    }
}

void Pattern::read(IKeyReader& reader) {
    String text;
    reader.getKey("regex")->read(text);
    m_text = owned(text);
    m_flags = 0;
    m_graph = build(m_text, 0);
}

void Pattern::read(IReader& reader) {
    String text;
    reader.read(text);
    m_text = owned(text);
    m_graph = nullptr;
}

void Pattern::write(IKeyWriter& writer) {
    writer.writeKey("regex")->write(m_text);
}

void Pattern::write(IWriter& writer) {
    writer.write(m_text);
}

}  // namespace regex
}  // namespace tessel
