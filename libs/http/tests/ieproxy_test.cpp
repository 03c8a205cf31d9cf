#include "http/ieproxy.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "sandbox.h"

namespace {

using tessel::Proxy;
using tessel::String;
using tessel::http::IEProxy;
using tessel::http::PacLimits;
using tessel::http::SystemProxySettings;

std::optional<String> opt(const char* text) {
    return text ? std::optional<String>(String(text)) : std::nullopt;
}

SystemProxySettings settings(std::optional<uint32_t> enable, const char* server,
                             const char* bypass = nullptr, const char* pac = nullptr) {
    SystemProxySettings s;
    s.proxyEnable = enable;
    s.proxyServer = opt(server);
    s.proxyOverride = opt(bypass);
    s.autoConfigUrl = opt(pac);
    return s;
}

// What the log says when the system's settings cannot be read.
#ifdef _WIN32
const char* const kUnreadableText = "cannot open Internet Explorer key in register database";
#else
const char* const kUnreadableText = "cannot read the system proxy settings";
#endif

struct Case {
    const char* name;
    SystemProxySettings settings;
    const char* url;
    bool result;
    // "untouched", or the type name and address that the proxy must hold.
    const char* expected;
    std::vector<const char*> logged;  // texts of "TRACE IEProxy.getIEProxy <text>" lines
};

void check(const Case& c) {
    vexlan::testing::LogCapture log;
    Proxy proxy(Proxy::kNone, "before");
    EXPECT_EQ(IEProxy::getIEProxy(proxy, c.url, c.settings), c.result) << c.name;
    std::string got = proxy.type() == Proxy::kNone && proxy.address() == "before"
                          ? "untouched"
                          : Proxy::typeName(proxy.type()).toStd() + " " + proxy.address().toStd();
    EXPECT_EQ(got, c.expected) << c.name;
    for (const char* text : c.logged) {
        EXPECT_TRUE(log.contains(std::string("TRACE IEProxy.getIEProxy ") + text))
            << c.name << ": missing log line '" << text << "'";
    }
}

TEST(IEProxyFixed, ChoosesTheProxyOfTheSettings) {
    const Case cases[] = {
        {"unreadable source",
         [] {
             SystemProxySettings s;
             s.readable = false;
             return s;
         }(),
         "https://gw.example/",
         false,
         "untouched",
         {kUnreadableText}},
        {"no ProxyEnable",
         settings(std::nullopt, nullptr),
         "https://gw.example/",
         false,
         "untouched",
         {"cannot read the key ProxyEnable"}},
        {"no ProxyServer",
         settings(1, nullptr),
         "https://gw.example/",
         false,
         "untouched",
         {"cannot read the key ProxyServer"}},
        {"single proxy",
         settings(1, "proxy.example:3128"),
         "https://gw.example/",
         true,
         "https proxy.example:3128",
         {"proxy: single HTTPS: proxy.example:3128"}},
        {"single proxy with scheme",
         settings(1, "http://proxy.example:3128"),
         "https://gw.example/",
         true,
         "https proxy.example:3128",
         {}},
        {"single localhost",
         settings(1, "localhost:3128"),
         "https://gw.example/",
         false,
         "untouched",
         {}},
        {"single 127.0.0.1",
         settings(1, "127.0.0.1:3128"),
         "https://gw.example/",
         false,
         "untouched",
         {}},
        {"single 127.0.0.2",
         settings(1, "http://127.0.0.2:3128"),
         "https://gw.example/",
         false,
         "untouched",
         {}},
        {"http and ftp only",
         settings(1, "http=h.example:80;ftp=f.example:21"),
         "https://gw.example/",
         false,
         "untouched",
         {}},
        {"socks without version",
         settings(1, "socks=s.example:1080"),
         "https://gw.example/",
         false,
         "untouched",
         {}},
        {"socks skipped, https used",
         settings(1, "socks=s.example:1;https=h.example:2"),
         "https://gw.example/",
         true,
         "https h.example:2",
         {"proxy: HTTPS: h.example:2"}},
        {"loopback entry skipped",
         settings(1, "https=127.0.0.1:1;socks5=s.example:1080"),
         "https://gw.example/",
         true,
         "socks5 s.example:1080",
         {"proxy: SOCKS5: s.example:1080"}},
        {"socks4",
         settings(1, "socks4=s.example:1080;https=h.example:2"),
         "https://gw.example/",
         true,
         "socks4 s.example:1080",
         {"proxy: SOCKS4: s.example:1080"}},
        {"entry without =",
         settings(1, "bogus;https=h.example:3"),
         "https://gw.example/",
         true,
         "https h.example:3",
         {}},
        {"keys compared exactly",
         settings(1, "HTTPS=h.example:3"),
         "https://gw.example/",
         false,
         "untouched",
         {}},
    };
    for (const Case& c : cases)
        check(c);
}

TEST(IEProxyBypass, MatchesWildcardsAtEitherEndOnly) {
    const char* server = "https=proxy.example:3128";
    const Case cases[] = {
        {"leading wildcard, any case",
         settings(1, server, "*.example.com"),
         "https://WWW.Example.COM/x",
         true,
         "untouched",
         {"serverFQDN=WWW.Example.COM Exceptions=*.example.com"}},
        {"leading wildcard, other domain",
         settings(1, server, "*.example.com"),
         "https://www.example.org/x",
         true,
         "https proxy.example:3128",
         {}},
        {"trailing wildcard",
         settings(1, server, "other;intranet.*"),
         "https://INTRANET.corp/",
         true,
         "untouched",
         {}},
        {"both wildcards",
         settings(1, server, "*corp*"),
         "https://a.corp.b/",
         true,
         "untouched",
         {}},
        {"wildcard in the middle",
         settings(1, server, "ex*ample.com"),
         "https://exAMPLE.com/",
         true,
         "https proxy.example:3128",
         {"Exception with wildcards (*) in the middle are not supported: ex*ample.com"}},
        {"wildcard in the middle, with ends",
         settings(1, server, "*a*b*;*c*d"),
         "https://zzz/",
         true,
         "https proxy.example:3128",
         {"Exception with wildcards (*) in the middle are not supported: *a*b*",
          "Exception with wildcards (*) in the middle are not supported: *c*d"}},
        {"exact entry is case-sensitive",
         settings(1, server, "Host.example"),
         "https://host.example/",
         true,
         "https proxy.example:3128",
         {}},
        {"exact entry",
         settings(1, server, "host.example"),
         "https://host.example/",
         true,
         "untouched",
         {}},
        {"user information and port are not the host",
         settings(1, server, "intranet"),
         "https://user:pw@intranet:8443/x",
         true,
         "untouched",
         {"serverFQDN=intranet Exceptions=intranet"}},
        {"star alone bypasses everything",
         settings(1, server, "*"),
         "https://any.example/",
         true,
         "untouched",
         {}},
        {"bypass before the loopback check",
         settings(1, "127.0.0.1:1", "*.example"),
         "https://a.example/",
         true,
         "untouched",
         {}},
    };
    for (const Case& c : cases)
        check(c);
}

#ifndef _WIN32
// Proxy scripts through our own engine, and the settings of GNOME or the environment: the
// Windows build has WinHTTP and the registry instead (tests in windows/).
class IEProxyScript : public ::testing::Test {
protected:
    void SetUp() override { IEProxy::clearScriptCache(); }
    void TearDown() override {
        IEProxy::clearScriptCache();
        IEProxy::setScriptLimits(PacLimits());
    }

