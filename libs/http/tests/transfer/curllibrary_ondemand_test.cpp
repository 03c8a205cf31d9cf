// libcurl is loaded by the first transfer session, not at start: this executable does not link
// it, so that the test sees the program's own behaviour in its memory map.
#include "http/curllibrary.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "http/curllibrary_platform.h"
#include "http/curlsession.h"
#include "http/requestinfo.h"
#include "servers.h"
#include "session.h"

namespace {

using tessel::Buffer;
using tessel::String;
using tessel::http::CurlSession;
using tessel::http::RequestInfo;

bool mapped(const std::string& library) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("/" + library) != std::string::npos)
            return true;
    }
    return false;
}

TEST(CurlLibraryOnDemand, TheFirstTransferLoadsLibcurlAndGoesThroughIt) {
    vexlan::testing::HttpsServer server;
    ASSERT_FALSE(mapped(tessel::http::detail::kCurlLibraryName));

    // A program holds its session from the start: making it and setting it loads nothing.
    vexlan::testing::TestSession session;
    session.setUserAgent("OnDemand/1");
    EXPECT_FALSE(mapped(tessel::http::detail::kCurlLibraryName));

    RequestInfo info;
    Buffer body;
    ASSERT_TRUE(CurlSession::requestToBuffer(&info, session, String::copy(server.url("/echo")),
                                             body, "loaded=yes"));
    EXPECT_EQ(info.statusCode(), 200);
    EXPECT_NE(vexlan::testing::text(body).find("loaded=yes"), std::string::npos);
    EXPECT_NE(vexlan::testing::text(body).find("OnDemand/1"), std::string::npos);
    EXPECT_TRUE(mapped(tessel::http::detail::kCurlLibraryName));
}

TEST(CurlLibraryOnDemand, ASessionThatNeverTransfersNeverLoadsLibcurl) {
    {
        vexlan::testing::TestSession session;
        session.setTimeouts(5, 5);
        session.setGatewayAuthority("127.0.0.1:1");
    }
    EXPECT_FALSE(mapped(tessel::http::detail::kCurlLibraryName));
}

TEST(CurlLibraryOnDemand, ALibraryThatIsNotLibcurlIsRefusedWithItsReason) {
    struct Case {
        const char* library;
        const char* reason;  // a part of the error text
    };
    const Case cases[] = {
        {"libvexlan-absent.so.9", "libvexlan-absent.so.9"},
        // Present in every process, but without libcurl's functions.
        {"libc.so.6", "curl_global_init"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.library);
        tessel::http::detail::CurlFunctions functions{};
        String error;
        EXPECT_FALSE(tessel::http::detail::loadCurlFunctions(c.library, functions, error));
        EXPECT_NE(error.toStd().find(c.reason), std::string::npos) << error.toStd();
    }
    EXPECT_FALSE(mapped(tessel::http::detail::kCurlLibraryName));
}

TEST(CurlLibraryOnDemand, EveryFunctionIsFoundInLibcurl) {
    tessel::http::detail::CurlFunctions functions{};
    String error;
    ASSERT_TRUE(tessel::http::detail::loadCurlFunctions(tessel::http::detail::kCurlLibraryName,
                                                        functions, error))
        << error.toStd();
    const void* entries[] = {
        reinterpret_cast<const void*>(functions.globalInit),
        reinterpret_cast<const void*>(functions.easyInit),
        reinterpret_cast<const void*>(functions.easySetopt),
        reinterpret_cast<const void*>(functions.easyPerform),
        reinterpret_cast<const void*>(functions.easyCleanup),
        reinterpret_cast<const void*>(functions.easyStrerror),
        reinterpret_cast<const void*>(functions.shareInit),
        reinterpret_cast<const void*>(functions.shareSetopt),
        reinterpret_cast<const void*>(functions.shareCleanup),
    };
    for (const void* entry : entries)
        EXPECT_NE(entry, nullptr);
    EXPECT_STREQ(functions.easyStrerror(CURLE_OK), "No error");
}

}  // namespace
