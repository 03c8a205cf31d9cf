// Proxy discovery: the fixed proxy list and the bypass list of the system settings checked
// against a plain reference of the decision, a proxy script's answer taken through the
// script cache (never fetched), GNOME's listing and the environment turned into settings and
// decided on, and proxy type names. The input is fields separated by zero bytes:
//   url, ProxyServer, ProxyOverride, script answer, GNOME listing, https_proxy, all_proxy,
//   no_proxy, type name
// (missing fields are empty).
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/proxy.h"
#include "fuzz_support.h"
#include "http/ieproxy.h"
#include "http/pacscript.h"
#include "http/systemproxysettings.h"
#include "http/uri.h"

using tessel::Proxy;
using tessel::String;
using tessel::http::IEProxy;
using tessel::http::SystemProxySettings;

namespace {

// Where the script of the settings is found: it is always in the cache, never fetched.
const char kScriptAddress[] = "http://pac.fuzz.invalid/proxy.pac";

// Answers DNS questions without asking anyone.
class NoResolver : public tessel::http::PacResolver {
public:
    String resolve(const String&) override { return String(); }
    String myIpAddress() override { return "192.168.1.20"; }
};

bool pointsAtThisMachine(const std::string& text) {
    return text.find("localhost") != std::string::npos ||
           text.find("127.0.0.1") != std::string::npos ||
           text.find("127.0.0.2") != std::string::npos;
}

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        pieces.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos)
            return pieces;
        start = end + 1;
    }
}

// The bypass list: "*" may start and/or end an entry; a "*" elsewhere never matches; other
// entries are compared exactly (wildcard entries ignore ASCII case).
bool referenceBypassed(const std::string& host, const std::string& list) {
    const std::string hostLower = lower(host);
    for (std::string entry : split(list, ';')) {
        bool leading = !entry.empty() && entry[0] == '*';
        if (leading)
            entry.erase(0, 1);
        bool trailing = !entry.empty() && entry.back() == '*';
        if (trailing)
            entry.pop_back();
        const std::string entryLower = lower(entry);
        if (leading && trailing && hostLower.find(entryLower) != std::string::npos)
            return true;
        if (leading && !trailing && endsWith(hostLower, entryLower))
            return true;
        if (!leading && trailing && hostLower.compare(0, entryLower.size(), entryLower) == 0) {
            return true;
        }
        if (entry.find('*') != std::string::npos)
            continue;
        if (entry == host)
            return true;
    }
    return false;
}

struct Decision {
    bool result = false;
    bool set = false;  // the proxy was filled
    uint16_t type = Proxy::kNone;
    std::string address;
};

// One proxy for everything ("host:port", maybe after "scheme://"), or "key=value" entries of
// which the first https/socks4/socks5 one not on this machine is used.
Decision referenceFixed(const std::string& server) {
    Decision d;
    if (server.find('=') == std::string::npos) {
        if (pointsAtThisMachine(server))
            return d;
        size_t scheme = server.find("://");
        d.result = d.set = true;
        d.type = Proxy::kHttps;
        d.address = scheme == std::string::npos ? server : server.substr(scheme + 3);
        return d;
    }
    for (const std::string& entry : split(server, ';')) {
        size_t eq = entry.find('=');
        std::string key = entry.substr(0, eq);
        std::string value = eq == std::string::npos ? std::string() : entry.substr(eq + 1);
        if (pointsAtThisMachine(value))
            continue;
        uint16_t type;
        if (key == "https") {
            type = Proxy::kHttps;
        } else if (key == "socks4") {
            type = Proxy::kSocks4;
        } else if (key == "socks5") {
            type = Proxy::kSocks5;
        } else {
            continue;
        }
        d.result = d.set = true;
        d.type = type;
        d.address = value;
        return d;
    }
    return d;
}

// The script whose FindProxyForURL answers `answer`, every byte as an escape.
String scriptAnswering(const std::string& answer) {
    static const char kHex[] = "0123456789abcdef";
    std::string script = "function FindProxyForURL(url, host) { return \"";
    for (char c : answer) {
        auto b = static_cast<unsigned char>(c);
        script += "\\x";
        script += kHex[b >> 4];
        script += kHex[b & 15];
    }
    script += "\"; }";
    return String::copy(script);
}

