#include "http/ieproxy.h"

#include <map>
#include <mutex>

#include "base/console.h"
#include "base/exception.h"
#include "base/stringwriter.h"
#include "http/curlsession.h"
#include "http/pacevaluator.h"
#include "http/uri.h"

namespace tessel {
namespace http {
namespace {

void trace(const String& text) {
    log(0, "IEProxy", "getIEProxy", text);
}

bool pointsAtThisMachine(const String& text) {
    return text.find(String("localhost")) != String::npos ||
           text.find(String("127.0.0.1")) != String::npos ||
           text.find(String("127.0.0.2")) != String::npos;
}

// The host compared with the bypass list: the authority without user information, cut at
// its first ":".
String bypassHost(const String& url) {
    return Uri(url).getHostAndPort().before(':');
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

bool bypassed(const String& url, const String& exceptions) {
    String host = bypassHost(url);
    trace("serverFQDN=" + host + " Exceptions=" + exceptions);
    String hostLower = host.toLower();
    bool matched = false;
    forEachPiece(exceptions, ';', [&](String entry) {
        bool leading = !entry.isEmpty() && entry[0] == '*';
        if (leading)
            entry = entry.substring(1);
        bool trailing = entry.endsWith("*");
        if (trailing)
            entry = entry.substring(0, entry.length() - 1);
        String lower = entry.toLower();
        if (leading && trailing) {
            matched = hostLower.find(lower) != String::npos;
        } else if (leading) {
            matched = hostLower.endsWith(lower);
        } else if (trailing) {
            matched = hostLower.startsWith(lower);
        }
        if (matched)
            return false;
        if (entry.find('*') != String::npos) {
            trace("Exception with wildcards (*) in the middle are not supported: " +
                  String(leading ? "*" : "") + entry + String(trailing ? "*" : ""));
            return true;
        }
        matched = entry == host;
        return !matched;
    });
    return matched;
}

bool fixedProxy(Proxy& proxy, const String& server) {
    if (server.find('=') == String::npos) {
        if (pointsAtThisMachine(server))
            return false;
        uint32_t scheme = server.find(String("://"));
        String address = scheme == String::npos ? server : server.substring(scheme + 3);
        trace("proxy: single HTTPS: " + address);
        proxy.setType(Proxy::kHttps);
        proxy.setAddress(address);
        return true;
    }
    bool found = false;
    forEachPiece(server, ';', [&](const String& entry) {
        String key = entry.before('=');
        String value = entry.after('=', true);
        if (pointsAtThisMachine(value))
            return true;
        uint16_t type;
        if (key == "https") {
            trace("proxy: HTTPS: " + value);
            type = Proxy::kHttps;
        } else if (key == "socks4") {
            trace("proxy: SOCKS4: " + value);
            type = Proxy::kSocks4;
        } else if (key == "socks5") {
            trace("proxy: SOCKS5: " + value);
            type = Proxy::kSocks5;
        } else {
            return true;
        }
        proxy.setType(type);
        proxy.setAddress(value);
        found = true;
        return false;
    });
    return found;
}

// --- proxy scripts ---------------------------------------------------------------------

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
enum class Access { kNoProxy, kNamed, kNothing };

Access readAnswer(const String& answer, String& named) {
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
        return Access::kNoProxy;
    return named.isEmpty() ? Access::kNothing : Access::kNamed;
}

bool scriptProxy(Proxy& proxy, const String& url, const String& address) {
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
    String named;
    switch (readAnswer(answer, named)) {
        case Access::kNoProxy:
            trace("no proxy");
            return true;
        case Access::kNamed:
            if (pointsAtThisMachine(named))
                break;
            trace("named proxy: " + named);
            proxy.setType(Proxy::kHttps);
            proxy.setAddress(named.before(';'));
            return true;
        case Access::kNothing:
            break;
    }
    trace("cannot find proxy information");
    return false;
}

}  // namespace

bool IEProxy::getIEProxy(Proxy& proxy, const String& url) {
    return getIEProxy(proxy, url, SystemProxySettings::recent());
}

bool IEProxy::getIEProxy(Proxy& proxy, const String& url, const SystemProxySettings& settings) {
    if (!settings.readable) {
        trace("cannot read the system proxy settings");
        return false;
    }
    if (!settings.proxyEnable) {
        trace("cannot read the key ProxyEnable");
        return false;
    }
    if (*settings.proxyEnable == 1) {
        if (!settings.proxyServer) {
            trace("cannot read the key ProxyServer");
            return false;
        }
        if (settings.proxyOverride && bypassed(url, *settings.proxyOverride))
            return true;
        return fixedProxy(proxy, *settings.proxyServer);
    }
    if (!settings.autoConfigUrl) {
        trace("cannot read the pac url address");
        return true;
    }
    return scriptProxy(proxy, url, *settings.autoConfigUrl);
}

void IEProxy::cacheScript(const String& address, const String& script) {
    std::lock_guard<std::mutex> lock(g_scriptsLock);
    g_scripts[address.copy()] = script.copy();
}

void IEProxy::clearScriptCache() {
    std::lock_guard<std::mutex> lock(g_scriptsLock);
    g_scripts.clear();
}

void IEProxy::setScriptLimits(const PacLimits& limits) {
    std::lock_guard<std::mutex> lock(g_scriptsLock);
    g_limits = limits;
}

}  // namespace http
}  // namespace tessel
