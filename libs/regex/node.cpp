// The matching rule of every node.
#include "regex/node.h"

#include <cstring>

#include "regex/matcher.h"

namespace tessel {
namespace regex {
namespace {

inline int length(const String& input) {
    return static_cast<int>(input.length());
}
inline uint8_t byteAt(const String& input, int pos) {
    return static_cast<uint8_t>(input.data()[pos]);
}
inline bool isLetter(uint8_t b) {
    return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
}
inline bool isLineTerminator(uint8_t b) {
    return b == '\n' || b == '\r';
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ByteSet

void ByteSet::addRange(uint8_t from, uint8_t to) noexcept {
    if (to < from) {
        addRange(from, 255);
        addRange(0, to);
        return;
    }
    for (int b = from; b <= to; ++b)
        add(static_cast<uint8_t>(b));
}

void ByteSet::addAll(const ByteSet& other) noexcept {
    for (int i = 0; i < 4; ++i)
        m_bits[i] |= other.m_bits[i];
}

void ByteSet::intersect(const ByteSet& other) noexcept {
    for (int i = 0; i < 4; ++i)
        m_bits[i] &= other.m_bits[i];
}

void ByteSet::invert() noexcept {
    for (auto& word : m_bits)
        word = ~word;
}

ByteSet ByteSet::foldedToLower() const noexcept {
    ByteSet folded;
    for (int b = 0; b < 256; ++b) {
        if (contains(static_cast<uint8_t>(b)))
            folded.add(foldByte(static_cast<uint8_t>(b)));
    }
    return folded;
}

int ByteSet::count() const noexcept {
    int n = 0;
    for (auto word : m_bits)
        n += __builtin_popcountll(word);
    return n;
}

bool ByteSet::operator==(const ByteSet& other) const noexcept {
    return std::memcmp(m_bits, other.m_bits, sizeof m_bits) == 0;
}

// ---------------------------------------------------------------------------------------------
// Graph links

void Node::collect(std::vector<const Node*>& links) const {
    if (next)
        links.push_back(next);
}

void QuantifierNode::collect(std::vector<const Node*>& links) const {
    Node::collect(links);
    links.push_back(m_inner);
}

void OrNode::collect(std::vector<const Node*>& links) const {
    Node::collect(links);
    links.push_back(m_left);
    links.push_back(m_right);
}

void GroupLoopNode::collect(std::vector<const Node*>& links) const {
    Node::collect(links);
    links.push_back(m_body);
}

void LookAheadNode::collect(std::vector<const Node*>& links) const {
    Node::collect(links);
    links.push_back(m_sub);
}

// ---------------------------------------------------------------------------------------------
// Driver and sequence nodes

int StartNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    GroupState& whole = group(m, 0);
    if (wholeInput(m)) {
        if (pos != 0)
            return -1;
        whole.start = pos;
        int end = next->match(input, m, pos);
        if (end < 0)
            whole.start = -1;
        return end;
    }
    const int len = length(input);
    const char* data = input.data();
    for (int p = pos; p <= len; ++p) {
        if (m_anchored && p > 0)
            break;
        if (m_filtered) {
            // Skip the positions where no match can start.
            if (m_singleFirstByte >= 0) {
                const void* hit =
                    p < len ? std::memchr(data + p, m_singleFirstByte, static_cast<size_t>(len - p))
                            : nullptr;
                if (!hit)
                    break;
                p = static_cast<int>(static_cast<const char*>(hit) - data);
            } else {
                while (p < len && !m_firstBytes.contains(byteAt(input, p)))
                    ++p;
                if (p >= len)
                    break;
            }
        }
        if (p != pos)
            resetGroups(m);
        whole.start = p;
        int end = next->match(input, m, p);
        if (end >= 0)
            return end;
        if (stopped(m))
            break;
    }
    whole.start = -1;
    return -1;
}

int EndNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    GroupState& whole = group(m, 0);
    if (wholeInput(m) && pos != length(input)) {
        whole.end = -1;
        return -1;
    }
    whole.end = pos;
    return pos;
}

int AcceptNode::match(const String& input, Matcher& m, int pos) const {
    if (!next)
        return pos;
    if (!enter(m))
        return -1;
    return next->match(input, m, pos);
}

int SubStartNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    return next->match(input, m, pos);
}

// ---------------------------------------------------------------------------------------------
// Characters, classes and literal texts

CharNode::CharNode(uint8_t c) : SingleByteNode(NodeKind::Char), m_char(c) {
    m_accepted.add(c);
}

CICharNode::CICharNode(uint8_t c) : SingleByteNode(NodeKind::CIChar), m_char(foldByte(c)) {
    m_accepted.add(m_char);
    if (m_char >= 'a' && m_char <= 'z')
        m_accepted.add(static_cast<uint8_t>(m_char - 32));
}

ClassNode::ClassNode(const ByteSet& members, bool inverted)
    : ClassNode(NodeKind::Class, members, inverted) {}

ClassNode::ClassNode(NodeKind kind, const ByteSet& members, bool inverted)
    : SingleByteNode(kind), m_members(members), m_inverted(inverted) {
    m_accepted = m_members;
    if (m_inverted)
        m_accepted.invert();
}

CIClassNode::CIClassNode(const ByteSet& members, bool inverted)
    : ClassNode(NodeKind::CIClass, members, inverted) {
    // The lookup folds the input byte first; the accepted set says the same per raw byte.
    ByteSet accepted;
    for (int b = 0; b < 256; ++b) {
        bool member = m_members.contains(foldByte(static_cast<uint8_t>(b)));
        if (member != m_inverted)
            accepted.add(static_cast<uint8_t>(b));
    }
    m_accepted = accepted;
}

int SingleByteNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    if (pos < length(input) && m_accepted.contains(byteAt(input, pos))) {
        return next->match(input, m, pos + 1);
    }
    return -1;
}

int QuoteNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    int n = static_cast<int>(m_text.length());
    if (n > length(input) - pos)
        return -1;
    if (n && std::memcmp(input.data() + pos, m_text.data(), static_cast<size_t>(n)) != 0) {
        return -1;
    }
    return next->match(input, m, pos + n);
}

CIQuoteNode::CIQuoteNode(const String& text)
    : QuoteNode(NodeKind::CIQuote, text), m_folded(text.toLower().copy()) {}

int CIQuoteNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    int n = static_cast<int>(m_folded.length());
    if (n > length(input) - pos)
        return -1;
    for (int i = 0; i < n; ++i) {
        if (foldByte(byteAt(input, pos + i)) != static_cast<uint8_t>(m_folded.data()[i])) {
            return -1;
        }
    }
    return next->match(input, m, pos + n);
}

// ---------------------------------------------------------------------------------------------
// Quantified atoms. An atom's iteration is deterministic (one end position per start) and,
// for every atom the syntax allows, of the same length each time; so the repetitions are
// scanned in a loop and backtracking walks back over them arithmetically, without recursion.

QuantifierNode::QuantifierNode(NodeKind kind, Node* inner, int min, int max)
    : Node(kind), m_inner(inner), m_min(min < 0 ? 0 : min), m_max(max) {
    if (m_max < m_min)
        m_max = m_min;
}

int QuantifierNode::matchMinimum(const String& input, Matcher& m, int pos) const {
    if (m_single) {
        if (m_min > length(input) - pos)
            return -1;
        const int end = pos + m_min;
        for (int p = pos; p < end; ++p) {
            if (!m_single->m_accepted.contains(byteAt(input, p)))
                return -1;
        }
        countSteps(m, m_min);
        return end;
    }
    int p = pos;
    for (int i = 0; i < m_min; ++i) {
        int end = m_inner->match(input, m, p);
        if (end < 0)
            return -1;
        if (end == p)
            break;  // nothing consumed: the minimum counts as satisfied
        p = end;
    }
    return p;
}

int GreedyQuantifierNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    int p = matchMinimum(input, m, pos);
    if (p < 0)
        return -1;
    return matchMore(input, m, p, m_min);
}

