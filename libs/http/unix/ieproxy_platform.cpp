// Proxy scripts evaluated by our own engine (PacEvaluator): fetched directly once per address
// and kept for the life of the process.
#include "http/ieproxy_platform.h"

#include <map>
#include <mutex>

#include "base/exception.h"
#include "base/stringwriter.h"
#include "http/curlsession.h"
#include "http/ieproxy.h"
#include "http/pacevaluator.h"
#include "http/textpieces.h"
#include "http/uri.h"

namespace tessel {
namespace http {
namespace detail {
namespace {

// The host handed to FindProxyForURL: IPv6 literals lose their brackets.
String scriptHost(const String& url) {
    String authority = Uri(url).getHostAndPort();
    if (authority.startsWith("[")) {
        uint32_t close = authority.find(']');
        return close == String::npos ? authority.substring(1) : authority.substring(1, close - 1);
    }
    return authority.before(':');
}

std::mutex g_scriptsLock;
std::map<String, String> g_scripts;

// Collects a script, refusing (and so aborting the transfer) beyond the size that could
// ever be evaluated.
class ScriptWriter : public StringWriter {
public:
    ScriptWriter(String& target, uint32_t cap)
        : StringWriter(target), m_target(target), m_cap(cap) {}
    using StringWriter::write;
    void write(const void* data, int len) override {
        if (len < 0 || static_cast<uint32_t>(len) > m_cap - m_target.length()) {
            TESSEL_THROW(EFile);
        }
        StringWriter::write(data, len);
    }

private:
    String& m_target;
    uint32_t m_cap;
};

// Fetches the script directly: the base session checks certificates and never uses a proxy
// (not even one named by the environment), so fetching cannot ask for the proxy again.
bool fetchScript(const String& address, uint32_t maxBytes, String& script) {
    static CurlSession* session = [] {
        auto* s = new CurlSession();  // lives as long as the process
        s->setTimeouts(10, 10);
        // Scripts are commonly served over plain HTTP; nothing but HTTP(S) is fetched.
        s->setProtocols(CurlEasyWrapper::Protocols::kHttpOrHttps);
        return s;
    }();
    String body;
    ScriptWriter writer(body, maxBytes);
    RequestInfo info;
    if (!CurlSession::requestToFile(&info, *session, address, writer) || info.statusCode() != 200) {
        return false;
    }
    script = body;
    return true;
}

bool scriptFor(const String& address, uint32_t maxBytes, String& script) {
    {
        std::lock_guard<std::mutex> lock(g_scriptsLock);
        auto it = g_scripts.find(address);
        if (it != g_scripts.end()) {
            script = it->second;
            return true;
        }
    }
    if (!fetchScript(address, maxBytes, script))
        return false;
    std::lock_guard<std::mutex> lock(g_scriptsLock);
    g_scripts.emplace(address.copy(), script);
    return true;
}

// The script's answer as an access type: DIRECT first means no proxy; PROXY and HTTPS
// entries form the named list; SOCKS entries are skipped; anything else finds nothing.
ScriptAccess readAnswer(const String& answer, String& named) {
    bool directFirst = false;
    bool decided = false;
    forEachPiece(answer, ';', [&](const String& raw) {
        String entry = raw.trim();
        if (entry.isEmpty())
            return true;
        uint32_t blank = entry.findFirstOf(" \t");
        String keyword = (blank == String::npos ? entry : entry.substring(0, blank)).toLower();
        String address = blank == String::npos ? String() : entry.substring(blank + 1).trim();
        if (keyword == "direct") {
            if (!decided)
                directFirst = true;
            decided = true;
        } else if ((keyword == "proxy" || keyword == "https") && !address.isEmpty()) {
            if (!decided)
                decided = true;
            if (!directFirst) {
                if (!named.isEmpty())
                    named.append(';');
                named.append(address);
            }
        }
        return true;
    });
    if (directFirst || answer.trim().isEmpty())
        return ScriptAccess::kNoProxy;
    return named.isEmpty() ? ScriptAccess::kNothing : ScriptAccess::kNamed;
}

}  // namespace

const char* unreadableProxySettingsText() {
    return "cannot read the system proxy settings";
}

ScriptAnswer evaluateProxyScript(const String& url, const String& address,
                                 const PacLimits& limits) {
    ScriptAnswer result;
    String script;
    if (!scriptFor(address, limits.maxScriptBytes, script)) {
        result.failure = "cannot load proxy from url";
        return result;
    }
    String answer;
    switch (PacEvaluator::evaluate(script, url, scriptHost(url), answer, limits)) {
        case PacScript::Result::kNoEngine:
            result.failure = "cannot start the proxy script engine";
            return result;
        case PacScript::Result::kNoAnswer:
            result.failure = "cannot load proxy from url";
            return result;
        case PacScript::Result::kAnswer:
            break;
    }
    result.access = readAnswer(answer, result.named);
    return result;
}

}  // namespace detail

void IEProxy::cacheScript(const String& address, const String& script) {
    std::lock_guard<std::mutex> lock(detail::g_scriptsLock);
    detail::g_scripts[address.copy()] = script.copy();
}

void IEProxy::clearScriptCache() {
    std::lock_guard<std::mutex> lock(detail::g_scriptsLock);
    detail::g_scripts.clear();
}

}  // namespace http
}  // namespace tessel
