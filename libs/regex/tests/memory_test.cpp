// Memory of compiling and matching: capture bookkeeping grows with the pattern, not with the
// square of its nesting, and a pattern that does not fit in the memory that can be had fails
// with the engine's own exception. Each case runs in a child process whose address space is
// limited, so that a fault shows as a failed allocation instead of a machine out of memory.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "regex/matcher.h"
#include "regex/pattern.h"
#include "regex/regexerror.h"

// The sanitizers reserve address space of their own and end the process instead of failing an
// allocation, so that a limit on the address space tells nothing under them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define REGEX_TEST_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define REGEX_TEST_SANITIZER 1
#endif
#endif

using tessel::String;
using tessel::gc::Pointer;
using tessel::regex::ERegex;
using tessel::regex::Matcher;
using tessel::regex::Pattern;

namespace {

// The process's current address space in bytes, 0 when it cannot be read.
size_t addressSpace() {
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return 0;
    unsigned long pages = 0;
    int read = std::fscanf(f, "%lu", &pages);
    std::fclose(f);
    return read == 1 ? pages * static_cast<size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

// Limits the address space to what is in use now plus `extra` bytes.
bool limitAddressSpace(size_t extra) {
    size_t now = addressSpace();
    if (now == 0)
        return false;
    rlimit limit{now + extra, now + extra};
    return setrlimit(RLIMIT_AS, &limit) == 0;
}

// (b|(b|(...(b|a)...))) with `levels` capturing groups.
std::string nestedAlternation(int levels) {
    std::string text;
    text.reserve(static_cast<size_t>(levels) * 4 + 1);
    for (int i = 0; i < levels; ++i)
        text += "(b|";
    text += 'a';
    text.append(static_cast<size_t>(levels), ')');
    return text;
}

constexpr size_t kMegabyte = 1024 * 1024;

struct NestedRun {
    const std::string* text;
    int exitCode;
};

// Every group of the nested alternation takes part in the match of "a", as [0,1).
void matchNested(void* arg) {
    auto* run = static_cast<NestedRun*>(arg);
    run->exitCode = 1;
    try {
        Pointer<Pattern> p = Pattern::compile(String::copy(*run->text));
        if (!p)
            return;
        Pointer<Matcher> m = p->createMatcher("a");
        if (!m->matchesAll()) {
            run->exitCode = m->limitReached() ? 3 : 2;
            return;
        }
        for (int i = 0; i < m->groupCount(); ++i) {
            if (m->groupStart(i) != 0 || m->groupEnd(i) != 1)
                return;
        }
        run->exitCode = 0;
    } catch (const ERegex&) {
        run->exitCode = 4;
    }
}

#ifdef REGEX_TEST_SANITIZER
#define SKIP_UNDER_SANITIZER() \
    GTEST_SKIP() << "a sanitizer reserves address space that a limit would break"
#else
#define SKIP_UNDER_SANITIZER() (void)0
#endif

// In the child: the nested alternation of `text` on a thread with a large stack, under an
// address-space limit; exits 0 when every group matched.
[[noreturn]] void childMatchNested(const std::string& text) {
    NestedRun run{&text, 1};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 64 * kMegabyte);
    // Room for the thread's stack, its allocation arena and the match.
    if (!limitAddressSpace(320 * kMegabyte))
        _exit(5);
    pthread_t thread;
    auto body = [](void* a) -> void* {
        matchNested(a);
        return nullptr;
    };
    if (pthread_create(&thread, &attr, body, &run) != 0)
        _exit(6);
    pthread_join(thread, nullptr);
    _exit(run.exitCode);
}

// In the child: compiling `text` under a limit of 64 MB more fails with ERegex, and the
// engine still works afterwards; exits 0 then.
[[noreturn]] void childCompileBeyondMemory(const String& text) {
    if (!limitAddressSpace(64 * kMegabyte))
        _exit(5);
    int code = 1;
    try {
        Pattern::compile(text);
    } catch (const ERegex&) {
        code = 0;
    }
    Pointer<Pattern> small = code == 0 ? Pattern::compile("(a|b)+") : nullptr;
    if (!small || !small->createMatcher("ab")->matchesAll())
        code = 7;
    _exit(code);
}

// 20 000 nested capturing alternatives match within a few tens of megabytes (copying every
// inner group at every level took 1.5 GB).
TEST(RegexMemoryDeathTest, NestedCapturingAlternationStaysSmall) {
    SKIP_UNDER_SANITIZER();
    const std::string text = nestedAlternation(20000);
    EXPECT_EXIT(childMatchNested(text), ::testing::ExitedWithCode(0), "");
}

// A pattern too large for the memory left fails with ERegex, and the process goes on.
TEST(RegexMemoryDeathTest, PatternBeyondMemoryThrowsERegex) {
    SKIP_UNDER_SANITIZER();
    // Two million literal bytes compile to two million nodes, far more than 64 MB.
    const String text = String::copy(std::string(2 * 1024 * 1024, 'a'));
    EXPECT_EXIT(childCompileBeyondMemory(text), ::testing::ExitedWithCode(0), "");
}

}  // namespace