int GreedyQuantifierNode::matchMore(const String& input, Matcher& m, int pos, int count) const {
    const int len = length(input);
    const int room = m_max - count;  // further iterations allowed
    int last = pos;                  // end of the longest repetition
    int step = 0;                    // length of one iteration
    if (m_single) {
        int limit = room < len - pos ? pos + room : len;
        const ByteSet& accepted = m_single->m_accepted;
        while (last < limit && accepted.contains(byteAt(input, last)))
            ++last;
        step = 1;
    } else {
        for (int done = 0; done < room; ++done) {
            int end = m_inner->match(input, m, last);
            // An iteration that consumes nothing ends the repetition: repeating it could not
            // change anything.
            if (end <= last)
                break;
            if (step == 0) {
                step = end - last;
            } else if (end - last != step) {
                break;
            }
            last = end;
        }
        if (step == 0)
            step = 1;
    }
    countSteps(m, last - pos);
    for (int p = last;; p -= step) {
        if (mayFollow(input, p)) {
            int end = next->match(input, m, p);
            if (end >= 0)
                return end;
            if (stopped(m))
                return -1;
        }
        if (p <= pos)
            break;
    }
    return -1;
}

int LazyQuantifierNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    int p = matchMinimum(input, m, pos);
    if (p < 0)
        return -1;
    const int len = length(input);
    for (int count = m_min;; ++count) {
        if (count >= m_max)
            return next->match(input, m, p);
        if (mayFollow(input, p)) {
            int end = next->match(input, m, p);
            if (end >= 0)
                return end;
            if (stopped(m))
                return -1;
        }
        int end;
        if (m_single) {
            end = p < len && m_single->m_accepted.contains(byteAt(input, p)) ? p + 1 : -1;
            countSteps(m, 1);
        } else {
            end = m_inner->match(input, m, p);
        }
        if (end <= p)
            return -1;  // failed or consumed nothing
        p = end;
    }
}

int PossessiveQuantifierNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    // An atomic group's captures stay only while the rest of the pattern matches.
    const size_t mark = trailMark(m);
    int p = matchMinimum(input, m, pos);
    if (p < 0) {
        undoTo(m, mark);
        return -1;
    }
    const int room = m_max - m_min;
    if (m_single) {
        const int len = length(input);
        int limit = room < len - p ? p + room : len;
        int start = p;
        const ByteSet& accepted = m_single->m_accepted;
        while (p < limit && accepted.contains(byteAt(input, p)))
            ++p;
        countSteps(m, p - start);
    } else {
        for (int done = 0; done < room; ++done) {
            int end = m_inner->match(input, m, p);
            if (end <= p)
                break;
            p = end;
        }
    }
    int end = next->match(input, m, p);
    if (end < 0)
        undoTo(m, mark);
    return end;
}

// ---------------------------------------------------------------------------------------------
// Alternatives and groups

int OrNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    // The captures an alternative set are undone when the rest fails after it.
    const size_t mark = trailMark(m);
    // Each alternative is closed by an AcceptNode: it yields one end position, which is not
    // retried shorter when the rest fails.
    int end = m_left->match(input, m, pos);
    if (end >= 0) {
        int result = next->match(input, m, end);
        if (result >= 0)
            return result;
        undoTo(m, mark);
    }
    if (stopped(m))
        return -1;
    end = m_right->match(input, m, pos);
    if (end >= 0) {
        int result = next->match(input, m, end);
        if (result >= 0)
            return result;
        undoTo(m, mark);
    }
    return -1;
}

int GroupHeadNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    const size_t mark = trailMark(m);
    setBound(m, group(m, m_group).start, pos);
    int end = next->match(input, m, pos);
    if (end < 0)
        undoTo(m, mark);
    return end;
}

int GroupTailNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    const size_t mark = trailMark(m);
    setBound(m, group(m, m_group).end, pos);
    int end = next->match(input, m, pos);
    if (end < 0)
        undoTo(m, mark);
    return end;
}

int GroupLoopPrologueNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    GroupState& g = group(m, m_group);
    GroupState previous = g;
    g.count = 0;
    g.lastStart = -1;
    const auto* loop = static_cast<const GroupLoopNode*>(next);
    int end;
    if (loop->m_style == GroupLoopNode::kPossessive) {
        // The loop runs on its own, greedily, up to its first way out; the rest of the
        // pattern then continues from there and never makes the loop give anything back.
        const size_t mark = trailMark(m);
        int stop = loop->match(input, m, pos);
        end = stop < 0 ? -1 : loop->next->match(input, m, stop);
        if (end < 0)
            undoTo(m, mark);
    } else {
        end = next->match(input, m, pos);
    }
    if (end < 0) {
        g.count = previous.count;
        g.lastStart = previous.lastStart;
    }
    return end;
}

int GroupLoopNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    GroupState& g = group(m, m_group);
    // Leaving the loop: a possessive loop only reports where it stops (its prologue goes on).
    auto leave = [&]() { return m_style == kPossessive ? pos : next->match(input, m, pos); };
    // The last iteration consumed nothing, or the maximum is reached: leave the loop.
    if (g.lastStart >= pos || g.count >= m_max)
        return leave();
    const int previousStart = g.lastStart;
    const int previousCount = g.count;
    auto iterate = [&]() {
        g.lastStart = pos;
        ++g.count;
        int end = m_body->match(input, m, pos);
        if (end < 0) {
            g.lastStart = previousStart;
            g.count = previousCount;
        }
        return end;
    };
    if (g.count < m_min)
        return iterate();
    if (m_style == kLazy) {
        int end = next->match(input, m, pos);
        if (end >= 0 || stopped(m))
            return end;
        return iterate();
    }
    // Greedy, and possessive within its own run: the longest repetition first.
    int end = iterate();
    if (end >= 0 || stopped(m))
        return end;
    return leave();
}

// ---------------------------------------------------------------------------------------------
// Look-around and back references

int LookAheadNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    const size_t mark = trailMark(m);
    int found = m_sub->match(input, m, pos);
    if (stopped(m))
        return -1;
    if (m_positive) {
        if (found < 0)
            return -1;
        int end = next->match(input, m, pos);
        if (end < 0)
            undoTo(m, mark);
        return end;
    }
    // A negative look-ahead keeps no captures.
    undoTo(m, mark);
    if (found >= 0)
        return -1;
    return next->match(input, m, pos);
}

int LookBehindNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    int n = static_cast<int>(m_text.length());
    bool present = pos >= n && (n == 0 || std::memcmp(input.data() + pos - n, m_text.data(),
                                                      static_cast<size_t>(n)) == 0);
    if (present != m_positive)
        return -1;
    return next->match(input, m, pos);
}

int ReferenceNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    const GroupState& g = group(m, m_group);
    const int len = length(input);
    if (g.start >= 0 && g.end > g.start && g.end <= len) {
        int n = g.end - g.start;
        if (n > len - pos)
            return -1;
        if (std::memcmp(input.data() + pos, input.data() + g.start, static_cast<size_t>(n)) != 0) {
            return -1;
        }
        return next->match(input, m, pos + n);
    }
    return next->match(input, m, pos);
}

// ---------------------------------------------------------------------------------------------
// Anchors

int StartOfInputNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    return pos == 0 ? next->match(input, m, pos) : -1;
}

int EndOfInputNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    const int left = length(input) - pos;
    bool ok = left == 0;
    if (!ok && m_allowTerminator) {
        ok = (left == 1 && isLineTerminator(byteAt(input, pos))) ||
             (left == 2 && byteAt(input, pos) == '\r' && byteAt(input, pos + 1) == '\n');
    }
    return ok ? next->match(input, m, pos) : -1;
}

int StartOfLineNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    bool ok = pos == 0 || isLineTerminator(byteAt(input, pos - 1));
    return ok ? next->match(input, m, pos) : -1;
}

int EndOfLineNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    bool ok = pos == length(input) || isLineTerminator(byteAt(input, pos));
    return ok ? next->match(input, m, pos) : -1;
}

int WordBoundaryNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    if (pos < length(input)) {
        // Only letters are word bytes; before position 0 stands a non-letter.
        bool before = pos > 0 && isLetter(byteAt(input, pos - 1));
        bool at = isLetter(byteAt(input, pos));
        bool boundary = before != at;
        if (boundary != (m_flag == 1))
            return -1;
    }
    return next->match(input, m, pos);
}

int EndOfMatchNode::match(const String& input, Matcher& m, int pos) const {
    if (!enter(m))
        return -1;
    return pos == searchStart(m) ? next->match(input, m, pos) : -1;
}

}  // namespace regex
}  // namespace tessel
