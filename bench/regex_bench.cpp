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

namespace {

const char* const kUriPattern = "^(([^:/?#]+):)?(//([^/?#]*))?([^?#]*)(\\?([^#]*))?(#(.*))?";
const char* const kEscapePattern = "%([A-Fa-f0-9]{2})";

// ---------------------------------------------------------------------------------------------
// Deterministic inputs

struct Random {
    uint64_t state;
    uint32_t next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
    uint32_t below(uint32_t n) { return next() % n; }
    const char* pick(const std::vector<const char*>& items) { return items[below(items.size())]; }
};

std::string word(Random& r, int minLength, int maxLength) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    int n = minLength + static_cast<int>(r.below(static_cast<uint32_t>(maxLength - minLength + 1)));
    std::string w;
    for (int i = 0; i < n; ++i)
        w += kChars[r.below(36)];
    return w;
}

// Gateway addresses as start parameters carry them: an identifier as user information,
// host and port, a path, query parameters with escapes, sometimes a fragment.
std::vector<std::string> uriCorpus() {
    Random r{20240611};
    const std::vector<const char*> schemes = {"https", "https", "https", "http", "vexlan"};
    const std::vector<const char*> keys = {"lang", "clientversion", "token", "redirect", "session",
                                           "q",    "profile",       "realm"};
    const std::vector<const char*> langs = {"fr", "de", "en", "es", "pt-BR", "zh-CN"};
    std::vector<std::string> corpus;
    corpus.reserve(10000);
    for (int i = 0; i < 10000; ++i) {
        std::string u = std::string(r.pick(schemes)) + "://";
        if (r.below(10) < 7) {
            int n = 16 + static_cast<int>(r.below(25));
            for (int k = 0; k < n; ++k)
                u += "0123456789abcdef"[r.below(16)];
            u += '@';
        }
        if (r.below(4) == 0) {
            u += std::to_string(10 + r.below(240)) + "." + std::to_string(r.below(256)) + "." +
                 std::to_string(r.below(256)) + "." + std::to_string(1 + r.below(254));
        } else {
            u += "gw" + std::to_string(r.below(100)) + "." + word(r, 3, 10) + ".example.com";
        }
        if (r.below(2))
            u += ":" + std::to_string(r.below(3) ? 8443 : 10000 + r.below(50000));
        int segments = static_cast<int>(r.below(6));
        for (int s = 0; s < segments; ++s) {
            u += "/" + word(r, 2, 12);
            if (r.below(5) == 0)
                u += r.below(2) ? "%20" : "%2F";
        }
        if (segments == 0 || r.below(3) == 0)
            u += "/";
        if (r.below(10) < 8) {
            int params = 1 + static_cast<int>(r.below(6));
            for (int p = 0; p < params; ++p) {
                u += p ? "&" : "?";
                std::string key = r.pick(keys);
                u += key + "=";
                if (key == "lang") {
                    u += r.pick(langs);
                } else if (key == "clientversion") {
                    u += "8.4.0." + std::to_string(r.below(100));
                } else if (key == "token") {
                    for (int k = 0; k < 24; ++k) {
                        uint32_t c = r.below(70);
                        if (c < 62) {
                            u +=
                                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"[c];
                        } else {
                            u += c < 65 ? "%2B" : c < 68 ? "%2F" : "%3D";
                        }
                    }
                } else if (key == "redirect") {
                    u += "https%3A%2F%2F" + word(r, 4, 10) + ".example.org%2F" + word(r, 3, 8) +
                         "%3Fa%3D1%26b%3D2";
                } else {
                    u += word(r, 1, 16);
                    if (r.below(4) == 0)
                        u += "%20" + word(r, 1, 8);
                }
            }
        }
        if (r.below(4) == 0)
            u += "#" + word(r, 3, 12);
        corpus.push_back(u);
    }
    return corpus;
}

// 1 MB of query-like text: words, encoded blanks and punctuation, encoded UTF-8, and now and
// then a malformed escape.
std::string escapedText() {
    Random r{77};
    std::string text;
    text.reserve(1 << 20);
    while (text.size() < (1u << 20)) {
        text += word(r, 1, 12);
        switch (r.below(8)) {
            case 0:
                text += "%C3%A9";
                break;
            case 1:
                text += "%2C";
                break;
            case 2:
                text += r.below(2) ? "%zz" : "%4";
                break;
            case 3:
                text += "&";
                break;
            default:
                text += "%20";
        }
    }
    text.resize(1 << 20);
    return text;
}

const std::vector<std::string>& corpus() {
    static const std::vector<std::string> c = uriCorpus();
    return c;
}

const std::vector<tessel::String>& corpusStrings() {
    static const std::vector<tessel::String> c = [] {
        std::vector<tessel::String> out;
        for (const std::string& u : corpus())
            out.push_back(tessel::String::copy(u));
        return out;
    }();
    return c;
}

const std::string& text() {
    static const std::string t = escapedText();
    return t;
}

int64_t corpusBytes() {
    int64_t n = 0;
    for (const std::string& u : corpus())
        n += static_cast<int64_t>(u.size());
    return n;
}

void report(benchmark::State& state, int64_t items, int64_t bytes) {
    state.SetItemsProcessed(state.iterations() * items);
    state.SetBytesProcessed(state.iterations() * bytes);
}

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
