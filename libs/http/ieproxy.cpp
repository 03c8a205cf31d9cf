#include "http/ieproxy.h"

#include <mutex>

#include "base/console.h"
#include "http/ieproxy_platform.h"
#include "http/textpieces.h"
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

using detail::forEachPiece;

std::mutex g_limitsLock;
PacLimits g_limits;

PacLimits currentLimits() {
    std::lock_guard<std::mutex> lock(g_limitsLock);
    return g_limits;
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

bool scriptProxy(Proxy& proxy, const String& url, const String& address) {
    detail::ScriptAnswer answer = detail::evaluateProxyScript(url, address, currentLimits());
    if (answer.failure) {
        trace(answer.failure);
        return false;
    }
    const String& named = answer.named;
    switch (answer.access) {
        case detail::ScriptAccess::kDefault:
            trace("default proxy");
            return true;
        case detail::ScriptAccess::kNoProxy:
            trace("no proxy");
            return true;
        case detail::ScriptAccess::kNamed:
            if (pointsAtThisMachine(named))
                break;
            trace("named proxy: " + named);
            proxy.setType(Proxy::kHttps);
            proxy.setAddress(named.before(';'));
            return true;
        case detail::ScriptAccess::kNothing:
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
        trace(detail::unreadableProxySettingsText());
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

void IEProxy::setScriptLimits(const PacLimits& limits) {
    std::lock_guard<std::mutex> lock(g_limitsLock);
    g_limits = limits;
}

}  // namespace http
}  // namespace tessel
