#include "http/pacevaluator.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "base/clock.h"
#include "base/console.h"
#include "http/pacchild.h"
#include "http/pacwire.h"

namespace tessel {
namespace http {
namespace {

void trace(const String& text) {
    log(0, "PacScript", "evaluate", text);
}

std::mutex g_idleLock;
std::unique_ptr<PacChild> g_idle;  // one process that finished in time, kept for reuse
std::atomic<int64_t> g_lastProcess{0};

std::unique_ptr<PacChild> takeIdle() {
    std::lock_guard<std::mutex> lock(g_idleLock);
    return std::move(g_idle);
}

// Keeps `child` unless one is kept already (concurrent lookups each had their own).
void keepIdle(std::unique_ptr<PacChild> child) {
    std::unique_ptr<PacChild> surplus;
    std::lock_guard<std::mutex> lock(g_idleLock);
    if (g_idle) {
        surplus = std::move(child);  // killed once the lock is released
    } else {
        g_idle = std::move(child);
    }
}

enum class Outcome {
    kDone,    // the process sent its result
    kLate,    // the deadline passed
    kBroken,  // the process ended or broke the protocol
};

struct Conversation {
    Conversation(PacChild& c, int64_t d) : child(c), deadline(d) {}
    PacChild& child;
    int64_t deadline;
    uint32_t questions = 0;
    uint32_t alerts = 0;
    PacScript::Result result = PacScript::Result::kNoAnswer;
    String text;    // the answer or the process's reason
    String broken;  // what went wrong with the process
};

Outcome fail(Conversation& c, const char* what) {
    if (monotonicMilliseconds() >= c.deadline)
        return Outcome::kLate;
    c.broken = what;
    return Outcome::kBroken;
}

bool answerQuestion(Conversation& c, pacwire::Decoder& in) {
    uint8_t what = 0;
    String name;
    if (!in.u8(what) || what > 1 || !in.text(name, pacwire::kMaxNameBytes) || !in.atEnd())
        return false;
    if (++c.questions > pacwire::kMaxQuestions)
        return false;
    PacResolver& resolver = PacScript::resolver();
    String address = what == 0 ? resolver.resolve(name) : resolver.myIpAddress();
    if (address.length() > pacwire::kMaxAddressBytes)
        address = String();
    pacwire::Encoder out;
    out.text(address);
    return c.child.write(out.frame(pacwire::kAddress), c.deadline);
}

Outcome converse(Conversation& c, const std::string& request) {
    if (!c.child.write(request, c.deadline))
        return fail(c, "the evaluator did not take the script");
    std::string payload;
    for (;;) {
        char header[pacwire::kHeaderBytes];
        if (!c.child.read(header, sizeof(header), c.deadline))
            return fail(c, "the evaluator ended");
        uint8_t kind = 0;
        uint32_t length = 0;
        pacwire::parseHeader(header, kind, length);
        if (length > pacwire::kMaxReplyPayload)
            return fail(c, "oversized message from the evaluator");
        payload.resize(length);
        if (length > 0 && !c.child.read(&payload[0], length, c.deadline)) {
            return fail(c, "the evaluator ended");
        }
        pacwire::Decoder in(payload.data(), payload.size());
        if (kind == pacwire::kQuestion) {
            if (!answerQuestion(c, in))
                return fail(c, "bad name lookup from the evaluator");
        } else if (kind == pacwire::kAlert) {
            String text;
            if (!in.text(text, PacScript::kMaxAlertBytes) || !in.atEnd() ||
                ++c.alerts > PacScript::kMaxAlerts) {
                return fail(c, "bad alert from the evaluator");
            }
            PacScript::resolver().alert(text);
        } else if (kind == pacwire::kResult) {
            uint8_t result = 0;
            if (!in.u8(result) || result > 2 || !in.text(c.text, PacScript::kMaxAnswerBytes) ||
                !in.atEnd()) {
                return fail(c, "bad result from the evaluator");
            }
            c.result = static_cast<PacScript::Result>(result);
            return Outcome::kDone;
        } else {
            return fail(c, "unknown message from the evaluator");
        }
    }
}

}  // namespace

int64_t PacEvaluator::lastProcessId() {
    return g_lastProcess.load();
}

PacScript::Result PacEvaluator::evaluate(const String& script, const String& url,
                                         const String& host, String& answer,
                                         const PacLimits& limits) {
    if (script.length() > limits.maxScriptBytes || script.length() > pacwire::kMaxScriptBytes) {
        trace("proxy script too large: " + String(script.length()) + " bytes");
        return PacScript::Result::kNoAnswer;
    }
    if (url.length() > pacwire::kMaxUrlBytes || host.length() > pacwire::kMaxHostBytes) {
        trace("proxy script failed: URL too long for the proxy script");
        return PacScript::Result::kNoAnswer;
    }
    int64_t started = monotonicMilliseconds();
    int64_t deadline = started + limits.timeoutMilliseconds + kGraceMilliseconds;
    pacwire::Encoder request;
    request.u32(limits.timeoutMilliseconds);
    request.u32(limits.maxHeapBytes);
    request.i64(limits.nowMilliseconds);
    request.text(script);
    request.text(url);
    request.text(host);
    std::string frame = request.frame(pacwire::kEvaluate);

    std::unique_ptr<PacChild> child = takeIdle();
    // A kept process may have ended meanwhile: then the request is tried once on a new one.
    for (bool kept = child != nullptr;; kept = false) {
        if (!child) {
            String error;
            child = PacChild::start(PacChild::program(), error);
            if (!child) {
                trace("cannot start the proxy script evaluator: " + error);
                return PacScript::Result::kNoEngine;
            }
        }
        g_lastProcess.store(child->processId());
        Conversation c(*child, deadline);
        Outcome outcome = converse(c, frame);
        if (outcome == Outcome::kBroken && kept && c.questions == 0 && c.alerts == 0) {
            child.reset();
            continue;
        }
        switch (outcome) {
            case Outcome::kDone:
                keepIdle(std::move(child));
                if (c.result == PacScript::Result::kAnswer) {
                    answer = c.text;
                } else if (c.result == PacScript::Result::kNoAnswer) {
                    trace("proxy script failed: " + c.text);
                }
                return c.result;
            case Outcome::kLate:
                child.reset();  // killed and waited for before the lookup returns
                trace("proxy script failed: timeout, the evaluator was stopped after " +
                      String(static_cast<uint32_t>(monotonicMilliseconds() - started)) + " ms");
                return PacScript::Result::kNoAnswer;
            case Outcome::kBroken:
                child.reset();
                trace("proxy script failed: " + c.broken);
                return PacScript::Result::kNoAnswer;
        }
    }
}

}  // namespace http
}  // namespace tessel
