// Parsing speed of the XML reader against pugixml on the same texts: a generated 100 kB
// document (attributes, namespaces, comments, nesting, text) and a typical settings file.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <pugixml.hpp>

#include <string>

#include "base/string.h"
#include "xml/keyreader.h"
#include "xml/parser.h"

namespace {

// About 100 kB of records. With `namespaces`, the root declares a default namespace (which
// every element then carries as its own "xmlns" attribute) and a prefix used by an attribute.
std::string largeDocument(bool namespaces) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!-- generated catalogue -->\n";
    text += namespaces ? "<catalog xmlns=\"urn:catalog\" xmlns:x=\"urn:extra\">\n" : "<catalog>\n";
    const std::string flag = namespaces ? "x:flag" : "flag";
    for (int i = 0; text.size() < 100 * 1024; ++i) {
        std::string n = std::to_string(i);
        text += "  <book id=\"bk" + n + "\" lang='en' " + flag + "=\"" + std::to_string(i % 2) +
                "\">\n";
        text += "    <author>Author number " + n + "</author>\n";
        text += "    <title>The title of book " + n + " &amp; its sequel</title>\n";
        text += "    <price currency=\"EUR\">" + std::to_string(10 + i % 40) + ".50</price>\n";
        text += "    <!-- stock " + n + " -->\n";
        text += "    <tags><tag>fiction</tag><tag>volume " + n + "</tag><empty/></tags>\n";
        text +=
            "    <description>A longer description of the book, with a few words that "
            "make the text nodes of this document look like real prose.</description>\n";
        text += "  </book>\n";
    }
    text += "</catalog>\n";
    return text;
}

const char kSettings[] =
    "<vexlanclient>\r\n"
    " <sslcertignoredomains>\r\n"
    "  <domains>intranet.example.com</domains>\r\n"
    "  <domains>gateway.example.com:8443</domains>\r\n"
    "  <domains>10.1.2.3</domains>\r\n"
    " </sslcertignoredomains>\r\n"
    " <proxy>\r\n"
    "  <credentials>\r\n"
    "   <login>j.smith</login>\r\n"
    "   <password security=\"1\">"
    "AXZleGxhbi1wcm90ZWN0LXYxAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA==</password>\r\n"
    "   <domain>CORP</domain>\r\n"
    "  </credentials>\r\n"
    " </proxy>\r\n"
    " <hostcheckerdll>\r\n"
    "  <download>true</download>\r\n"
    " </hostcheckerdll>\r\n"
    " <plugindll>\r\n"
    "  <download>false</download>\r\n"
    " </plugindll>\r\n"
    "</vexlanclient>";

void parseOurs(benchmark::State& state, const std::string& source) {
    tessel::String text = tessel::String::copy(source);
    for (auto _ : state) {
        auto root = tessel::xml::StringParser::parse(text);
        benchmark::DoNotOptimize(root.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.size()));
}

void parsePugi(benchmark::State& state, const std::string& source) {
    for (auto _ : state) {
        pugi::xml_document doc;
        pugi::xml_parse_result result = doc.load_buffer(source.data(), source.size());
        benchmark::DoNotOptimize(result.status);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.size()));
}

const std::string& large() {
    static const std::string text = largeDocument(false);
    return text;
}

const std::string& largeNamespaced() {
    static const std::string text = largeDocument(true);
    return text;
}

void BM_Large_Ours(benchmark::State& state) {
    parseOurs(state, large());
}
void BM_Large_Pugixml(benchmark::State& state) {
    parsePugi(state, large());
}
void BM_LargeNamespaced_Ours(benchmark::State& state) {
    parseOurs(state, largeNamespaced());
}
void BM_LargeNamespaced_Pugixml(benchmark::State& state) {
    parsePugi(state, largeNamespaced());
}
void BM_Settings_Ours(benchmark::State& state) {
    parseOurs(state, kSettings);
}
void BM_Settings_Pugixml(benchmark::State& state) {
    parsePugi(state, kSettings);
}

// The whole reading path of the settings: parse, then walk the keys as the client does.
void BM_Settings_OursKeyed(benchmark::State& state) {
    tessel::String text = tessel::String::copy(std::string(kSettings));
    for (auto _ : state) {
        tessel::xml::ParserReader reader(tessel::xml::StringParser::parse(text),
                                         tessel::xml::TextEntities::kDecode);
        tessel::IKeyReader* root = reader.getKey("vexlanclient");
        tessel::IKeyReader* list = root->getKey("sslcertignoredomains");
        int n = list->count("domains");
        tessel::String value;
        for (int i = 0; i < n; ++i)
            list->getKey("domains")->read(value);
        tessel::IKeyReader* credentials = root->getKey("proxy")->getKey("credentials");
        credentials->getKey("login")->read(value);
        credentials->getKey("password")->read(value);
        benchmark::DoNotOptimize(value.data());
    }
}

BENCHMARK(BM_Large_Ours);
BENCHMARK(BM_Large_Pugixml);
BENCHMARK(BM_LargeNamespaced_Ours);
BENCHMARK(BM_LargeNamespaced_Pugixml);
BENCHMARK(BM_Settings_Ours);
BENCHMARK(BM_Settings_Pugixml);
BENCHMARK(BM_Settings_OursKeyed);

}  // namespace

// The heap keeps what it frees, so that neither parser pays for returning memory to the
// system and faulting it in again on every iteration (page faults are slow and very variable
// on virtual machines, and would otherwise dominate both measurements).
int main(int argc, char** argv) {
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
    mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
