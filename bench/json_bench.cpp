// Decoding a gateway reply: the JSON library's parse alone, versus the whole road the client
// takes (parse, reader tree, envelope and configuration element). The reader layer should
// add at most half of the parse's time.
#include <benchmark/benchmark.h>
#include <json/reader.h>
#include <json/value.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "json/JSONReader.h"
#include "json/JSONWrapper.h"
#include "vexlanclient/clientconfiguration.h"
#include "vexlanclient/mediationresponse.h"

namespace {

const std::string& pluginReply() {
    static const std::string text = [] {
        std::ifstream in(VEXLAN_CLIENT_TEST_DATA "/reply_plugindll.json", std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }();
    return text;
}

// The JSON library alone, set up as the wrapper sets it up.
void BM_JsonLibraryParse(benchmark::State& state) {
    const std::string& text = pluginReply();
    Json::CharReaderBuilder builder;
    builder["allowComments"] = true;
    builder["collectComments"] = false;
    builder["strictRoot"] = false;
    builder["stackLimit"] = 1000;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    for (auto _ : state) {
        Json::Value root;
        bool ok = reader->parse(text.data(), text.data() + text.size(), &root, nullptr);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(root);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_JsonLibraryParse);

// Parse and reader tree.
void BM_DocumentAndReaderTree(benchmark::State& state) {
    tessel::String text = tessel::String::copy(pluginReply());
    for (auto _ : state) {
        tessel::JSONWrapperFromString document(text);
        benchmark::DoNotOptimize(document.getReader());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.length()));
}
BENCHMARK(BM_DocumentAndReaderTree);

// Everything the client does with the body of its first reply.
void BM_DecodePluginReply(benchmark::State& state) {
    tessel::String text = tessel::String::copy(pluginReply());
    for (auto _ : state) {
        MediationResponse response(text);
        tessel::gc::Pointer<ClientConfiguration> configuration =
            ClientConfiguration::load(*response.result());
        benchmark::DoNotOptimize(configuration.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.length()));
}
BENCHMARK(BM_DecodePluginReply);

}  // namespace

BENCHMARK_MAIN();
