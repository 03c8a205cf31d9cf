// Transfers through real proxies: squid (HTTP CONNECT with Basic authentication), microsocks
// (SOCKS5 with user and password) and dante (SOCKS4), each started by its test; and the
// protocols a transfer may speak, against real servers and a local listener.
#include "http/curlwrapper.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <memory>
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
        << info.toString().toStd() << "\n"
        << squid.log();
    EXPECT_EQ(text(body), "through the proxy\n");
    EXPECT_EQ(info.statusCode(), 200);

    // The proxy's "200 Connection established" is not the status of the reply.
    RequestInfo missing;
    body.clear();
    ASSERT_TRUE(fetch(proxy(Proxy::kHttps, squid.address(), "vexlan", "s3cret:pass"), "/status/404",
                      missing, body));
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
    ASSERT_TRUE(
        fetch(proxy(Proxy::kSocks5, socks.address(), "vexlan", "pw"), "/files/a.bin", info, body))
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

// ---------------------------------------------------------------------------------------------
// Protocols: every transfer speaks https, or http and https for proxy scripts, and nothing
// else, also after a redirect.

namespace protocols {

using tessel::http::CurlEasyWrapper;
using vexlan::testing::Listener;

size_t toString(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

class Protocols : public ::testing::Test {
protected:
    void SetUp() override {
        m_server.addFile("a.txt", "over https\n");
        m_plain.addFile("a.txt", "in clear\n");
        // Should a transfer reach the silent listener after all, it fails in seconds.
        m_session.setTimeouts(10, 3);
    }

    // One transfer by a wrapper of the session that follows redirects (the client never asks
    // libcurl to, so this shows what a redirect could reach if it did).
    bool followRedirects(const std::string& url, std::string& body, int& code) {
        std::unique_ptr<CurlEasyWrapper> wrapper = m_session.createEasy();
        curl_easy_setopt(static_cast<CURL*>(wrapper->handle()), CURLOPT_FOLLOWLOCATION, 1L);
        wrapper->setVerify(false);
        wrapper->setProxy(Proxy());
        bool ok = wrapper->request(String::copy(url), toString, &body, String());
        code = wrapper->resultCode();
        return ok;
    }

    HttpsServer m_server;
    HttpsServer m_plain{false};
    TestSession m_session;
    Listener m_service;  // a local service that no transfer may reach
};

TEST_F(Protocols, AddressesOfOtherProtocolsNeverLeaveTheClient) {
    const std::string service = "127.0.0.1:" + std::to_string(m_service.port());
    const std::string plain = m_plain.url("/files/a.txt");
    const std::string cases[] = {
        "gopher://" + service + "/_SET%20x%201%0D%0AQUIT%0D%0A",
        "dict://" + service + "/d:x",
        "http://" + service + "/",
        plain,
        "HTTP://" + m_plain.authority() + "/files/a.txt",
        "ftp://" + service + "/x",
        "telnet://" + service + "/",
        "ldap://" + service + "/",
        "file:///etc/passwd",
        "file://localhost/etc/passwd",
        "scp://" + service + "/etc/passwd",
    };
    for (const std::string& url : cases) {
        SCOPED_TRACE(url);
        RequestInfo info;
        Buffer body;
        EXPECT_FALSE(CurlSession::requestToBuffer(&info, m_session, String::copy(url), body));
        EXPECT_EQ(info.code(), 1);  // CURLE_UNSUPPORTED_PROTOCOL
        EXPECT_EQ(body.length(), 0u);
    }
    EXPECT_FALSE(m_service.connected());
    EXPECT_TRUE(m_plain.requests().empty());

    // An address without a scheme is https, not libcurl's guess from the host name.
    RequestInfo info;
    Buffer body;
    ASSERT_TRUE(CurlSession::requestToBuffer(
        &info, m_session, String::copy(m_server.authority() + "/files/a.txt"), body))
        << info.toString().toStd();
    EXPECT_EQ(text(body), "over https\n");
}

TEST_F(Protocols, AProxyScriptSessionAlsoSpeaksHttpAndNothingElse) {
    m_session.setProtocols(CurlEasyWrapper::Protocols::kHttpOrHttps);
    RequestInfo info;
    Buffer body;
    ASSERT_TRUE(CurlSession::requestToBuffer(&info, m_session,
                                             String::copy(m_plain.url("/files/a.txt")), body))
        << info.toString().toStd();
    EXPECT_EQ(text(body), "in clear\n");
    for (const std::string& url : {"gopher://127.0.0.1:" + std::to_string(m_service.port()) + "/_x",
                                   std::string("file:///etc/passwd")}) {
        SCOPED_TRACE(url);
        Buffer refused;
        EXPECT_FALSE(CurlSession::requestToBuffer(&info, m_session, String::copy(url), refused));
        EXPECT_EQ(info.code(), 1);
    }
    EXPECT_FALSE(m_service.connected());
}

TEST_F(Protocols, ARedirectToAnotherProtocolIsRefused) {
    const std::string service = "127.0.0.1:" + std::to_string(m_service.port());
    for (const std::string& target : {m_plain.url("/files/a.txt"), "gopher://" + service + "/_x",
                                      std::string("file:///etc/passwd")}) {
        SCOPED_TRACE(target);
        std::string body;
        int code = 0;
        EXPECT_FALSE(followRedirects(m_server.url("/redirect?to=" + target), body, code));
        EXPECT_EQ(code, 1);  // CURLE_UNSUPPORTED_PROTOCOL
        EXPECT_EQ(body.find("in clear"), std::string::npos);
        EXPECT_EQ(body.find("root:"), std::string::npos);
    }
    EXPECT_TRUE(m_plain.requests().empty());
    EXPECT_FALSE(m_service.connected());

    // A redirect to https is followed.
    std::string body;
    int code = 0;
    ASSERT_TRUE(
        followRedirects(m_server.url("/redirect?to=" + m_server.url("/files/a.txt")), body, code));
    EXPECT_EQ(body, "over https\n");

    // The client's own transfers do not follow at all: the reply is the 302 itself.
    RequestInfo info;
    Buffer reply;
    ASSERT_TRUE(CurlSession::requestToBuffer(
        &info, m_session, String::copy(m_server.url("/redirect?to=" + m_plain.url("/files/a.txt"))),
        reply));
    EXPECT_EQ(info.statusCode(), 302);
    EXPECT_TRUE(m_plain.requests().empty());
}

}  // namespace protocols
