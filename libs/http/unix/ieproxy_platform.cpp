// Proxy scripts evaluated by our own engine (PacEvaluator): fetched directly once per address
// and kept for the life of the process.
#include "http/ieproxy_platform.h"

#include <map>
#include <mutex>

#include "base/console.h"
#include "base/exception.h"
#include "base/stringwriter.h"
#include "http/curlsession.h"
#include "http/ieproxy.h"
#include "http/pacevaluator.h"
#include "http/uri.h"

namespace tessel {
namespace http {
namespace detail {
namespace {

void trace(const String& text) {
    log(0, "IEProxy", "getIEProxy", text);
}

// The host handed to FindProxyForURL: IPv6 literals lose their brackets.
String scriptHost(const String& url) {
    String authority = Uri(url).getHostAndPort();
    if (authority.startsWith("[")) {
        uint32_t close = authority.find(']');
        return close == String::npos ? authority.substring(1) : authority.substring(1, close - 1);
    }
    return authority.before(':');
}

// Splits `text` at `separator`, keeping empty pieces.
template <class F>
void forEachPiece(const String& text, char separator, F&& f) {
    uint32_t start = 0;
    for (;;) {
        uint32_t end = text.find(separator, start);
        if (end == String::npos) {
            f(text.substring(start));
            return;
        }
        if (!f(text.substring(start, end - start)))
            return;
        start = end + 1;
    }
}

std::mutex g_scriptsLock;
std::map<String, String> g_scripts;
PacLimits g_limits;

PacLimits currentLimits() {
    std::lock_guard<std::mutex> lock(g_scriptsLock);
    return g_limits;
}

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
bool fetchScript(const String& address, String& script) {
    static CurlSession* session = [] {
        auto* s = new CurlSession();  // lives as long as the process
        s->setTimeouts(10, 10);
        // Scripts are commonly served over plain HTTP; nothing but HTTP(S) is fetched.
        s->setProtocols(CurlEasyWrapper::Protocols::kHttpOrHttps);
        return s;
    }();
    String body;
    ScriptWriter writer(body, currentLimits().maxScriptBytes);
    RequestInfo info;
    if (!CurlSession::requestToFile(&info, *session, address, writer) || info.statusCode() != 200) {
        return false;
    }
    script = body;
    return true;
}

bool scriptFor(const String& address, String& script) {
    {
        std::lock_guard<std::mutex> lock(g_scriptsLock);
        auto it = g_scripts.find(address);
        if (it != g_scripts.end()) {
            script = it->second;
            return true;
        }
    }
    if (!fetchScript(address, script))
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

bool evaluateProxyScript(const String& url, const String& address, ScriptAccess& access,
                         String& named) {
    String script;
    if (!scriptFor(address, script)) {
        trace("cannot load proxy from url");
        return false;
    }
    String answer;
    switch (PacEvaluator::evaluate(script, url, scriptHost(url), answer, currentLimits())) {
        case PacScript::Result::kNoEngine:
            trace("cannot start the proxy script engine");
            return false;
        case PacScript::Result::kNoAnswer:
            trace("cannot load proxy from url");
            return false;
        case PacScript::Result::kAnswer:
            break;
    }
    access = readAnswer(answer, named);
    return true;
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

void IEProxy::setScriptLimits(const PacLimits& limits) {
    std::lock_guard<std::mutex> lock(detail::g_scriptsLock);
    detail::g_limits = limits;
}

}  // namespace http
}  // namespace tessel
