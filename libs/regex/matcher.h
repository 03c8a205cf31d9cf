// Matcher: runs the node graph of one compiled Pattern over one input, against the whole input
// or as a search for successive matches, and reports the capturing groups.
//
// Ownership: a matcher holds its own reference to the pattern's compiled graph and a private
// copy of the input, so it stays usable whatever happens to the pattern or the caller's text.
// Threading: a matcher carries per-match state and serves one caller at a time; any number of
// matchers may run the same pattern on different threads.
// Limits: matching recurses through the graph. Before the thread's stack runs short, or when
// the optional step limit is exceeded, the operation stops and reports no match
// (limitReached() tells the two cases from an ordinary failure). Repetitions of single
// atoms run as loops and consume no stack. Memory follows the size of the pattern and the
// path being matched; when it cannot be had, the operation logs and throws ERegex.
#pragma once

#include <cstdint>
#include <vector>

#include "base/gcobject.h"
#include "base/string.h"
#include "regex/node.h"
#include "regex/regexerror.h"
#include "regex/undotrail.h"

namespace tessel {
namespace regex {

class Matcher : public gc::ObjectDelete {
public:
    // `graph` may be null (a pattern without a compiled graph): nothing then matches.
    Matcher(const gc::Pointer<Graph>& graph, const String& input);
    ~Matcher() override;
    Matcher(const Matcher&) = delete;
    Matcher& operator=(const Matcher&) = delete;
    const char* className() const override { return "regex.Matcher"; }

    // Whole input: true when the pattern matches from position 0 to the input's end.
    bool matchesAll();
    // Search from position 0.
    bool findFirst();
    // The next match after the previous one (from its end, plus one when it was empty);
    // findFirst when no search has succeeded yet. Once it has returned false it keeps
    // returning false until findFirst or matchesAll starts over.
    bool findNext();

    // Number of groups: capturing groups plus one (group 0 is the whole match).
    int groupCount() const noexcept { return m_groupCount; }
    // Start / end (exclusive) of group i; -1 when i is out of range or the group did not
    // take part in the last match.
    int groupStart(int i) const noexcept;
    int groupEnd(int i) const noexcept;
    // The input between start and end of group i; empty when it did not take part, when i is
    // out of range or when it matched empty text.
    String groupText(int i) const;
    const String& input() const noexcept { return m_input; }

    // Diagnostics. Steps count the node visits and scanned bytes of the last operation; a
    // limit above 0 stops an operation (as a failure) once its steps exceed it.
    void setStepLimit(uint64_t limit) noexcept { m_stepLimit = limit; }
    uint64_t steps() const noexcept { return m_steps; }
    // Whether the last operation was stopped by the step limit or by the stack bound.
    bool limitReached() const noexcept { return m_limitReached; }

private:
    friend class Node;

    // Whole-input or search run of the graph from `from`.
    bool run(bool wholeInput, int from);
    void reset() noexcept;
    void resetGroups() noexcept;

    bool enter() noexcept {
        if (__builtin_expect(++m_steps > m_activeLimit, 0))
            return stop();
        if (__builtin_expect(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < m_stackLimit,
                             0)) {
            return stop();
        }
        return true;
    }
    bool stop() noexcept;
    bool stopped() const noexcept { return m_limitReached; }

    static constexpr int kInlineGroups = 16;

    gc::Pointer<Graph> m_graph;
    String m_input;
    int m_groupCount;
    int m_nonCapturingCount;
    GroupState m_inline[kInlineGroups];
    std::vector<GroupState> m_heap;
    GroupState* m_groups;  // m_groups[-N .. G-1]
    UndoTrail m_trail;
    int m_searchStart = 0;
    bool m_wholeInput = false;
    bool m_found = false;      // a previous search succeeded
    bool m_exhausted = false;  // findNext has returned false
    uint64_t m_steps = 0;
    uint64_t m_stepLimit = 0;
    uint64_t m_activeLimit = 0;
    uintptr_t m_stackLimit = 0;
    bool m_limitReached = false;
};

inline bool Node::enter(Matcher& m) {
    return m.enter();
}
inline bool Node::stopped(const Matcher& m) {
    return m.stopped();
}
inline GroupState& Node::group(Matcher& m, int index) {
    return m.m_groups[index];
}
inline bool Node::wholeInput(const Matcher& m) {
    return m.m_wholeInput;
}
inline int Node::searchStart(const Matcher& m) {
    return m.m_searchStart;
}
inline void Node::resetGroups(Matcher& m) {
    m.resetGroups();
}
inline void Node::countSteps(Matcher& m, int64_t steps) {
    m.m_steps += static_cast<uint64_t>(steps);
}
inline void Node::setBound(Matcher& m, int& bound, int value) {
    m.m_trail.set(bound, value);
}
inline size_t Node::trailMark(const Matcher& m) {
    return m.m_trail.mark();
}
inline void Node::undoTo(Matcher& m, size_t mark) {
    m.m_trail.undoTo(mark);
}

}  // namespace regex
}  // namespace tessel
