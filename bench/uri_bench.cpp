// The URI code against libcurl's URL interface and libcurl's unescaping: parsing and rebuilding
// 10 000 gateway URIs, and percent-decoding a 1 MB text. The inputs are those of regex_bench.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "http/uri.h"

#include "uri_corpus.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Parse and rebuild

void BM_ParseToString_Uri(benchmark::State& state) {
    const auto& uris = corpusStrings();
    for (auto _ : state) {
        for (const tessel::String& u : uris) {
            tessel::http::Uri uri(u);
            tessel::String rebuilt = uri.toString();
            benchmark::DoNotOptimize(rebuilt.length());
        }
    }
    report(state, static_cast<int64_t>(uris.size()), corpusBytes());
}
BENCHMARK(BM_ParseToString_Uri)->Unit(benchmark::kMillisecond);

// The same with decoding off: splitting and rebuilding without the escape handling.
void BM_ParseToString_UriRaw(benchmark::State& state) {
    const auto& uris = corpusStrings();
    for (auto _ : state) {
        for (const tessel::String& u : uris) {
            tessel::http::Uri uri(u, false);
            tessel::String rebuilt = uri.toString();
            benchmark::DoNotOptimize(rebuilt.length());
        }
    }
    report(state, static_cast<int64_t>(uris.size()), corpusBytes());
}
BENCHMARK(BM_ParseToString_UriRaw)->Unit(benchmark::kMillisecond);

void BM_ParseToString_CurlUrl(benchmark::State& state) {
    const auto& uris = corpus();
    for (auto _ : state) {
        for (const std::string& u : uris) {
            CURLU* handle = curl_url();
            if (curl_url_set(handle, CURLUPART_URL, u.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
                CURLUE_OK) {
                state.SkipWithError("curl_url_set failed");
            }
            char* rebuilt = nullptr;
            if (curl_url_get(handle, CURLUPART_URL, &rebuilt, 0) != CURLUE_OK) {
                state.SkipWithError("curl_url_get failed");
            }
            benchmark::DoNotOptimize(rebuilt);
            curl_free(rebuilt);
            curl_url_cleanup(handle);
        }
    }
    report(state, static_cast<int64_t>(uris.size()), corpusBytes());
}
BENCHMARK(BM_ParseToString_CurlUrl)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// Percent-decoding 1 MB

void BM_Decode_Uri(benchmark::State& state) {
    tessel::String input = tessel::String::copy(text());
    for (auto _ : state) {
        tessel::String decoded = tessel::http::percentDecode(input);
        benchmark::DoNotOptimize(decoded.length());
    }
    report(state, 1, static_cast<int64_t>(text().size()));
}
BENCHMARK(BM_Decode_Uri)->Unit(benchmark::kMillisecond);

void BM_Decode_CurlUnescape(benchmark::State& state) {
    CURL* curl = curl_easy_init();
    const std::string& input = text();
    for (auto _ : state) {
        int length = 0;
        char* decoded =
            curl_easy_unescape(curl, input.data(), static_cast<int>(input.size()), &length);
        benchmark::DoNotOptimize(length);
        curl_free(decoded);
    }
    curl_easy_cleanup(curl);
    report(state, 1, static_cast<int64_t>(text().size()));
}
BENCHMARK(BM_Decode_CurlUnescape)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
