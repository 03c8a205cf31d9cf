// The transfer's TLS minimum: against a server that offers nothing newer than TLS 1.1, in a
// process whose OpenSSL configuration would accept it, so that a refusal can only come from
// the minimum the transfer sets.
#include "http/curlwrapper.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "http/curlsession.h"
#include "servers.h"
#include "session.h"

namespace {

using tessel::Buffer;
using tessel::String;
using tessel::http::CurlSession;
using tessel::http::RequestInfo;
using vexlan::testing::HttpsServer;
using vexlan::testing::TestSession;

// Before main, so before OpenSSL reads its configuration (once per process). The servers this
// process starts inherit it too.
const bool kLowered = [] {
    std::string path = vexlan::testing::supportDirectory() + "/openssl-old-tls.cnf";
    return setenv("OPENSSL_CONF", path.c_str(), 1) == 0;
}();

size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

TEST(TlsMinimum, AServerOfferingOnlyTls11IsRefused) {
    ASSERT_TRUE(kLowered);
    HttpsServer old(true, "127.0.0.1", "1.1");
    old.addFile("a.txt", "old tls\n");

    // A bare libcurl handle of this process connects: the refusal below is the transfer's.
    CURL* bare = curl_easy_init();
    ASSERT_NE(bare, nullptr);
    std::string url = old.url("/files/a.txt");
    curl_easy_setopt(bare, CURLOPT_URL, url.c_str());
    curl_easy_setopt(bare, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(bare, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(bare, CURLOPT_WRITEFUNCTION, discard);
    CURLcode bareResult = curl_easy_perform(bare);
    curl_easy_cleanup(bare);
    if (bareResult != CURLE_OK) {
        GTEST_SKIP() << "this OpenSSL refuses TLS 1.1 whatever its configuration says ("
                     << curl_easy_strerror(bareResult) << "): the minimum cannot be shown here";
    }
    ASSERT_EQ(old.requests().size(), 1u);

    TestSession session;
    RequestInfo info;
    Buffer body;
    EXPECT_FALSE(CurlSession::requestToBuffer(&info, session, String::copy(url), body));
    EXPECT_EQ(info.code(), 35);  // CURLE_SSL_CONNECT_ERROR: no common protocol version
    EXPECT_EQ(body.length(), 0u);
    EXPECT_EQ(old.requests().size(), 1u);  // nothing was sent
}

}  // namespace
