#include "regex/matcher.h"

#include <limits>
#include <new>

#include "regex/stackbound_platform.h"

namespace tessel {
namespace regex {
namespace {

// Positions are ints: longer inputs are not matched at all.
constexpr uint32_t kMaxInput = 0x7ffffffeu;

}  // namespace

Matcher::Matcher(const gc::Pointer<Graph>& graph, const String& input)
    : m_graph(graph),
      // Strings are immutable and share storage, so sharing is a private copy; a String
      // that only points at the caller's bytes is copied.
      m_input(input.hasStorage() || input.isEmpty() ? input : input.copy()),
      m_groupCount(graph ? graph->m_groupCount : 1),
      m_nonCapturingCount(graph ? graph->m_nonCapturingCount : 0) {
    int total = m_groupCount + m_nonCapturingCount;
    GroupState* base = m_inline;
    if (total > kInlineGroups) {
        m_heap.resize(static_cast<size_t>(total));
        base = m_heap.data();
    }
    m_groups = base + m_nonCapturingCount;
    for (int i = -m_nonCapturingCount; i < m_groupCount; ++i)
        m_groups[i] = GroupState{0, 0, 0, 0};
}

Matcher::~Matcher() = default;

void Matcher::resetGroups() noexcept {
    for (int i = -m_nonCapturingCount; i < m_groupCount; ++i) {
        m_groups[i] = GroupState{-1, -1, -1, -1};
    }
}

void Matcher::reset() noexcept {
    resetGroups();
    m_searchStart = 0;
}

bool Matcher::stop() noexcept {
    m_limitReached = true;
    // Every later visit fails at once, so the whole operation unwinds quickly.
    m_activeLimit = 0;
    return false;
}

bool Matcher::run(bool wholeInput, int from) {
    m_wholeInput = wholeInput;
    m_steps = 0;
    m_activeLimit = m_stepLimit ? m_stepLimit : std::numeric_limits<uint64_t>::max();
    m_limitReached = false;
    m_stackLimit = detail::stackLimit();
    m_searchStart = from;
    m_trail.clear();
    if (!m_graph || !m_graph->m_head || m_input.length() > kMaxInput)
        return false;
    int end;
    try {
        end = m_graph->m_head->match(m_input, *this, from);
    } catch (const std::bad_alloc&) {
        m_trail.clear();
        resetGroups();
        detail::throwOutOfMemory("Matcher", "match");
    }
    if (end < 0) {
        // A failed operation leaves no partial captures behind.
        resetGroups();
        return false;
    }
    return true;
}

bool Matcher::matchesAll() {
    reset();
    m_found = false;
    m_exhausted = false;
    return run(true, 0);
}

bool Matcher::findFirst() {
    reset();
    m_exhausted = false;
    m_found = run(false, 0);
    return m_found;
}

bool Matcher::findNext() {
    if (m_exhausted) {
        reset();
        return false;
    }
    if (!m_found)
        return findFirst();
    int start = m_groups[0].start;
    int end = m_groups[0].end;
    int from = end == start ? end + 1 : end;
    reset();
    if (from >= static_cast<int>(m_input.length())) {
        m_found = false;
        m_exhausted = true;
        return false;
    }
    m_found = run(false, from);
    if (!m_found)
        m_exhausted = true;
    return m_found;
}

int Matcher::groupStart(int i) const noexcept {
    if (i < 0 || i >= m_groupCount)
        return -1;
    const GroupState& g = m_groups[i];
    return g.start >= 0 && g.end >= 0 ? g.start : -1;
}

int Matcher::groupEnd(int i) const noexcept {
    if (i < 0 || i >= m_groupCount)
        return -1;
    const GroupState& g = m_groups[i];
    return g.start >= 0 && g.end >= 0 ? g.end : -1;
}

String Matcher::groupText(int i) const {
    int start = groupStart(i);
    int end = groupEnd(i);
    if (start < 0 || end <= start || end > static_cast<int>(m_input.length()))
        return String();
    return m_input.substring(static_cast<uint32_t>(start), static_cast<uint32_t>(end - start));
}

}  // namespace regex
}  // namespace tessel
