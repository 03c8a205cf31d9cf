// Proxy auto-config scripts evaluated in a separate process (the vexlan-pac-eval program, see
// PacChild::program for where it is found), so that a script stuck inside one long built-in
// call, where the engine's own time check never runs, is killed at its limit instead of
// holding up the lookup and burning CPU.
//
// The process runs PacScript::run; its DNS helpers and alert() come back over the socket and
// are answered here by PacScript::resolver(), so a resolver that tests install still answers.
// One process that finished in time is kept for the next evaluation (starting one costs more
// than a short script); one that overran is killed and waited for, and the next evaluation
// starts a new one.
#pragma once

#include <cstdint>

#include "http/pacscript.h"

namespace tessel {
namespace http {

class PacEvaluator {
public:
    // Time given past the script's limit before the process is killed: the process stops an
    // ordinary endless loop itself (and stays usable), which it needs a moment to report.
    static constexpr uint32_t kGraceMilliseconds = 50;

    // The contract of PacScript::evaluate: the answer of FindProxyForURL(url, host), kNoAnswer
    // (reason logged at TRACE) for every failure of the script or of the process, kNoEngine
    // when the program cannot be started. Returns within the time limit plus the grace, save
    // for a name lookup that the resolver takes longer to answer. Thread-safe.
    static PacScript::Result evaluate(const String& script, const String& url, const String& host,
                                      String& answer, const PacLimits& limits = PacLimits());

    // The process of the latest evaluation of this process, for tests; 0 before any.
    static int64_t lastProcessId();
};

}  // namespace http
}  // namespace tessel
