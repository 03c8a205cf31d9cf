#include "http/curlsession.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "base/exception.h"
#include "http/uri.h"
#include "sandbox.h"
#include "servers.h"
#include "session.h"

namespace {

using tessel::Buffer;
using tessel::Proxy;
using tessel::String;
using tessel::http::CurlSession;
using tessel::http::RequestInfo;
using vexlan::testing::HttpsServer;
using vexlan::testing::LogCapture;
using vexlan::testing::TestSession;
using vexlan::testing::text;

bool contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

class CurlSessionTest : public ::testing::Test {
protected:
    bool get(const std::string& path, RequestInfo& info, Buffer& body,
             const std::string& post = std::string()) {
        return CurlSession::requestToBuffer(&info, m_session, String::copy(m_server.url(path)),
                                            body, String::copy(post));
    }

    HttpsServer m_server;
    TestSession m_session;
};

TEST_F(CurlSessionTest, ChecksTheCertificateWhenTheSessionSaysSo) {
    m_server.addFile("a.txt", "hello\n");
    m_session.setVerify(true);
    LogCapture log;
    RequestInfo info;
    Buffer body;
    EXPECT_FALSE(get("/files/a.txt", info, body));
    EXPECT_EQ(info.code(), 60);  // the peer's certificate did not verify
    EXPECT_TRUE(contains(info.error().toStd(), "self-signed certificate")) << info.error().toStd();
    ASSERT_FALSE(info.text().isEmpty());
    EXPECT_EQ(info.toString().toStd(),
              "Code: 60(" + info.text().toStd() + ")\n" + info.error().toStd());
    EXPECT_TRUE(log.contains("ERROR CurlEasyWrapper.request " + info.text().toStd() + " (#60) [" +
                             info.error().toStd() + "]"));
    EXPECT_EQ(m_session.asked(), std::vector<std::string>{m_server.url("/files/a.txt")});

    m_session.setVerify(false);
    RequestInfo ok;
    EXPECT_TRUE(get("/files/a.txt", ok, body));
    EXPECT_EQ(text(body), "hello\n");
    EXPECT_EQ(ok.toString(), "Code: 0(No error)");
    EXPECT_EQ(ok.statusCode(), 200);

    // The unchecked transfer left a TLS session in the shared cache: it must not let a
    // checked transfer to the same server skip its checks.
    m_session.setVerify(true);
    RequestInfo again;
    EXPECT_FALSE(get("/files/a.txt", again, body));
    EXPECT_EQ(again.code(), 60);
}

TEST_F(CurlSessionTest, ReportsEveryHttpStatusAsACompletedTransfer) {
    for (int status : {200, 204, 404, 500}) {
        RequestInfo info;
        Buffer body;
        EXPECT_TRUE(get("/status/" + std::to_string(status), info, body)) << status;
        EXPECT_EQ(info.statusCode(), status);
        EXPECT_EQ(info.code(), 0);
    }
}

TEST_F(CurlSessionTest, SendsPostFieldsUserAgentAndCookies) {
    m_session.setUserAgent("VexlanClient 8.4.0.24 Test OS");
    tessel::http::Cookie cookie;
    cookie.name = "Vexlan-Id";
    cookie.value = "abc123";
    cookie.path = "/";
    cookie.domain = "127.0.0.1";
    m_session.addCookie(cookie);

    RequestInfo info;
    Buffer body;
    ASSERT_TRUE(get("/echo", info, body, "rulesChecked=a%20b"));
    std::string echoed = text(body);
    EXPECT_TRUE(contains(echoed, "\"method\": \"POST\"")) << echoed;
    EXPECT_TRUE(contains(echoed, "\"body\": \"rulesChecked=a%20b\"")) << echoed;
    EXPECT_TRUE(contains(echoed, "[\"User-Agent\", \"VexlanClient 8.4.0.24 Test OS\"]")) << echoed;
    EXPECT_TRUE(contains(echoed, "[\"Cookie\", \"Vexlan-Id=abc123\"]")) << echoed;

    // Without post fields the request is a GET; cookies set by a reply are shared too.
    body.clear();
    ASSERT_TRUE(get("/set-cookie?session=s1", info, body));
    body.clear();
    ASSERT_TRUE(get("/echo", info, body));
    echoed = text(body);
    EXPECT_TRUE(contains(echoed, "\"method\": \"GET\"")) << echoed;
    EXPECT_TRUE(contains(echoed, "Vexlan-Id=abc123")) << echoed;
    EXPECT_TRUE(contains(echoed, "session=s1")) << echoed;
}

TEST(CurlSessionCookie, ASecureCookieGoesOutOverHttpsOnly) {
    // 127.0.0.2: libcurl takes localhost, 127.0.0.1 and ::1 for secure origins even over
    // plain HTTP, any other address not.
    HttpsServer tls(true, "127.0.0.2");
    HttpsServer plain(false, "127.0.0.2");
    for (bool secure : {true, false}) {
        SCOPED_TRACE(secure ? "secure" : "not secure");
        TestSession session;
        session.setProtocols(tessel::http::CurlEasyWrapper::Protocols::kHttpOrHttps);
        tessel::http::Cookie cookie;
        cookie.name = "Vexlan-Id";
        cookie.value = "secret7";
        cookie.path = "/";
        cookie.domain = "127.0.0.2";
        cookie.secure = secure;
        session.addCookie(cookie);
        RequestInfo info;
        Buffer body;
        ASSERT_TRUE(
            CurlSession::requestToBuffer(&info, session, String::copy(tls.url("/echo")), body));
        EXPECT_TRUE(contains(text(body), "[\"Cookie\", \"Vexlan-Id=secret7\"]")) << text(body);
        body.clear();
        ASSERT_TRUE(
            CurlSession::requestToBuffer(&info, session, String::copy(plain.url("/echo")), body));
        EXPECT_EQ(contains(text(body), "secret7"), !secure) << text(body);
    }
}

TEST(CurlSessionIpv6, TheCookieOfABracketedLiteralReachesItsHost) {
    if (!vexlan::testing::canBindIpv6Loopback())
        GTEST_SKIP() << "::1 cannot be bound on this machine: no IPv6 loopback";
    HttpsServer server(true, "::1");
    const std::string authority = server.authority();  // "[::1]:PORT"
    ASSERT_EQ(authority.rfind("[::1]:", 0), 0u);
    // The host as the gateway request takes it, and as it was once cut at the first ":".
    const struct {
        std::string domain;
        bool sent;
    } cases[] = {
        {tessel::http::hostOf(String::copy(authority)).toStd(), true},
        {"[", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.domain);
        TestSession session;
        tessel::http::Cookie cookie;
        cookie.name = "Vexlan-Id";
        cookie.value = "v6user";
        cookie.path = "/";
        cookie.domain = String::copy(c.domain);
        cookie.secure = true;
        session.addCookie(cookie);
        RequestInfo info;
        Buffer body;
        ASSERT_TRUE(
            CurlSession::requestToBuffer(&info, session, String::copy(server.url("/echo")), body))
            << info.toString().toStd();
        EXPECT_EQ(contains(text(body), "Vexlan-Id=v6user"), c.sent) << text(body);
    }
}

TEST_F(CurlSessionTest, TheLastStatusLineWins) {
    RequestInfo info;
    Buffer body;
    ASSERT_TRUE(get("/interim?code=201", info, body));
    EXPECT_EQ(info.statusCode(), 201);
    std::string header = info.header().toString().toStd();
    EXPECT_TRUE(contains(header, "X-Final: yes")) << header;
    EXPECT_FALSE(contains(header, "100 Continue")) << header;
    EXPECT_FALSE(contains(header, "102 Processing")) << header;

    // A large POST waits for "100 Continue" before sending its body.
    std::string post(2 * 1024 * 1024, 'p');
    body.clear();
    RequestInfo posted;
    ASSERT_TRUE(get("/echo", posted, body, post));
    EXPECT_EQ(posted.statusCode(), 200);
    EXPECT_TRUE(contains(text(body), "\"body_length\": 2097152"));
    EXPECT_TRUE(contains(text(body), "[\"Expect\", \"100-continue\"]"));
}

TEST_F(CurlSessionTest, AbandonsAStalledTransferButNotASlowOne) {
    m_session.setTimeouts(30, 1);
    LogCapture log;
    RequestInfo stalled;
    Buffer body;
    EXPECT_FALSE(get("/stall?after=1", stalled, body));
    EXPECT_EQ(stalled.code(), 28);  // operation timed out
    EXPECT_EQ(body.length(), 1u);

    // One byte every 100 ms is slow but moving.
    m_session.setTimeouts(30, 2);
    RequestInfo slow;
    body.clear();
    EXPECT_TRUE(get("/trickle?chunks=15&interval=100", slow, body));
    EXPECT_EQ(body.length(), 15u);
}

TEST_F(CurlSessionTest, CapsTheBodyKeptInMemory) {
    RequestInfo info;
    Buffer body;
    std::string exact = "/large?size=" + std::to_string(CurlSession::kMaxBufferBody);
    EXPECT_TRUE(get(exact, info, body));
    EXPECT_EQ(body.length(), CurlSession::kMaxBufferBody);

    LogCapture log;
    Buffer over;
    std::string path = "/large?size=" + std::to_string(CurlSession::kMaxBufferBody + 1);
    EXPECT_FALSE(get(path, info, over));
    EXPECT_EQ(info.code(), 23);  // write error
    EXPECT_LE(over.length(), CurlSession::kMaxBufferBody);
    EXPECT_TRUE(
        log.contains("ERROR CurlSession.requestToBuffer reply body larger than 16777216 "
                     "bytes from " +
                     m_server.url(path)));
}

// A writer that fails once it has taken `limit` bytes.
class FailingWriter : public tessel::IWriter {
public:
    using IWriter::write;
    explicit FailingWriter(size_t limit) : m_limit(limit) {}
    void write(const void*, int len) override {
        if (m_taken + static_cast<size_t>(len) > m_limit)
            TESSEL_THROW(tessel::EFile);
        m_taken += static_cast<size_t>(len);
    }
    void write(const Buffer&, int) override {}
    void write(tessel::ISerialize&) override {}
    void write(const Buffer&) override {}
    void write(const String&) override {}
    void write(char) override {}
    void write(unsigned char) override {}
    void write(bool) override {}
    void write(int) override {}
    void write(short) override {}
    void write(unsigned int) override {}
    void write(unsigned short) override {}
    void reserve(int) override {}
    size_t m_taken = 0;

private:
    size_t m_limit;
};

TEST_F(CurlSessionTest, AWriterThatRaisesAbortsTheTransfer) {
    FailingWriter writer(100000);
    RequestInfo info;
    EXPECT_FALSE(CurlSession::requestToFile(
        &info, m_session, String::copy(m_server.url("/large?size=1000000")), writer));
    EXPECT_EQ(info.code(), 23);
    EXPECT_LE(writer.m_taken, 100000u);

    FailingWriter roomy(2000000);
    EXPECT_TRUE(CurlSession::requestToFile(
        nullptr, m_session, String::copy(m_server.url("/large?size=1000000")), roomy));
    EXPECT_EQ(roomy.m_taken, 1000000u);
}

TEST_F(CurlSessionTest, NoProxyMeansDirectWhateverTheEnvironmentSays) {
    // libcurl would otherwise read these itself and try the dead proxy.
    setenv("https_proxy", "http://127.0.0.1:1", 1);
    setenv("all_proxy", "http://127.0.0.1:1", 1);
    m_session.setProxy(Proxy());
    RequestInfo info;
    Buffer body;
    bool ok = get("/status/200", info, body);
    unsetenv("https_proxy");
    unsetenv("all_proxy");
    EXPECT_TRUE(ok) << info.toString().toStd();
}

TEST_F(CurlSessionTest, AnUnknownProxyTypeRaises) {
    m_session.setProxy(Proxy(7, "127.0.0.3:1"));
    LogCapture log;
    RequestInfo info;
    Buffer body;
    EXPECT_THROW(get("/status/200", info, body), tessel::Exception);
    EXPECT_TRUE(log.contains("ERROR CurlEasyWrapper.setProxy unknown proxy type"));
}

TEST(RequestInfo, TextOfAFailedConnection) {
    TestSession session;
    RequestInfo info;
    Buffer body;
    int port = vexlan::testing::freePort("127.0.0.1");
    EXPECT_FALSE(CurlSession::requestToBuffer(
        &info, session, String::copy("https://127.0.0.1:" + std::to_string(port) + "/"), body));
    EXPECT_EQ(info.code(), 7);  // could not connect
    EXPECT_EQ(info.statusCode(), 0);
    EXPECT_EQ(info.toString().toStd(),
              "Code: 7(" + info.text().toStd() + ")\n" + info.error().toStd());
}

}  // namespace
