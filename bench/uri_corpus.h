// The inputs shared by the regular-expression and URI benchmarks: 10 000 deterministic gateway
// URIs and a 1 MB text with escapes, built once per process.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/string.h"

namespace {

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

}  // namespace
