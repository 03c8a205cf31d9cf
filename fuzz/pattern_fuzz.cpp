// Pattern::compile of arbitrary text with arbitrary flags, then matching over a subject:
// the input is one flag byte, the pattern, a zero byte and the subject. The matcher's step
// limit bounds the work of pathological patterns. Literal patterns (and patterns without any
// special byte) are checked against a plain substring search.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "regex/matcher.h"
#include "regex/pattern.h"

using tessel::String;
using tessel::gc::Pointer;
using tessel::regex::Matcher;
using tessel::regex::Pattern;

namespace {

constexpr uint64_t kStepLimit = 20000;    // per matcher operation
constexpr uint64_t kStepBudget = 400000;  // for all the searches of one input

// Group positions are -1 together or lie inside the subject in order.
void checkGroups(const Matcher& m, uint32_t length) {
    for (int i = 0; i < m.groupCount(); ++i) {
        int start = m.groupStart(i);
        int end = m.groupEnd(i);
        String text = m.groupText(i);
        if (start < 0 || end < 0) {
            FUZZ_CHECK(text.isEmpty());
            continue;
        }
        FUZZ_CHECK(static_cast<uint32_t>(end) <= length);
        if (start <= end) {
            FUZZ_CHECK(text.length() == static_cast<uint32_t>(end - start));
            FUZZ_CHECK(std::memcmp(text.data(), m.input().data() + start, text.length()) == 0);
        }
    }
    FUZZ_CHECK(m.groupStart(-1) == -1 && m.groupEnd(m.groupCount()) == -1);
    FUZZ_CHECK(m.groupText(m.groupCount()).isEmpty());
}

bool hasSpecialByte(const String& text) {
    return text.findFirstOf("\\[](){}.*+?^$|") != String::npos;
}

// Matching as a plain byte comparison: whole subject equal, and every occurrence found in
// order (an empty needle matches at every position before the end).
void checkAsLiteral(Matcher& m, const std::string& needle, const std::string& subject) {
    bool all = m.matchesAll();
    if (!m.limitReached())
        FUZZ_CHECK(all == (needle == subject));
    size_t expected = subject.find(needle);
    if (needle.empty() && subject.empty())
        expected = 0;
    bool found = m.findFirst();
    while (!m.limitReached()) {
        if (expected == std::string::npos ||
            (needle.empty() && expected >= subject.size() && expected != 0)) {
            FUZZ_CHECK(!found);
            break;
        }
        FUZZ_CHECK(found);
        FUZZ_CHECK(m.groupStart(0) == static_cast<int>(expected));
        FUZZ_CHECK(m.groupEnd(0) == static_cast<int>(expected + needle.size()));
        size_t next = expected + needle.size() + (needle.empty() ? 1 : 0);
        expected = next >= subject.size() ? std::string::npos : subject.find(needle, next);
        found = m.findNext();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexlan::fuzz::quietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const int flags = data[0] & 31;
    const auto* rest = data + 1;
    size_t restSize = size - 1;
    const void* zero = std::memchr(rest, 0, restSize);
    size_t patternSize =
        zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - rest) : restSize;
    size_t subjectFrom = zero ? patternSize + 1 : restSize;
    vexlan::fuzz::Input patternText(rest, patternSize);
    vexlan::fuzz::Input subjectText(rest + subjectFrom, restSize - subjectFrom);
    const String pattern = patternText.string();
    const String subject = subjectText.string();

    Pointer<Pattern> compiled = Pattern::compile(pattern, flags);
    if (flags & Pattern::Literal)
        FUZZ_CHECK(compiled);
    if (!compiled)
        return 0;
    FUZZ_CHECK(compiled->isCompiled());
    FUZZ_CHECK(compiled->text() == pattern);
    FUZZ_CHECK(compiled->groupCount() >= 1);

    Pointer<Matcher> m = compiled->createMatcher(subject);
    m->setStepLimit(kStepLimit);
    const uint32_t length = subject.length();

    if (m->matchesAll()) {
        FUZZ_CHECK(m->groupStart(0) == 0 && m->groupEnd(0) == static_cast<int>(length));
    }
    checkGroups(*m, length);

    // Successive searches move forward and stay inside the subject.
    uint64_t spent = m->steps();
    int previousEnd = -1;
    int previousStart = -1;
    for (bool found = m->findFirst(); found; found = m->findNext()) {
        int start = m->groupStart(0);
        int end = m->groupEnd(0);
        FUZZ_CHECK(start >= 0 && start <= end && static_cast<uint32_t>(end) <= length);
        FUZZ_CHECK(start >= previousEnd);
        FUZZ_CHECK(start > previousStart);
        checkGroups(*m, length);
        previousStart = start;
        previousEnd = end;
        spent += m->steps();
        if (spent > kStepBudget)
            break;
    }

    const bool literal = (flags & (Pattern::Literal | Pattern::IgnoreCase)) == Pattern::Literal;
    const bool plain =
        !(flags & (Pattern::Literal | Pattern::IgnoreCase)) && !hasSpecialByte(pattern);
    if (literal || plain) {
        Pointer<Matcher> lm = compiled->createMatcher(subject);
        lm->setStepLimit(kStepLimit);
        checkAsLiteral(*lm, pattern.toStd(), subject.toStd());
    }
    return 0;
}
