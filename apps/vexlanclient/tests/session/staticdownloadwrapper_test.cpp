// The download delegate of plugin modules, unconfigured and over the client's session.
#include "vexlanclient/staticdownloadwrapper.h"

#include <gtest/gtest.h>

#include "base/file.h"
#include "demogateway.h"
#include "sandbox.h"
#include "vexlanclient/clientcurlsession.h"

namespace vexlan {
namespace {

// gtest_discover_tests runs each test in a process of its own: this one sees no session.
TEST(StaticDownloadWrapperTest, UnconfiguredDelegateDownloadsNothing) {
    testing::TempDir dir;
    testing::LogCapture log;
    std::string target = dir.file("x");
    EXPECT_EQ(1, StaticDownloadWrapper::downloadFromConfig("https://127.0.0.1:1/x",
                                                           target.c_str()));
    EXPECT_TRUE(log.contains("ERROR StaticDownloadWrapper.downloadFromConfig "
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
}

}  // namespace
}  // namespace vexlan
