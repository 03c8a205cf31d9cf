// Evaluation of proxy auto-config scripts: FindProxyForURL(url, host) run in a private
// JavaScript engine with the usual helper functions (isPlainHostName, dnsDomainIs,
// localHostOrDomainIs, isResolvable, isInNet, dnsResolve, myIpAddress, dnsDomainLevels,
// shExpMatch, weekdayRange, dateRange, timeRange, convert_addr, alert). Every evaluation is
// bounded in script size, memory and running time; any failure is "no answer", never a crash
// or a hang.
//
// The engine checks its time limit only between instructions, so one long built-in call can
// overrun it: the client evaluates through PacEvaluator (pacevaluator.h), which runs this code
// in a separate process that it can kill. PacScript::evaluate itself runs in the caller.
#pragma once

#include <cstdint>

#include "base/string.h"

namespace tessel {
namespace http {

// Name lookups of the DNS helpers, and where the texts of `alert` go. The system's resolver
// is used unless a test installs its own with PacScript::setResolver. Implementations must be
// safe to call from any thread.
class PacResolver {
public:
    virtual ~PacResolver() = default;
    // The first IPv4 address of `host` in dotted form; empty when it does not resolve.
    virtual String resolve(const String& host) = 0;
    // The address of this machine in dotted form (never empty: "127.0.0.1" at worst).
    virtual String myIpAddress() = 0;
    // One text of the script's alert(), already cut to PacScript::kMaxAlertBytes. Written to
    // the log at TRACE ("PacScript", "alert").
    virtual void alert(const String& text);
};

struct PacLimits {
    uint32_t maxScriptBytes = 1024 * 1024;
    uint32_t maxHeapBytes = 32 * 1024 * 1024;
    // Running time of one evaluation, compilation and helper calls included.
    uint32_t timeoutMilliseconds = 5000;
    // The clock of the date and time helpers in milliseconds since the epoch; 0 for the
    // real clock (tests fix it).
    int64_t nowMilliseconds = 0;
};

class PacScript {
public:
    enum class Result {
        kAnswer,    // `answer` holds what FindProxyForURL returned
        kNoAnswer,  // the script is too large, does not compile, throws, exceeds a limit,
                    // has no FindProxyForURL or answers something other than a string
        kNoEngine,  // the script engine could not be started
    };

    // Longest answer taken from a script; longest text of one alert() and most alerts of one
    // evaluation that reach the resolver (the rest are dropped).
    static constexpr uint32_t kMaxAnswerBytes = 64 * 1024;
    static constexpr uint32_t kMaxAlertBytes = 1024;
    static constexpr uint32_t kMaxAlerts = 100;

    // Runs `script` and returns FindProxyForURL(url, host) in `answer` (untouched unless the
    // result is kAnswer). The reason of a kNoAnswer is logged at level TRACE.
    // Thread-safe: each call has an engine of its own.
    static Result evaluate(const String& script, const String& url, const String& host,
                           String& answer, const PacLimits& limits = PacLimits());
    // The same without logging: the reason of a kNoAnswer is put in `reason` (at most 512
    // bytes), for callers that report it elsewhere.
    static Result run(const String& script, const String& url, const String& host, String& answer,
                      String& reason, const PacLimits& limits);

    // The resolver of every later evaluation; null restores the system's. Not owned.
    static void setResolver(PacResolver* resolver);
    static PacResolver& resolver();

    // The same glob match as the script helper: "*" any run, "?" any one byte.
    static bool shExpMatch(const String& text, const String& pattern);
};

}  // namespace http
}  // namespace tessel