// Runs the decision on `settings` (its script address replaced by the cached one) and checks
// what must hold whatever the settings: untouched on false, never a proxy on this machine.
void decide(const String& url, SystemProxySettings settings) {
    if (settings.autoConfigUrl)
        settings.autoConfigUrl = String(kScriptAddress);
    Proxy proxy(Proxy::kNone, "before");
    bool result;
    try {
        result = IEProxy::getIEProxy(proxy, url, settings);
    } catch (const tessel::http::UriComponentException&) {
        FUZZ_CHECK(proxy.type() == Proxy::kNone && proxy.address() == "before");
        return;
    }
    bool untouched = proxy.type() == Proxy::kNone && proxy.address() == "before";
    if (!result)
        FUZZ_CHECK(untouched);
    if (!untouched) {
        FUZZ_CHECK(proxy.type() <= Proxy::kHttps);
        FUZZ_CHECK(!pointsAtThisMachine(proxy.address().toStd()));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexlan::fuzz::quietLog();
    static NoResolver resolver;
    tessel::http::PacScript::setResolver(&resolver);
    tessel::http::PacLimits limits;
    limits.timeoutMilliseconds = 200;
    limits.maxHeapBytes = 8 * 1024 * 1024;
    limits.nowMilliseconds = 1704285015000;
    IEProxy::setScriptLimits(limits);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<vexlan::fuzz::Input> fields;
    size_t start = 0;
    for (size_t i = 0; i <= size && fields.size() < 9; ++i) {
        if (i == size || data[i] == 0) {
            fields.emplace_back(data + start, i - start);
            start = i + 1;
        }
    }
    while (fields.size() < 9)
        fields.emplace_back(data, 0);
    const String url = fields[0].string();
    const String server = fields[1].string();
    const String bypass = fields[2].string();

    // A fixed proxy list with its bypass list, against the reference.
    {
        SystemProxySettings settings;
        settings.proxyEnable = 1u;
        settings.proxyServer = server;
        settings.proxyOverride = bypass;
        std::string host;
        bool parsed = true;
        try {
            host = tessel::http::Uri(url).getHostAndPort().before(':').toStd();
        } catch (const tessel::http::UriComponentException&) {
            parsed = false;
        }
        Proxy proxy(Proxy::kNone, "before");
        try {
            bool result = IEProxy::getIEProxy(proxy, url, settings);
            FUZZ_CHECK(parsed);
            Decision expected;
            if (referenceBypassed(host, bypass.toStd())) {
                expected.result = true;
            } else {
                expected = referenceFixed(server.toStd());
            }
            FUZZ_CHECK(result == expected.result);
            if (expected.set) {
                FUZZ_CHECK(proxy.type() == expected.type);
                FUZZ_CHECK(proxy.address().toStd() == expected.address);
            } else {
                FUZZ_CHECK(proxy.type() == Proxy::kNone && proxy.address() == "before");
            }
        } catch (const tessel::http::UriComponentException&) {
            FUZZ_CHECK(!parsed);
        }
        // Without a bypass list nothing parses the address.
        settings.proxyOverride.reset();
        Decision expected = referenceFixed(server.toStd());
        Proxy plain(Proxy::kNone, "before");
        FUZZ_CHECK(IEProxy::getIEProxy(plain, url, settings) == expected.result);
        if (expected.set)
            FUZZ_CHECK(plain.address().toStd() == expected.address);
    }

    // The script's answer.
    {
        IEProxy::cacheScript(kScriptAddress, scriptAnswering(fields[3].string().toStd()));
        SystemProxySettings settings;
        settings.proxyEnable = 0u;
        settings.autoConfigUrl = String(kScriptAddress);
        decide(url, settings);
    }

    // GNOME's listing and the environment.
    SystemProxySettings gnome;
    if (SystemProxySettings::fromGnomeListing(fields[4].string(), gnome))
        decide(url, gnome);
    const String https = fields[5].string();
    const String all = fields[6].string();
    const String noProxy = fields[7].string();
    SystemProxySettings environment = SystemProxySettings::fromEnvironment([&](const char* name) {
        std::string n = name;
        if (n == "https_proxy")
            return https;
        if (n == "all_proxy")
            return all;
        if (n == "no_proxy")
            return noProxy;
        return String();
    });
    decide(url, environment);

    // Type names: the known ones set their type, any other text leaves the type as it is.
    const std::string name = fields[8].string().toStd();
    Proxy typed(Proxy::kSocks5, "x");
    typed.setType(fields[8].string());
    uint16_t expected = Proxy::kSocks5;
    if (name == "no-proxy" || name == "no" || name == "none")
        expected = Proxy::kNone;
    if (name == "socks4")
        expected = Proxy::kSocks4;
    if (name == "connect" || name == "https" || name == "http")
        expected = Proxy::kHttps;
    FUZZ_CHECK(typed.type() == expected);
    return 0;
}
