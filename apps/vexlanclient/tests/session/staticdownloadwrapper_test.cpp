// The download delegate of plugin modules, unconfigured and over the client's session.
#include "vexlanclient/staticdownloadwrapper.h"

#include <gtest/gtest.h>

#include "base/file.h"
#include "demogateway.h"
#include "sandbox.h"
#include "vexlanclient/client.h"
#include "vexlanclient/clientcurlsession.h"

namespace vexlan {
namespace {

// gtest_discover_tests runs each test in a process of its own: this one sees no session.
TEST(StaticDownloadWrapperTest, UnconfiguredDelegateDownloadsNothing) {
    testing::TempDir dir;
    testing::LogCapture log;
    std::string target = dir.file("x");
    EXPECT_EQ(1,
              StaticDownloadWrapper::downloadFromConfig("https://127.0.0.1:1/x", target.c_str()));
    EXPECT_TRUE(
        log.contains("ERROR StaticDownloadWrapper.downloadFromConfig "
                     "StaticDownloadWrapper is not configured !"));
    EXPECT_FALSE(tessel::isFile(target.c_str()));
}

TEST(StaticDownloadWrapperTest, DownloadsThroughTheStoredSession) {
    testing::DemoGateway gateway("hostchecker");
    SharedLocalConfiguration settings;
    ClientLocalConfiguration values;
    values.certificateExceptions().push_back(tessel::String::copy(gateway.authority()));
    settings.set(values);
    VexlanClientCurlSession session(&settings);
    StaticDownloadWrapper::setSession(&session);
    testing::TempDir dir;
    std::string base = "https://" + gateway.authority();
    std::string good = dir.file("component.zip");
    std::string missing = dir.file("missing.zip");
    EXPECT_EQ(1, StaticDownloadWrapper::downloadFromConfig(
                     (base + "/components/hostchecker-2.4.1.zip").c_str(), good.c_str()));
    EXPECT_EQ("PK", testing::readFile(good).substr(0, 2));
    EXPECT_EQ(0, StaticDownloadWrapper::downloadFromConfig((base + "/components/none.zip").c_str(),
                                                           missing.c_str()));
    // A module's address of another scheme is refused before anything is written or sent.
    size_t before = gateway.requests().size();
    for (std::string url : {"http://" + gateway.authority() + "/components/hostchecker-2.4.1.zip",
                            std::string("file:///etc/passwd")}) {
        SCOPED_TRACE(url);
        std::string target = dir.file("refused");
        EXPECT_EQ(0, StaticDownloadWrapper::downloadFromConfig(url.c_str(), target.c_str()));
        EXPECT_FALSE(tessel::isFile(target.c_str()));
    }
    EXPECT_EQ(before, gateway.requests().size());
    // The session's cap holds for the delegate's downloads too.
    session.setMaxDownload(1024);
    std::string big = dir.file("big.zip");
    EXPECT_EQ(0, StaticDownloadWrapper::downloadFromConfig(
                     (base + "/components/hostchecker-2.4.1.zip").c_str(), big.c_str()));
    EXPECT_FALSE(tessel::isFile(big.c_str()));
    StaticDownloadWrapper::clearSession(&session);
}

// A plugin module may call the delegate after the client (and its session) is gone: the call
// finds no session instead of a destroyed one.
TEST(StaticDownloadWrapperTest, DestroyedClientUnhooksItsSession) {
    testing::Sandbox sandbox;
    testing::TempDir dir;
    std::string target = dir.file("x");
    {
        testing::RecordingNotify notify;
        VexlanClient client(&notify);
        StaticDownloadWrapper::setSession(&client.session());
        EXPECT_EQ(&client.session(), StaticDownloadWrapper::session());
        // Another session's unhooking leaves the client's in place.
        SharedLocalConfiguration settings;
        VexlanClientCurlSession other(&settings);
        StaticDownloadWrapper::clearSession(&other);
        EXPECT_EQ(&client.session(), StaticDownloadWrapper::session());
    }
    EXPECT_EQ(nullptr, StaticDownloadWrapper::session());
    testing::LogCapture log;
    EXPECT_EQ(1,
              StaticDownloadWrapper::downloadFromConfig("https://127.0.0.1:1/x", target.c_str()));
    EXPECT_TRUE(
        log.contains("ERROR StaticDownloadWrapper.downloadFromConfig "
                     "StaticDownloadWrapper is not configured !"));
    EXPECT_FALSE(tessel::isFile(target.c_str()));
}

}  // namespace
}  // namespace vexlan
