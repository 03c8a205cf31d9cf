// Proxy auto-config scripts: PacScript::evaluate of arbitrary scripts with tight bounds (a
// short running time, a small heap) and a resolver that asks nobody, then the glob helper
// against a plain reference. The input is the script, a zero byte, the URL, a zero byte and
// the host (the URL and host of an ordinary request when missing).
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "http/pacscript.h"

using tessel::String;
using tessel::http::PacLimits;
using tessel::http::PacScript;

namespace {

// Two names resolve, nothing else; never a question to the network.
class FixedResolver : public tessel::http::PacResolver {
public:
    String resolve(const String& host) override {
        if (host == "intranet.test")
            return "10.9.8.7";
        if (host == "www.example.com")
            return "93.184.216.34";
        return String();
    }
    String myIpAddress() override { return "192.168.1.20"; }
};

// "*" any run of bytes, "?" any one byte, everything else itself.
bool referenceGlob(const char* text, size_t textLength, const char* pattern, size_t patternLength) {
    size_t t = 0, p = 0, star = std::string::npos, mark = 0;
    while (t < textLength) {
        if (p < patternLength && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++t;
            ++p;
        } else if (p < patternLength && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < patternLength && pattern[p] == '*')
        ++p;
    return p == patternLength;
}

PacLimits limits() {
    PacLimits l;
    l.maxScriptBytes = 64 * 1024;
    l.maxHeapBytes = 4 * 1024 * 1024;
    l.timeoutMilliseconds = 100;
    l.nowMilliseconds = 1704285015000;  // a Wednesday, 12:30:15 UTC
    return l;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexlan::fuzz::quietLog();
    static FixedResolver resolver;
    PacScript::setResolver(&resolver);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto* end = data + size;
    const auto* zero = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const uint8_t* scriptEnd = zero ? zero : end;
    vexlan::fuzz::Input script(data, static_cast<size_t>(scriptEnd - data));
    String url = "http://www.example.com/x";
    String host = "www.example.com";
    vexlan::fuzz::Input urlInput(data, 0), hostInput(data, 0);
    if (zero) {
        const uint8_t* from = zero + 1;
        const auto* second = static_cast<const uint8_t*>(std::memchr(from, 0, end - from));
        urlInput = vexlan::fuzz::Input(from, static_cast<size_t>((second ? second : end) - from));
        url = urlInput.string();
        if (second) {
            hostInput = vexlan::fuzz::Input(second + 1, static_cast<size_t>(end - second - 1));
            host = hostInput.string();
        }
    }

    static const PacLimits bounds = limits();
    String answer = "(untouched)";
    PacScript::Result result = PacScript::evaluate(script.string(), url, host, answer, bounds);
    FUZZ_CHECK(result != PacScript::Result::kNoEngine);
    if (result == PacScript::Result::kNoAnswer)
        FUZZ_CHECK(answer == "(untouched)");
    if (result == PacScript::Result::kAnswer)
        FUZZ_CHECK(answer.length() <= 64 * 1024);

    // The glob helper: the URL as text, the host as pattern.
    FUZZ_CHECK(PacScript::shExpMatch(url, host) ==
               referenceGlob(url.data(), url.length(), host.data(), host.length()));
    return 0;
}