    // Settings whose script (cached under an address of its own) runs `body`.
    SystemProxySettings withScript(const char* body) {
        std::string script = std::string("function FindProxyForURL(url, host) { ") + body + " }";
        m_addresses.push_back("http://pac.test/" + std::to_string(m_addresses.size()) + ".pac");
        IEProxy::cacheScript(String::copy(m_addresses.back()), String::copy(script));
        return settings(0, nullptr, nullptr, m_addresses.back().c_str());
    }

    std::deque<std::string> m_addresses;
};

TEST_F(IEProxyScript, MapsTheScriptAnswer) {
    const Case cases[] = {
        {"no script address",
         settings(0, nullptr),
         "https://gw.example/",
         true,
         "untouched",
         {"cannot read the pac url address"}},
        {"several proxies: the first",
         withScript("return 'PROXY p1.test:1; PROXY p2.test:2; DIRECT';"),
         "https://gw.example/",
         true,
         "https p1.test:1",
         {"named proxy: p1.test:1;p2.test:2"}},
        {"direct",
         withScript("return 'DIRECT';"),
         "https://gw.example/",
         true,
         "untouched",
         {"no proxy"}},
        {"direct before a proxy",
         withScript("return 'DIRECT; PROXY p.test:1';"),
         "https://gw.example/",
         true,
         "untouched",
         {"no proxy"}},
        {"HTTPS entry",
         withScript("return 'HTTPS p.test:443';"),
         "https://gw.example/",
         true,
         "https p.test:443",
         {"named proxy: p.test:443"}},
        {"socks skipped",
         withScript("return 'SOCKS s.test:1; PROXY p.test:2';"),
         "https://gw.example/",
         true,
         "https p.test:2",
         {}},
        {"socks only",
         withScript("return 'SOCKS5 s.test:1';"),
         "https://gw.example/",
         false,
         "untouched",
         {"cannot find proxy information"}},
        {"loopback proxy refused",
         withScript("return 'PROXY 127.0.0.2:3128';"),
         "https://gw.example/",
         false,
         "untouched",
         {"cannot find proxy information"}},
        {"script sees url and host",
         withScript("return host == 'gw.example' && url == 'https://u@gw.example:8443/a' ? "
                    "'PROXY right.test:1' : 'PROXY wrong.test:1';"),
         "https://u@gw.example:8443/a",
         true,
         "https right.test:1",
         {}},
        {"script error",
         withScript("return undefinedFunction();"),
         "https://gw.example/",
         false,
         "untouched",
         {"cannot load proxy from url"}},
        // Scripts debugged with alert() still name their proxy.
        {"alert",
         withScript("alert('proxy for ' + host); return 'PROXY p.test:1';"),
         "https://gw.example/",
         true,
         "https p.test:1",
         {"named proxy: p.test:1"}},
    };
    for (const Case& c : cases)
        check(c);
}

TEST_F(IEProxyScript, AnEndlessScriptIsStopped) {
    PacLimits limits;
    limits.timeoutMilliseconds = 200;
    IEProxy::setScriptLimits(limits);
    check({"endless",
           withScript("for (;;) {}"),
           "https://gw.example/",
           false,
           "untouched",
           {"cannot load proxy from url"}});
    // Stuck in one built-in call, where the engine never checks its clock: the evaluator
    // process is killed.
    check({"runaway built-in",
           withScript("return String(Array.prototype.indexOf.call({length: 1e9}, 1));"),
           "https://gw.example/",
           false,
           "untouched",
           {"cannot load proxy from url"}});
}

TEST_F(IEProxyScript, AnUnreachableScriptGivesNoAnswer) {
    check({"unreachable",
           settings(0, nullptr, nullptr, "http://127.0.0.1:1/none.pac"),
           "https://gw.example/",
           false,
           "untouched",
           {"cannot load proxy from url"}});
}

}  // namespace

