// Transfers through real proxies: squid (HTTP CONNECT with Basic authentication), microsocks
// (SOCKS5 with user and password) and dante (SOCKS4), each started by its test.
#include "http/curlwrapper.h"

#include <gtest/gtest.h>

#include <string>

#include "http/curlsession.h"
#include "servers.h"
#include "session.h"

namespace {

using tessel::Buffer;
using tessel::Proxy;
using tessel::String;
using tessel::http::CurlSession;
using tessel::http::RequestInfo;
using vexlan::testing::HttpsServer;
using vexlan::testing::TestSession;
using vexlan::testing::text;

Proxy proxy(uint16_t type, const std::string& address, const char* login, const char* password) {
    Proxy p(type, String::copy(address));
    p.credentials().setLogin(login);
    p.credentials().setPassword(password);
    return p;
}

class ThroughProxy : public ::testing::Test {
protected:
    void SetUp() override { m_server.addFile("a.bin", "through the proxy\n"); }

    bool fetch(const Proxy& p, const std::string& path, RequestInfo& info, Buffer& body) {
        m_session.setProxy(p);
        return CurlSession::requestToBuffer(&info, m_session, String::copy(m_server.url(path)),
                                            body);
    }

    HttpsServer m_server;
    TestSession m_session;
};

TEST_F(ThroughProxy, HttpConnectWithBasicAuthentication) {
    vexlan::testing::SquidProxy squid("vexlan", "s3cret:pass");
    RequestInfo info;
    Buffer body;
    ASSERT_TRUE(fetch(proxy(Proxy::kHttps, squid.address(), "vexlan", "s3cret:pass"),
                      "/files/a.bin", info, body))
        << info.toString().toStd() << "\n" << squid.log();
    EXPECT_EQ(text(body), "through the proxy\n");
    EXPECT_EQ(info.statusCode(), 200);

    // The proxy's "200 Connection established" is not the status of the reply.
    RequestInfo missing;
    body.clear();
    ASSERT_TRUE(fetch(proxy(Proxy::kHttps, squid.address(), "vexlan", "s3cret:pass"),
                      "/status/404", missing, body));
    EXPECT_EQ(missing.statusCode(), 404);
    EXPECT_EQ(missing.header().toString().toStd().rfind("HTTP/1.1 404", 0), 0u)
        << missing.header().toString().toStd();

    RequestInfo refused;
    body.clear();
    EXPECT_FALSE(fetch(proxy(Proxy::kHttps, squid.address(), "vexlan", "wrong"), "/files/a.bin",
                       refused, body));
    EXPECT_NE(refused.code(), 0);
    EXPECT_NE(refused.error().toStd().find("407"), std::string::npos) << refused.toString().toStd();
    EXPECT_EQ(m_server.requests().size(), 2u);  // nothing reached the server
}

TEST_F(ThroughProxy, Socks5WithUserAndPassword) {
    vexlan::testing::MicrosocksProxy socks("vexlan", "pw");
    RequestInfo info;
    Buffer body;
    ASSERT_TRUE(fetch(proxy(Proxy::kSocks5, socks.address(), "vexlan", "pw"), "/files/a.bin", info,
                      body))
        << info.toString().toStd();
    EXPECT_EQ(text(body), "through the proxy\n");

    RequestInfo refused;
    body.clear();
    EXPECT_FALSE(fetch(proxy(Proxy::kSocks5, socks.address(), "vexlan", "bad"), "/files/a.bin",
                       refused, body));
    EXPECT_NE(refused.code(), 0);
    EXPECT_EQ(m_server.requests().size(), 1u);
}

TEST_F(ThroughProxy, Socks4) {
    vexlan::testing::DanteSocks4Proxy socks;
    RequestInfo info;
    Buffer body;
    ASSERT_TRUE(fetch(proxy(Proxy::kSocks4, socks.address(), "", ""), "/files/a.bin", info, body))
        << info.toString().toStd();
    EXPECT_EQ(text(body), "through the proxy\n");
}

TEST_F(ThroughProxy, ADeadProxyFailsTheTransfer) {
    int port = vexlan::testing::freePort("127.0.0.3");
    RequestInfo info;
    Buffer body;
    EXPECT_FALSE(fetch(proxy(Proxy::kHttps, "127.0.0.3:" + std::to_string(port), "", ""),
                       "/files/a.bin", info, body));
    EXPECT_EQ(info.code(), 7);  // could not connect (to the proxy)
    EXPECT_TRUE(m_server.requests().empty());
}

}  // namespace
