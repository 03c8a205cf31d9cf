// The regular-expression engine against std::regex (libstdc++) and PCRE2 (interpreter and
// JIT), all running the same patterns: splitting 10 000 gateway URIs with the URI pattern, and
// searching a 1 MB text for percent escapes.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <benchmark/benchmark.h>
#include <pcre2.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "regex/matcher.h"
#include "regex/pattern.h"
#include "uri_corpus.h"

namespace {

const char* const kUriPattern = "^(([^:/?#]+):)?(//([^/?#]*))?([^?#]*)(\\?([^#]*))?(#(.*))?";
const char* const kEscapePattern = "%([A-Fa-f0-9]{2})";

// ---------------------------------------------------------------------------------------------
// URI splitting: the whole-input match and the five parts' positions.

void BM_Split_Tessel(benchmark::State& state) {
    auto pattern = tessel::regex::Pattern::compile(kUriPattern);
    const auto& uris = corpusStrings();
    for (auto _ : state) {
        for (const tessel::String& u : uris) {
            auto m = pattern->createMatcher(u);
            if (!m->matchesAll())
                state.SkipWithError("no match");
            int sum =
                m->groupEnd(2) + m->groupEnd(4) + m->groupEnd(5) + m->groupEnd(7) + m->groupEnd(9);
            benchmark::DoNotOptimize(sum);
        }
    }
    report(state, static_cast<int64_t>(uris.size()), corpusBytes());
}
BENCHMARK(BM_Split_Tessel)->Unit(benchmark::kMillisecond);

void BM_Split_StdRegex(benchmark::State& state) {
    std::regex re(kUriPattern);
    const auto& uris = corpus();
    std::cmatch match;
    for (auto _ : state) {
        for (const std::string& u : uris) {
            if (!std::regex_match(u.data(), u.data() + u.size(), match, re)) {
                state.SkipWithError("no match");
            }
            auto sum = match[2].length() + match[4].length() + match[5].length() +
                       match[7].length() + match[9].length();
            benchmark::DoNotOptimize(sum);
        }
    }
    report(state, static_cast<int64_t>(uris.size()), corpusBytes());
}
BENCHMARK(BM_Split_StdRegex)->Unit(benchmark::kMillisecond);

pcre2_code* compilePcre2(const char* pattern, uint32_t options, bool jit) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED,
                                     options, &error, &offset, nullptr);
    if (!code)
        std::abort();
    if (jit && pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0)
        std::abort();
    return code;
}

void splitPcre2(benchmark::State& state, bool jit) {
    // The whole input must match, as with matchesAll. The option is given when compiling:
    // given to pcre2_match it would make the JIT fall back to the interpreter.
    pcre2_code* code = compilePcre2(kUriPattern, PCRE2_ENDANCHORED, jit);
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
    const uint32_t options = jit ? 0 : PCRE2_NO_JIT;
    const auto& uris = corpus();
    for (auto _ : state) {
        for (const std::string& u : uris) {
            int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(u.data()), u.size(), 0, options,
                                 data, nullptr);
            if (rc < 0)
                state.SkipWithError("no match");
            PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data);
            auto sum = ov[5] + ov[9] + ov[11] + ov[15] + ov[19];
            benchmark::DoNotOptimize(sum);
        }
    }
    pcre2_match_data_free(data);
    pcre2_code_free(code);
    report(state, static_cast<int64_t>(uris.size()), corpusBytes());
}

void BM_Split_Pcre2Interpreter(benchmark::State& state) {
    splitPcre2(state, false);
}
BENCHMARK(BM_Split_Pcre2Interpreter)->Unit(benchmark::kMillisecond);

void BM_Split_Pcre2Jit(benchmark::State& state) {
    splitPcre2(state, true);
}
BENCHMARK(BM_Split_Pcre2Jit)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// Searching the 1 MB text for every percent escape.

void BM_Escapes_Tessel(benchmark::State& state) {
    auto pattern = tessel::regex::Pattern::compile(kEscapePattern);
    tessel::String input = tessel::String::copy(text());
    for (auto _ : state) {
        auto m = pattern->createMatcher(input);
        int64_t count = 0;
        for (bool found = m->findFirst(); found; found = m->findNext())
            ++count;
        benchmark::DoNotOptimize(count);
    }
    report(state, 1, static_cast<int64_t>(text().size()));
}
BENCHMARK(BM_Escapes_Tessel)->Unit(benchmark::kMillisecond);

void BM_Escapes_StdRegex(benchmark::State& state) {
    std::regex re(kEscapePattern);
    const std::string& input = text();
    for (auto _ : state) {
        int64_t count = 0;
        for (std::sregex_iterator it(input.begin(), input.end(), re), end; it != end; ++it) {
            ++count;
        }
        benchmark::DoNotOptimize(count);
    }
    report(state, 1, static_cast<int64_t>(text().size()));
}
BENCHMARK(BM_Escapes_StdRegex)->Unit(benchmark::kMillisecond);

void escapesPcre2(benchmark::State& state, bool jit) {
    pcre2_code* code = compilePcre2(kEscapePattern, 0, jit);
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
    const uint32_t options = jit ? 0 : PCRE2_NO_JIT;
    const std::string& input = text();
    for (auto _ : state) {
        int64_t count = 0;
        PCRE2_SIZE start = 0;
        while (pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(input.data()), input.size(), start,
                           options, data, nullptr) >= 0) {
            ++count;
            start = pcre2_get_ovector_pointer(data)[1];
        }
        benchmark::DoNotOptimize(count);
    }
    pcre2_match_data_free(data);
    pcre2_code_free(code);
    report(state, 1, static_cast<int64_t>(text().size()));
}

void BM_Escapes_Pcre2Interpreter(benchmark::State& state) {
    escapesPcre2(state, false);
}
BENCHMARK(BM_Escapes_Pcre2Interpreter)->Unit(benchmark::kMillisecond);

void BM_Escapes_Pcre2Jit(benchmark::State& state) {
    escapesPcre2(state, true);
}
BENCHMARK(BM_Escapes_Pcre2Jit)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