namespace {

// The settings of the running user: with GNOME's defaults (mode "none"), the environment.
TEST(IEProxyCurrent, ReadsTheUsersSettings) {
    const char* names[] = {"https_proxy", "HTTPS_PROXY", "all_proxy",        "ALL_PROXY",
                           "no_proxy",    "NO_PROXY",    "GSETTINGS_BACKEND"};
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
    for (const char* name : names) {
        const char* value = getenv(name);
        saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        unsetenv(name);
    }
    setenv("GSETTINGS_BACKEND", "memory", 1);
    setenv("https_proxy", "http://proxy.example:3128", 1);
    setenv("no_proxy", ".corp.example", 1);

    Proxy proxy;
    bool viaProxy = IEProxy::getIEProxy(proxy, "https://gw.example/");
    Proxy bypassed(Proxy::kNone, "before");
    bool direct = IEProxy::getIEProxy(bypassed, "https://gw.corp.example/");

    for (const auto& [name, value] : saved) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
    EXPECT_TRUE(viaProxy);
    EXPECT_EQ(proxy.type(), Proxy::kHttps);
    EXPECT_EQ(proxy.address(), "proxy.example:3128");
    EXPECT_TRUE(direct);
    EXPECT_EQ(bypassed.address(), "before");
}

#endif  // _WIN32

}  // namespace
