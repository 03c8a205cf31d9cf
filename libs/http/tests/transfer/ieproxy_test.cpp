// Proxy discovery with a proxy auto-config script served over loopback, and a transfer
// through the proxy that the script names.
#include "http/ieproxy.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "http/curlsession.h"
#include "sandbox.h"
#include "servers.h"
#include "session.h"

namespace {

using tessel::Buffer;
using tessel::Proxy;
using tessel::String;
using tessel::http::CurlSession;
using tessel::http::IEProxy;
using tessel::http::PacLimits;
using tessel::http::RequestInfo;
using tessel::http::SystemProxySettings;
using vexlan::testing::HttpsServer;
using vexlan::testing::LogCapture;

SystemProxySettings scriptAt(const std::string& address) {
    SystemProxySettings settings;
    settings.proxyEnable = 0u;
    settings.autoConfigUrl = String::copy(address);
    return settings;
}

// Names resolve without asking any DNS server.
class LoopbackResolver : public tessel::http::PacResolver {
public:
    String resolve(const String& host) override {
        return host == "build.corp.test" ? String("10.0.0.7") : String();
    }
    String myIpAddress() override { return "10.0.0.2"; }
};

class IEProxyScriptServer : public ::testing::Test {
protected:
    void SetUp() override {
        IEProxy::clearScriptCache();
        tessel::http::PacScript::setResolver(&m_resolver);
    }
    void TearDown() override {
        tessel::http::PacScript::setResolver(nullptr);
        IEProxy::clearScriptCache();
        IEProxy::setScriptLimits(PacLimits());
    }

    size_t scriptFetches(const std::string& name) {
        size_t n = 0;
        for (const std::string& r : m_pacServer.requests()) {
            if (r.find("\"path\": \"/files/" + name + "\"") != std::string::npos)
                ++n;
        }
        return n;
    }

