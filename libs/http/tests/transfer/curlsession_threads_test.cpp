// One session shared by several threads: its share handle (cookies, DNS, TLS sessions) is
// used by every transfer at once while cookies are added.
#include "http/curlsession.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "http/ieproxy.h"
#include "servers.h"
#include "session.h"

namespace {

using tessel::Buffer;
using tessel::String;
using tessel::http::CurlSession;
using tessel::http::RequestInfo;

TEST(CurlSessionThreads, TransfersShareTheSessionSafely) {
    vexlan::testing::HttpsServer server;
    vexlan::testing::TestSession session;
    tessel::http::Cookie id;
    id.name = "Vexlan-Id";
    id.value = "shared";
    id.path = "/";
    id.domain = "127.0.0.1";
    session.addCookie(id);

    constexpr int kThreads = 4;
    constexpr int kTransfers = 8;
    std::atomic<int> succeeded{0}, withCookie{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kTransfers; ++i) {
                // Cookies change while other threads transfer.
                tessel::http::Cookie mine;
                mine.name = String::copy("t" + std::to_string(t));
                mine.value = String::copy(std::to_string(i));
                mine.path = "/";
                mine.domain = "127.0.0.1";
                session.addCookie(mine);
                RequestInfo info;
                Buffer body;
                if (CurlSession::requestToBuffer(&info, session, String::copy(server.url("/echo")),
                                                 body) &&
                    info.statusCode() == 200) {
                    ++succeeded;
                    if (vexlan::testing::text(body).find("Vexlan-Id=shared") != std::string::npos) {
                        ++withCookie;
                    }
                }
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(succeeded.load(), kThreads * kTransfers);
    EXPECT_EQ(withCookie.load(), kThreads * kTransfers);
}

TEST(IEProxyThreads, ScriptsAreEvaluatedConcurrently) {
    tessel::http::IEProxy::clearScriptCache();
    tessel::http::IEProxy::cacheScript(
        "http://pac.test/threads.pac",
        "function FindProxyForURL(url, host) {"
        "  return shExpMatch(host, '*.direct.test') ? 'DIRECT' : 'PROXY ' + host + ':3128'; }");
    tessel::http::SystemProxySettings settings;
    settings.proxyEnable = 0u;
    settings.autoConfigUrl = String("http://pac.test/threads.pac");
    std::atomic<int> right{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                std::string host = "h" + std::to_string(t) + "-" + std::to_string(i) + ".test";
                tessel::Proxy proxy;
                if (tessel::http::IEProxy::getIEProxy(proxy, String::copy("https://" + host + "/"),
                                                      settings) &&
                    proxy.address().toStd() == host + ":3128") {
                    ++right;
                }
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    tessel::http::IEProxy::clearScriptCache();
    EXPECT_EQ(right.load(), 80);
}

}  // namespace
