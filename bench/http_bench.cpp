// Proxy-script lookups: one evaluation of an ordinary script in this process and in the
// evaluator process that the client uses (every transfer asks for its proxy), and a lookup
// whose script is stuck in one long built-in call, which only killing the process stops.
#include <stdlib.h>

#include <benchmark/benchmark.h>

#include "base/console.h"
#include "http/pacevaluator.h"
#include "http/pacscript.h"

namespace {

using tessel::String;
using tessel::http::PacEvaluator;
using tessel::http::PacLimits;
using tessel::http::PacScript;

// What an organisation's script typically does for a host given by name.
const char kScript[] = R"JS(
function FindProxyForURL(url, host) {
  if (isPlainHostName(host) || dnsDomainIs(host, ".corp.example") ||
      localHostOrDomainIs(host, "intranet"))
    return "DIRECT";
  if (shExpMatch(url, "https://*.partner.example/*") || isInNet(host, "10.0.0.0", "255.0.0.0") ||
      isInNet(host, "192.168.0.0", "255.255.0.0"))
    return "DIRECT";
  if (weekdayRange("SAT", "SUN")) return "PROXY weekend.corp.example:3128";
  return "PROXY proxy1.corp.example:3128; PROXY proxy2.corp.example:3128; DIRECT";
})JS";

class FixedResolver : public tessel::http::PacResolver {
public:
    String resolve(const String&) override { return "93.184.216.34"; }
    String myIpAddress() override { return "192.168.1.20"; }
};

struct Setup {
    Setup() {
        // The evaluator of this build, unless the caller names another.
        setenv("VEXLAN_PAC_EVALUATOR", VEXLAN_PAC_EVALUATOR_BUILT, 0);
        for (int level = 0; level < tessel::Console::kLevels; ++level)
            tessel::setOutput(level, "null");
        PacScript::setResolver(&resolver);
    }
    FixedResolver resolver;
};

void setUp() {
    static Setup setup;
}

using Evaluate = PacScript::Result (*)(const String&, const String&, const String&, String&,
                                       const PacLimits&);

void lookup(benchmark::State& state, Evaluate evaluate) {
    setUp();
    String script(kScript);
    for (auto _ : state) {
        String answer;
        if (evaluate(script, "https://www.example.com/start", "www.example.com", answer,
                     PacLimits()) != PacScript::Result::kAnswer) {
            state.SkipWithError("no answer");
            return;
        }
        benchmark::DoNotOptimize(answer);
    }
}

void BM_PacLookupInProcess(benchmark::State& state) {
    lookup(state, &PacScript::evaluate);
}
void BM_PacLookupEvaluatorProcess(benchmark::State& state) {
    lookup(state, &PacEvaluator::evaluate);
}

// The whole lookup of a script stuck in Array.prototype.indexOf over 1e9 elements, with a
// 100 ms limit: it returns "no answer" once the process is killed and waited for. The next
// iteration starts a new process, whose start is counted too.
void BM_PacRunawayLookup(benchmark::State& state) {
    setUp();
    String script(
        "function FindProxyForURL(u, h) {"
        " return String(Array.prototype.indexOf.call({length: 1e9}, 1)); }");
    PacLimits limits;
    limits.timeoutMilliseconds = 100;
    for (auto _ : state) {
        String answer;
        if (PacEvaluator::evaluate(script, "https://a/", "a", answer, limits) !=
            PacScript::Result::kNoAnswer) {
            state.SkipWithError("the runaway script answered");
            return;
        }
    }
}

}  // namespace

BENCHMARK(BM_PacLookupInProcess)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PacLookupEvaluatorProcess)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PacRunawayLookup)->Unit(benchmark::kMillisecond)->Iterations(10);

BENCHMARK_MAIN();