    LoopbackResolver m_resolver;
    HttpsServer m_pacServer{false};  // plain HTTP, as proxy scripts usually are
};

TEST_F(IEProxyScriptServer, FollowsTheRulesOfAServedScript) {
    m_pacServer.addFile("proxy.pac", R"JS(
        function FindProxyForURL(url, host) {
            if (isPlainHostName(host) || dnsDomainIs(host, ".intranet.test"))
                return "DIRECT";
            if (isInNet(host, "10.0.0.0", "255.0.0.0"))
                return "DIRECT";
            if (shExpMatch(url, "https://*.example.com/*"))
                return "PROXY 127.0.0.3:3128; DIRECT";
            return "PROXY fallback.test:8080; PROXY other.test:8080";
        })JS");
    // The variables that libcurl would otherwise honour while fetching the script.
    setenv("http_proxy", "http://127.0.0.1:1", 1);
    setenv("all_proxy", "http://127.0.0.1:1", 1);
    SystemProxySettings settings = scriptAt(m_pacServer.url("/files/proxy.pac"));

    const struct {
        const char* url;
        bool result;
        const char* expected;  // type name and address, or "untouched"
    } cases[] = {
        {"https://wiki/page", true, "untouched"},
        {"https://gw.intranet.test/", true, "untouched"},
        {"https://10.1.2.3:8443/", true, "untouched"},
        {"https://build.corp.test/", true, "untouched"},
        {"https://www.example.com/start", true, "https 127.0.0.3:3128"},
        {"https://gw.elsewhere.test/", true, "https fallback.test:8080"},
    };
    for (const auto& c : cases) {
        Proxy proxy(Proxy::kNone, "before");
        EXPECT_EQ(IEProxy::getIEProxy(proxy, c.url, settings), c.result) << c.url;
        std::string got = proxy.address() == "before" ? "untouched"
                                                      : Proxy::typeName(proxy.type()).toStd() +
                                                            " " + proxy.address().toStd();
        EXPECT_EQ(got, c.expected) << c.url;
    }
    unsetenv("http_proxy");
    unsetenv("all_proxy");
    // Fetched once, directly, and kept.
    EXPECT_EQ(scriptFetches("proxy.pac"), 1u);
}

TEST_F(IEProxyScriptServer, AMissingOrEndlessScriptGivesNoAnswer) {
    m_pacServer.addFile("endless.pac", "function FindProxyForURL(url, host) { for (;;) {} }");
    // Larger than the engine would take: the transfer stops once the limit is passed.
    m_pacServer.addFile("huge.pac", "function FindProxyForURL(url, host) { return 'DIRECT'; }\n" +
                                        std::string(4 * 1024 * 1024, '/') + "\n");
    PacLimits limits;
    limits.timeoutMilliseconds = 300;
    limits.maxScriptBytes = 64 * 1024;
    IEProxy::setScriptLimits(limits);
    for (const char* name : {"missing.pac", "endless.pac", "huge.pac"}) {
        LogCapture log;
        Proxy proxy;
        EXPECT_FALSE(IEProxy::getIEProxy(proxy, "https://gw.example/",
                                         scriptAt(m_pacServer.url(std::string("/files/") + name))))
            << name;
        EXPECT_TRUE(log.contains("TRACE IEProxy.getIEProxy cannot load proxy from url")) << name;
        if (std::string(name) == "huge.pac") {
            bool aborted = false;  // a write error, not a whole download refused afterwards
            for (const std::string& entry : log.entries()) {
                if (entry.find("ERROR CurlEasyWrapper.request ") == 0 &&
                    entry.find("(#23)") != std::string::npos) {
                    aborted = true;
                }
            }
            EXPECT_TRUE(aborted);
        }
    }
    // A script that could not be fetched is asked for again next time.
    Proxy proxy;
    IEProxy::getIEProxy(proxy, "https://gw.example/",
                        scriptAt(m_pacServer.url("/files/missing.pac")));
    EXPECT_EQ(scriptFetches("missing.pac"), 2u);
}

// What the client's session does: the system's proxy for the URL with the stored credentials.
class DiscoveringSession : public CurlSession {
public:
    SystemProxySettings settings;
    tessel::Credentials credentials;

    bool verifyCertificate(const String&) override { return false; }
    Proxy proxyFor(const String& url) override {
        Proxy proxy;
        IEProxy::getIEProxy(proxy, url, settings);
        proxy.setCredentials(credentials);
        return proxy;
    }
};

TEST_F(IEProxyScriptServer, ATransferGoesThroughTheProxyTheScriptNames) {
    vexlan::testing::SquidProxy squid("vexlan", "pw");
    HttpsServer target;
    target.addFile("a.bin", "via discovery\n");
    m_pacServer.addFile("squid.pac", "function FindProxyForURL(url, host) { return 'PROXY " +
                                         squid.address() + "'; }");
    DiscoveringSession session;
    session.settings = scriptAt(m_pacServer.url("/files/squid.pac"));
    session.credentials.setLogin("vexlan");
    session.credentials.setPassword("pw");

    RequestInfo info;
    Buffer body;
    ASSERT_TRUE(CurlSession::requestToBuffer(&info, session,
                                             String::copy(target.url("/files/a.bin")), body))
        << info.toString().toStd() << "\n"
        << squid.log();
    EXPECT_EQ(vexlan::testing::text(body), "via discovery\n");

    // The same through a fixed proxy of the settings.
    SystemProxySettings fixed;
    fixed.proxyEnable = 1u;
    fixed.proxyServer = String::copy("https=" + squid.address());
    session.settings = fixed;
    body.clear();
    ASSERT_TRUE(CurlSession::requestToBuffer(&info, session,
                                             String::copy(target.url("/files/a.bin")), body))
        << info.toString().toStd();
    EXPECT_EQ(vexlan::testing::text(body), "via discovery\n");
}

}  // namespace
