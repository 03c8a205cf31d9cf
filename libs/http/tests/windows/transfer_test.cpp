// Transfers of the Windows build against the Linux-side test servers on loopback (started by
// with_servers.py around this program): certificate checks with the Windows certificate store
// as trust anchors, a certificate exception, the stall time-out and the reply cap.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "http/curlsession.h"
#include "http/curlwrapper.h"
#include "http/uri.h"
#include "session.h"

namespace {

using tessel::Buffer;
using tessel::String;
using tessel::http::CurlEasyWrapper;
using tessel::http::CurlSession;
using tessel::http::RequestInfo;
using vexlan::testing::TestSession;
using vexlan::testing::text;

size_t appendBody(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Checks every certificate except those of the listed authorities, as the client's
// certificate exceptions do.
class ExceptionSession : public TestSession {
public:
    explicit ExceptionSession(std::vector<std::string> exceptions)
        : m_exceptions(std::move(exceptions)) {}
    bool verifyCertificate(const String& url) override {
        TestSession::verifyCertificate(url);
        std::string authority = tessel::http::Uri(url).getHostAndPort().toStd();
        for (const std::string& e : m_exceptions) {
            if (e == authority)
                return false;
        }
        return true;
    }

private:
    std::vector<std::string> m_exceptions;
};

// libcurl's informational lines of one transfer.
int collectText(CURL*, curl_infotype type, char* data, size_t size, void* target) {
    if (type == CURLINFO_TEXT)
        static_cast<std::string*>(target)->append(data, size);
    return 0;
}

class WindowsTransfer : public ::testing::Test {
protected:
    void SetUp() override {
        m_port = environment("VEXLAN_TEST_HTTPS_PORT");
        m_files = environment("VEXLAN_TEST_FILES");
        m_cert = environment("VEXLAN_TEST_HTTPS_CERT");
        if (m_port.empty() || m_files.empty() || m_cert.empty())
            GTEST_SKIP() << "no test server (run through with_servers.py)";
        std::ofstream(m_files + "/a.txt", std::ios::binary) << "hello from Linux\n";
    }

    std::string url(const char* host, const std::string& path) const {
        return std::string("https://") + host + ":" + m_port + path;
    }

    static bool get(CurlSession& session, const std::string& address, RequestInfo& info,
                    Buffer& body) {
        return CurlSession::requestToBuffer(&info, session, String::copy(address), body);
    }

    std::string m_port;
    std::string m_files;
    std::string m_cert;
};

// Wine's root store is built from the host's CA files and takes no certificate added at run
// time, so a server of our own cannot be made trusted here; what shows is that checked
// transfers take their trust anchors from the Windows store, and refuse a server outside it.
TEST_F(WindowsTransfer, ChecksCertificatesAgainstTheWindowsStore) {
    TestSession session;
    std::unique_ptr<CurlEasyWrapper> wrapper = session.createEasy();
    std::string trace;
    CURL* handle = static_cast<CURL*>(wrapper->handle());
    curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, &collectText);
    curl_easy_setopt(handle, CURLOPT_DEBUGDATA, &trace);
    curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L);
    wrapper->setVerify(true);
    wrapper->setProxy(tessel::Proxy());
    std::string body;
    EXPECT_FALSE(wrapper->request(String::copy(url("localhost", "/files/a.txt")), appendBody, &body,
                                  String()));
    EXPECT_EQ(wrapper->resultCode(), 60);  // the peer's certificate did not verify
    EXPECT_NE(trace.find("successfully imported Windows CA store"), std::string::npos) << trace;
    EXPECT_TRUE(body.empty());

    // The same through the session.
    session.setVerify(true);
    RequestInfo info;
    Buffer buffer;
    EXPECT_FALSE(get(session, url("localhost", "/files/a.txt"), info, buffer));
    EXPECT_EQ(info.code(), 60) << info.toString().toStd();
    EXPECT_NE(info.error().toStd().find("self-signed certificate"), std::string::npos)
        << info.error().toStd();
}

TEST_F(WindowsTransfer, UncheckedTransfersAndCertificateExceptions) {
    TestSession unchecked;
    unchecked.setVerify(false);
    RequestInfo info;
    Buffer body;
    ASSERT_TRUE(get(unchecked, url("127.0.0.1", "/files/a.txt"), info, body))
        << info.toString().toStd();
    EXPECT_EQ(text(body), "hello from Linux\n");

    // Only the authority in the exceptions goes unchecked.
    ExceptionSession session({"127.0.0.1:" + m_port});
    RequestInfo excepted;
    body.clear();
    EXPECT_TRUE(get(session, url("127.0.0.1", "/files/a.txt"), excepted, body))
        << excepted.toString().toStd();
    RequestInfo checked;
    body.clear();
    EXPECT_FALSE(get(session, url("localhost", "/files/a.txt"), checked, body));
    EXPECT_EQ(checked.code(), 60);
    EXPECT_EQ(session.asked().size(), 2u);
}

TEST_F(WindowsTransfer, AbandonsAStalledTransfer) {
    TestSession session;
    session.setTimeouts(30, 1);
    RequestInfo info;
    Buffer body;
    EXPECT_FALSE(get(session, url("127.0.0.1", "/stall?after=1"), info, body));
    EXPECT_EQ(info.code(), 28);  // operation timed out
    EXPECT_EQ(body.length(), 1u);
}

TEST_F(WindowsTransfer, CapsTheBodyKeptInMemory) {
    TestSession session;
    RequestInfo info;
    Buffer body;
    EXPECT_TRUE(get(session,
                    url("127.0.0.1", "/large?size=" + std::to_string(CurlSession::kMaxBufferBody)),
                    info, body));
    EXPECT_EQ(body.length(), CurlSession::kMaxBufferBody);

    Buffer over;
    RequestInfo refused;
    EXPECT_FALSE(get(
        session, url("127.0.0.1", "/large?size=" + std::to_string(CurlSession::kMaxBufferBody + 1)),
        refused, over));
    EXPECT_EQ(refused.code(), 23);  // write error
    EXPECT_LE(over.length(), CurlSession::kMaxBufferBody);
}

}  // namespace
